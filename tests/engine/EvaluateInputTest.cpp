// The evaluations of an input: into memory as into files, a stop request at any
// point, missing files told from damaged ones, and the whole stack's load where the
// streamed one refuses a picture set.

#include "pipeline/EvaluateInput.h"

#include "EvalSupport.h"
#include "HeldSupport.h"
#include "SampleStack.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "files/FileUtil.h"
#include "image/Plane.h"
#include "input/PicSet.h"
#include "input/Pics.h"
#include "pipeline/Batch.h"
#include "pipeline/StreamEval.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

TEST(EvaluateHeld, WritesWhatEvaluateWritesForEveryInputAndLoad) {
    const TLoadedSample loaded;
    const TTempDir& dir = loaded.Dir;
    const TSampleStack& sample = loaded.Sample;
    for (const std::string& input : {sample.ListFile, dir / "set.bbf"}) {
        for (const bool fullStack : {false, true}) {
            for (const bool refine : {true, false}) {
                SCOPED_TRACE(input + (fullStack ? ", whole" : ", streamed") +
                             (refine ? ", refined" : ""));
                TEvaluateRequest request;
                request.Input = input;
                request.FullStack = fullStack;
                request.Refine = refine;
                const TFiles expected = Evaluated(request, dir, "cli");
                request.KeepCodes = true;
                const TEvaluation held = EvaluateHeld(request);
                EXPECT_EQ(Written(held, dir, "held"), expected);
                EXPECT_EQ(held.Sources.front(), input);
                EXPECT_EQ(held.Sources.size(), 18u);
                ASSERT_EQ(held.Codes.Height, 110);
                // The codes make the points.
                std::int64_t pixels = 0;
                for (std::int32_t r = 0; r < held.Codes.Height; ++r)
                    for (std::int32_t c = 0; c < held.Codes.Width; ++c)
                        pixels += held.Codes.GetCode(r, c) != 0 ? 1 : 0;
                std::int64_t counted = 0;
                for (std::int32_t i = 0; i < held.Points.EntryCount; ++i)
                    counted += held.Points.Entries[std::size_t(i)].PixelCount;
                EXPECT_EQ(pixels, counted);
            }
        }
    }
}

TEST(EvaluateHeld, WriteRefusesWhatEvaluateRefuses) {
    TTempDir dir;
    const TSampleStack sample = WriteSampleStack(dir.path(), "s", SmallSample());
    TEvaluateRequest request;
    request.Input = sample.ListFile;
    const TEvaluation plain = EvaluateHeld(request);
    EXPECT_THROW(plain.Write(dir / "p.txt", true, dir / "p.csv"), EUsageError); // not refined
    EXPECT_THROW(plain.Write(sample.Photographs[3], false, ""), EUsageError);   // an input
    EXPECT_THROW(plain.Write(dir / "p.bmp", true, ""), EUsageError);
    EXPECT_THROW(plain.Write(dir / "missing/p.txt", true, ""), EFileError);
    EXPECT_EQ(ListFolder(dir.path()).size(), 19u) << "nothing written";
}

TEST(EvaluateHeld, MissingFilesAreToldFromDamagedOnes) {
    TTempDir dir;
    const TSampleStack sample = WriteSampleStack(dir.path(), "s", SmallSample());
    EXPECT_FALSE(InputIsMissing(sample.ListFile));
    EXPECT_TRUE(InputIsMissing(dir / "none.txt"));
    WriteFileBytes(sample.Photographs[4], {0xFF, 0xD8});
    EXPECT_FALSE(InputIsMissing(sample.ListFile));
    ::unlink(sample.Photographs[4].c_str());
    EXPECT_TRUE(InputIsMissing(sample.ListFile));
    TEvaluateRequest request;
    request.Input = sample.ListFile;
    EXPECT_THROW(EvaluateHeld(request), EStackError);
}

TEST(EvaluateHeld, AStopRequestEndsEveryKindOfLoadAndWritesNothing) {
    const TLoadedSample loaded;
    const TTempDir& dir = loaded.Dir;
    const TSampleStack& sample = loaded.Sample;
    const TPicEval& eval = loaded.Eval;
    const THeldPlanes held = Hold(eval.Pics, TLayout::Rows);
    const std::size_t files = ListFolder(dir.path()).size();
    for (const int after : {0, 5, 40}) {
        for (const int kind : {0, 1, 2, 3}) {
            SCOPED_TRACE("kind " + std::to_string(kind) + ", after " + std::to_string(after));
            TStopAfter stop(after);
            TEvaluateRequest request;
            request.Input = kind == 1 ? dir / "set.bbf" : sample.ListFile;
            request.FullStack = kind == 2;
            request.Refine = true;
            request.Threads = 2;
            request.CheckStop = stop.Check();
            if (kind == 3)
                EXPECT_THROW(EvaluatePlanes(held.Array, request), EStopped);
            else
                EXPECT_THROW(EvaluateHeld(request), EStopped);
            EXPECT_GT(stop.calls, after);
        }
    }
    // Checks are cheap and frequent enough: a run that is never stopped makes many.
    TStopAfter never(1 << 30);
    TEvaluateRequest request;
    request.Input = sample.ListFile;
    request.Refine = true;
    request.CheckStop = never.Check();
    EvaluateHeld(request);
    EXPECT_GT(never.calls, 40);
    EXPECT_EQ(ListFolder(dir.path()).size(), files);
}

TEST(EvaluateHeld, AStoppedBatchKeepsItsFinishedPosesAndNoCombinedFile) {
    TTempDir dir;
    std::vector<std::string> inputs;
    for (const char* name : {"a", "b", "c"})
        inputs.push_back(WriteSampleStack(dir.path(), name, SmallSample()).ListFile);
    TBatchRequest batch;
    batch.Inputs = inputs;
    batch.OutFolder = dir / "out";
    batch.PosesInFlight = 1;
    TStopAfter stop(1 << 30);
    batch.Pose.CheckStop = stop.Check();
    RunBatch(batch); // counts the checks of three poses
    const int checks = stop.calls;
    batch.OutFolder = dir / "stopped";
    TStopAfter midway(checks / 2);
    batch.Pose.CheckStop = midway.Check();
    EXPECT_THROW(RunBatch(batch), EStopped);
    for (const std::string& name : ListFolder(dir / "stopped"))
        EXPECT_TRUE(name.starts_with("a.") || name.starts_with("b.")) << name;
    EXPECT_FALSE(FileExists(dir / "stopped/summary.csv"));
}

namespace {

// A dot drawn on every plane of a stack as a rectangle of pixels (see SetDot): its
// code is 2 · bits + 1.
struct TDrawnDot {
    std::int32_t Row, Col, Width, Height;
    std::uint32_t Bits;
};

// A narrow stack of height rows with the dots drawn, saved as the picture set name.
std::string TallSet(const TTempDir& dir, const std::string& name, std::int32_t height,
                    const std::vector<TDrawnDot>& dots) {
    TPicEval eval;
    MakeStack(eval, 4, height);
    for (const TDrawnDot& dot : dots)
        for (std::int32_t r = dot.Row; r < dot.Row + dot.Height; ++r)
            for (std::int32_t c = dot.Col; c < dot.Col + dot.Width; ++c)
                SetDot(eval, r, c, 10, 200, dot.Bits, 200, 5);
    SavePicSet(eval.Pics, dir / (name + ".bbf"), true);
    return dir / (name + ".bbf");
}

} // namespace

// The streamed load folds a set's planes a stretch of columns at a time and takes
// sets of at most 65536 rows; a taller one is loaded whole, to the same files.
TEST(EvaluateInput, APictureSetTooTallToStreamIsEvaluatedWhole) {
    TTempDir dir;
    // Dots at the top, around row 65536, and at the bottom.
    const std::vector<TDrawnDot> dots{{0, 0, 2, 2, 1},
                                      {40000, 1, 2, 3, 2},
                                      {65535, 0, 1, 3, 4},
                                      {69997, 2, 2, 3, 5},
                                      {69000, 3, 1, 1, 6}};
    const std::string tall = TallSet(dir, "tall", 70000, dots);
    const std::string highest = TallSet(dir, "highest", 65536, {});
    EXPECT_TRUE(TStreamEval().LoadSet(highest, dir.path(), true)) << "65536 rows stream";
    EXPECT_FALSE(TStreamEval().LoadSet(tall, dir.path(), true)) << "70000 rows do not";

    TEvaluateRequest request;
    request.Input = tall;
    request.Refine = true;
    const TFiles files = Evaluated(request, dir, "tall");
    request.FullStack = true;
    EXPECT_EQ(Evaluated(request, dir, "whole"), files);
    // The points the stack was drawn with, in the order of the column-by-column scan.
    EXPECT_EQ(std::string(files.Points.begin(), files.Points.end()), "3 0.50 0.50 4\r\n"
                                                                     "9 0.00 65536.00 3\r\n"
                                                                     "5 1.50 40001.00 6\r\n"
                                                                     "11 2.50 69998.00 6\r\n"
                                                                     "13 3.00 69000.00 1\r\n");
    EXPECT_EQ(files.Bitmap.size(), 54u + 70000u * 12u);
    EXPECT_EQ(ReadTextLines(dir / "tall.csv").size(), dots.size() + 1);

    // The same planes in memory stream, without a limit on their height.
    TPics pics;
    ASSERT_TRUE(LoadPicSet(pics, tall, dir.path()));
    const THeldPlanes held = Hold(pics, TLayout::Rows);
    request.FullStack = false;
    EXPECT_EQ(Written(EvaluatePlanes(held.Array, request), dir, "planes"), files);

    request.Points = dir / "result.txt";
    request.Table = dir / "result.csv";
    const TEvaluateResult result = EvaluateInput(request);
    EXPECT_EQ(result.Width, 4);
    EXPECT_EQ(result.Height, 70000);
    EXPECT_EQ(result.Points, std::int32_t(dots.size()));
    EXPECT_EQ(result.Sources.size(), 18u);
}
