// Planes held in memory: read through any strides, 16-bit samples turned into plane
// values as photographs' are, and evaluated as the same stack's photographs are.

#include "input/PlaneArray.h"

#include "pipeline/Batch.h"
#include "pipeline/EvaluateInput.h"
#include "files/FileUtil.h"
#include "input/PicSet.h"
#include "input/PictureRows.h"
#include "SampleStack.h"
#include "pipeline/StreamEval.h"
#include "TestSupport.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

TPlaneArray Planes(const std::uint8_t* data, std::int32_t count, std::int32_t height,
                   std::int32_t width, int bytes, std::int64_t planeStride, std::int64_t rowStride,
                   std::int64_t columnStride, std::uint32_t maxValue) {
    TPlaneArray a;
    a.Data = data;
    a.Count = count;
    a.Height = height;
    a.Width = width;
    a.BytesPerValue = bytes;
    a.PlaneStride = planeStride;
    a.RowStride = rowStride;
    a.ColumnStride = columnStride;
    a.MaxValue = maxValue;
    return a;
}

// Planes laid out as a caller might hold them, over one block of memory.
struct THeldPlanes {
    std::vector<std::uint8_t> Memory;
    TPlaneArray Array;
};

enum class TLayout { Rows, Columns, Reversed, EveryOther };

// The planes of a whole stack's load, copied into layout.
THeldPlanes Hold(const TPics& pics, TLayout layout) {
    const std::int32_t count = pics.Count(), height = pics.Planes[0].Height,
                       width = pics.Planes[0].Width;
    THeldPlanes held;
    const std::int64_t spread = layout == TLayout::EveryOther ? 2 : 1;
    held.Memory.assign(std::size_t(count * height * width * spread), 0xAA);
    TPlaneArray& a = held.Array;
    a.Count = count;
    a.Height = height;
    a.Width = width;
    std::int64_t origin = 0;
    switch (layout) {
    case TLayout::Rows:
        a.PlaneStride = std::int64_t(height) * width, a.RowStride = width, a.ColumnStride = 1;
        break;
    case TLayout::Columns: // Fortran order
        a.PlaneStride = 1, a.RowStride = count, a.ColumnStride = std::int64_t(count) * height;
        break;
    case TLayout::Reversed: // every axis backwards
        a.PlaneStride = -std::int64_t(height) * width, a.RowStride = -width, a.ColumnStride = -1;
        origin = std::int64_t(held.Memory.size()) - 1;
        break;
    case TLayout::EveryOther:
        a.PlaneStride = 2 * std::int64_t(height) * width, a.RowStride = 2 * width,
        a.ColumnStride = 2;
        break;
    }
    for (std::int32_t p = 0; p < count; ++p)
        for (std::int32_t r = 0; r < height; ++r)
            for (std::int32_t c = 0; c < width; ++c)
                held.Memory[std::size_t(origin + p * a.PlaneStride + r * a.RowStride +
                                        c * a.ColumnStride)] =
                    pics.Planes[std::size_t(p)].Data[r][c];
    a.Data = held.Memory.data() + origin;
    return held;
}

// The points file, the marked picture and the table of an evaluation, as bytes.
struct TFiles {
    std::vector<std::uint8_t> Points, Bitmap, Table;
    bool operator==(const TFiles&) const = default;
};

TFiles Written(const TEvaluation& held, const TTempDir& dir, const std::string& name) {
    held.Write(dir / (name + ".txt"), true, held.IsRefined ? dir / (name + ".csv") : "");
    return {ReadFileBytes(dir / (name + ".txt")), ReadFileBytes(dir / (name + ".bmp")),
            held.IsRefined ? ReadFileBytes(dir / (name + ".csv")) : std::vector<std::uint8_t>{}};
}

TFiles Evaluated(TEvaluateRequest request, const TTempDir& dir, const std::string& name) {
    request.Points = dir / (name + ".txt");
    request.Table = request.Refine ? dir / (name + ".csv") : "";
    EvaluateInput(request);
    return {ReadFileBytes(dir / (name + ".txt")), ReadFileBytes(dir / (name + ".bmp")),
            request.Refine ? ReadFileBytes(dir / (name + ".csv")) : std::vector<std::uint8_t>{}};
}

TSampleOptions SmallSample() {
    TSampleOptions options;
    options.Width = 150;
    options.Height = 110;
    options.Spacing = 13;
    options.Shuffle = true;
    options.Noise = 4;
    options.Threads = 2;
    return options;
}

// The small sample in a folder of its own: its photographs, its planes loaded
// whole, and the picture set "set.bbf" saved from them.
struct TLoadedSample {
    TTempDir Dir;
    TSampleStack Sample = WriteSampleStack(Dir.path(), "s", SmallSample());
    TPicEval Eval;
    TLoadedSample() {
        TLoadOptions load;
        load.BaseFolder = Dir.path();
        if (!Eval.LoadPictures(Sample.ListFile, false, kChannelGrey, load))
            throw std::runtime_error("the sample did not load: " + Eval.Pics.LastError());
        SavePicSet(Eval.Pics, Dir / "set.bbf", true);
    }
};

// Raises EStopped at its calls after the first `after` ones; thread-safe.
struct TStopAfter {
    explicit TStopAfter(int after) : left(after) {}
    std::atomic<int> left;
    std::atomic<int> calls{0};
    std::function<void()> Check() {
        return [this] {
            ++calls;
            if (--left < 0)
                throw EStopped();
        };
    }
};

} // namespace

TEST(PlaneArray, RefusesArraysItCannotRead) {
    std::uint8_t byte = 0;
    auto refused = [&](auto change) {
        TPlaneArray a = Planes(&byte, 17, 1, 1, 1, 1, 1, 1, 255);
        change(a);
        EXPECT_THROW(a.Prepare(), std::invalid_argument);
    };
    refused([](TPlaneArray& a) { a.Count = 0; });
    refused([](TPlaneArray& a) { a.Count = 257; });
    refused([](TPlaneArray& a) { a.Height = -1; });
    refused([](TPlaneArray& a) { a.Width = 1 << 15, a.Height = 1 << 14; });
    refused([](TPlaneArray& a) { a.BytesPerValue = 4; });
    refused([](TPlaneArray& a) { a.MaxValue = 4095; }); // bytes reach 255
    refused([](TPlaneArray& a) { a.BytesPerValue = 2, a.MaxValue = 0; });
    refused([](TPlaneArray& a) { a.BytesPerValue = 2, a.MaxValue = 65536; });
    refused([](TPlaneArray& a) { a.Data = nullptr; });
    TPlaneArray empty = Planes(nullptr, 17, 0, 0, 1, 0, 0, 0, 255);
    EXPECT_NO_THROW(empty.Prepare());
}

TEST(PlaneArray, SixteenBitSamplesBecomeWhatAPhotographsWould) {
    // 12-bit samples at odd addresses, every other column.
    std::vector<std::uint8_t> memory(1 + 2 * 2 * 4096);
    for (std::uint16_t v = 0; v < 4096; ++v)
        std::memcpy(&memory[1 + 4 * std::size_t(v)], &v, 2);
    TPlaneArray a = Planes(memory.data() + 1, 1, 1, 4096, 2, 0, 0, 4, 4095);
    a.Prepare();
    EXPECT_FALSE(a.RowsInPlace());
    std::vector<std::uint8_t> row(4096);
    std::vector<std::uint16_t> deep(4096);
    a.ReadRow(0, 0, row.data());
    a.ReadDeepRow(0, 0, deep.data());
    for (std::uint32_t v = 0; v < 4096; ++v) {
        ASSERT_EQ(row[v], SampleToPlane(v, 4095)) << v;
        ASSERT_EQ(deep[v], SampleToDeep(v, 4095)) << v;
    }
    // Bytes lying next to each other are read where they lie.
    const std::uint8_t values[] = {1, 2, 3};
    const TPlaneArray bytes = Planes(values, 1, 1, 3, 1, 3, 3, 1, 255);
    EXPECT_EQ(bytes.RowInPlace(0, 0), values);
}

TEST(PlaneArray, EveryLayoutEvaluatesAsTheStacksPhotographs) {
    const TLoadedSample loaded;
    const TTempDir& dir = loaded.Dir;
    const TSampleStack& sample = loaded.Sample;
    const TPicEval& eval = loaded.Eval;
    TEvaluateRequest request;
    request.Input = sample.ListFile;
    request.Refine = true;
    for (const TSettingsRequest settings :
         {TSettingsRequest{80, 30}, TSettingsRequest{40, 12}, TSettingsRequest{}}) {
        request.Settings = settings;
        const TFiles expected = Evaluated(request, dir, "cli");
        for (const TLayout layout :
             {TLayout::Rows, TLayout::Columns, TLayout::Reversed, TLayout::EveryOther}) {
            for (const int threads : {1, 3}) {
                SCOPED_TRACE("layout " + std::to_string(int(layout)) + ", threads " +
                             std::to_string(threads) + ", mindif " +
                             (settings.MinDif ? std::to_string(*settings.MinDif) : "auto"));
                const THeldPlanes held = Hold(eval.Pics, layout);
                TEvaluateRequest planes = request;
                planes.Threads = threads;
                planes.KeepCodes = true;
                const TEvaluation result = EvaluatePlanes(held.Array, planes);
                EXPECT_EQ(Written(result, dir, "planes"), expected);
                EXPECT_TRUE(result.Sources.empty());
                EXPECT_EQ(result.Codes.Width, 150);
                EXPECT_EQ(result.Suggestion.has_value(), settings.Automatic());
            }
        }
    }
}

TEST(PlaneArray, SixteenBitPlanesAreRefinedAtFullDepth) {
    TTempDir dir;
    TSampleOptions options = SmallSample();
    options.Greyscale = true;
    options.Format = TSampleFormat::Png;
    options.Depth = 16;
    options.SignificantBits = 12;
    options.Brightness = 50; // dim dots: full depth matters to the refinement
    const TSampleStack sample = WriteSampleStack(dir.path(), "deep", options);
    std::vector<std::uint16_t> samples;
    for (int k = 0; k < kSamplePictureCount; ++k) {
        const std::vector<std::uint16_t> picture = RenderSamplePicture16(options, sample.Dots, k);
        samples.insert(samples.end(), picture.begin(), picture.end());
    }
    TEvaluateRequest request;
    request.Input = sample.ListFile;
    request.Bits = 12;
    request.Refine = true;
    const TFiles expected = Evaluated(request, dir, "cli");
    const std::int64_t pixels = std::int64_t(options.Width) * options.Height;
    const TPlaneArray planes =
        Planes(reinterpret_cast<const std::uint8_t*>(samples.data()), 17, options.Height,
               options.Width, 2, 2 * pixels, 2 * options.Width, 2, 4095);
    EXPECT_EQ(Written(EvaluatePlanes(planes, request), dir, "planes"), expected);
    // Read as 16 bits, the same samples are dimmer: other files.
    TPlaneArray sixteen = planes;
    sixteen.MaxValue = 65535;
    EXPECT_NE(Written(EvaluatePlanes(sixteen, request), dir, "planes16"), expected);
}

TEST(PlaneArray, AnArrayThatIsNoStackIsRefused) {
    std::vector<std::uint8_t> memory(16 * 4 * 4);
    EXPECT_THROW(EvaluatePlanes(Planes(memory.data(), 16, 4, 4, 1, 16, 4, 1, 255), {}),
                 EStackError);
    EXPECT_THROW(EvaluatePlanes(Planes(memory.data(), 17, 0, 4, 1, 0, 4, 1, 255), {}), EStackError);
    EXPECT_THROW(EvaluatePlanes(Planes(memory.data(), 17, 4, 4, 3, 0, 4, 1, 255), {}),
                 std::invalid_argument);
}

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
