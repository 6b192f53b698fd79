// Refined centres on generated stacks: the point table of the whole run beside the
// points file and the marked picture, and the accuracy the centres reach against
// the stacks' ground truth, from 8-bit planes and at full depth.

#include "SampleScore.h"
#include "SampleStack.h"
#include "StackSuite.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "files/FileUtil.h"
#include "image/Bitmap.h"
#include "input/Pics.h"
#include "input/PictureRows.h"
#include "pipeline/Evaluator.h"
#include "refine/Refine.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class EvaluateWithTable : public TStackSuite<EvaluateWithTable> {
public:
    static constexpr const char* kStackName = "s";
    static TSampleOptions StackOptions() { return SmallStackOptions(18, 3); }

protected:
    static void Load(TPicEval& eval) {
        TLoadOptions options;
        options.BaseFolder = ExtractFilePath(stack_->ListFile);
        ASSERT_TRUE(eval.LoadPictures(stack_->ListFile, false, kChannelGrey, options));
        eval.SetTolerance(30);
    }
};

} // namespace

TEST_F(EvaluateWithTable, LeavesThePointsFileAndBitmapAsTheyAreWithout) {
    TTempDir out;
    TPicEval eval;
    Load(eval);
    TBitmap display(eval.Width, eval.Height), plainDisplay(eval.Width, eval.Height);
    eval.Evaluate(out / "plain.txt", true, plainDisplay);
    eval.Evaluate(out / "with.txt", true, display, out / "table.csv");
    EXPECT_EQ(ReadFileBytes(out / "with.txt"), ReadFileBytes(out / "plain.txt"));
    EXPECT_EQ(ReadFileBytes(out / "with.bmp"), ReadFileBytes(out / "plain.bmp"));
    const std::vector<std::string> rows = ReadTextLines(out / "table.csv");
    ASSERT_EQ(rows.size(), std::size_t(eval.Points.EntryCount) + 1);
    EXPECT_EQ(ReadFileText(out / "table.csv"),
              PointTableText(eval.Points, RefineCentres({eval.Pics.Planes[0], eval.Pics.Planes[2]},
                                                        eval.CodeMatrix, eval.Points)));
}

TEST_F(EvaluateWithTable, ATableNamedLikeAnOutputOrUnwritableFailsBeforeAnyFile) {
    TTempDir out;
    TPicEval eval;
    Load(eval);
    TBitmap display(eval.Width, eval.Height);
    for (const std::string& table : {out / "p.txt", out / "p.bmp", out.path() + "/./p.txt"}) {
        EXPECT_THROW(eval.Evaluate(out / "p.txt", true, display, table), std::invalid_argument)
            << table;
        EXPECT_TRUE(ListFolder(out.path()).empty()) << table;
    }
    try {
        eval.Evaluate(out / "p.txt", true, display, out / "missing/table.csv");
        ADD_FAILURE() << "a table in a missing folder cannot be written";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find("missing/table.csv"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(ListFolder(out.path()).empty()) << "neither the points file nor the bitmap";
}

// The figures the refined centres reach on generated 1280 × 960 stacks, against
// the plain centres on the same stacks.
TEST(RefinedAccuracy, GeneratedStacksMeetTheirFigures) {
    struct TCase {
        const char* Name;
        void (*Change)(TSampleOptions&);
        double Mean, Largest;
    };
    const TCase cases[] = {
        {"default", [](TSampleOptions&) {}, 0.015, 0.08},
        {"noise 8", [](TSampleOptions& o) { o.Noise = 8; }, 0.045, 0.20},
        {"blur 3", [](TSampleOptions& o) { o.Blur = 3; }, 0.02, 0.10},
        {"spacing 10", [](TSampleOptions& o) { o.Spacing = 10; }, 0.025, 0.10},
        {"close, shuffled, uneven, tinted",
         [](TSampleOptions& o) {
             o.Spacing = 14;
             o.Jitter = 3.5;
             o.Shuffle = true;
             o.GainSpread = 0.25;
             o.DotRadius = 3;
             o.Tint = {0.8, 1, 0.7};
             o.Quality = 75;
         },
         0.05, 0.6},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempDir dir;
        TSampleOptions options;
        c.Change(options);
        const TSampleStack stack = WriteSampleStack(dir.path(), "s", options);
        TPicEval eval;
        TLoadOptions load;
        load.BaseFolder = dir.path();
        ASSERT_TRUE(eval.LoadPictures(stack.ListFile, false, kChannelGrey, load));
        eval.SetTolerance(30);
        TBitmap display(eval.Width, eval.Height);
        eval.Evaluate(dir / "points.txt", false, display, dir / "table.csv");
        const TTableComparison t = CompareTableWithTruth(stack.Dots, dir / "table.csv");
        EXPECT_EQ(t.Refined.Found, stack.Dots.size());
        EXPECT_LE(t.Refined.MeanError, c.Mean);
        EXPECT_LE(t.Refined.MaxError, c.Largest);
        EXPECT_LE(t.Refined.MeanError, 0.45 * t.Plain.MeanError);
        EXPECT_EQ(t.Refined.Far, 0u);
    }
}

// Dim dots of a 16-bit camera span a few plane levels: weighed at full depth their
// centres come out far closer than from the 8-bit planes of the same photographs,
// while the points and the table's other columns stay those of the planes.
TEST(RefinedAccuracy, FullDepthFindsDimDotsCloserThanTheirPlanes) {
    TTempDir dir;
    TSampleOptions options = SampleOptionsOf(480, 360, 20);
    options.Format = TSampleFormat::Png;
    options.Greyscale = true;
    options.Depth = 16;
    options.Brightness = 18;
    options.Ambient = 10;
    options.Noise = 0.1;
    options.Vignetting = 0.1;
    const TSampleStack stack = WriteSampleStack(dir.path(), "dim", options);
    TPicEval eval;
    eval.SetTolerance(6);
    eval.SetMinDif(6);
    TLoadOptions load;
    load.BaseFolder = dir.path();
    load.FullDepth = TPicEval::RefinementReads;
    ASSERT_TRUE(eval.LoadList(stack.ListFile, kChannelGrey, load).Usable);
    ASSERT_NE(eval.Pics.DeepPlane(0), nullptr);
    TBitmap display(eval.Width, eval.Height);
    eval.Evaluate(dir / "points.txt", false, display, dir / "deep.csv");
    const TPics& pics = eval.Pics;
    WriteFileText(dir / "planes.csv",
                  PointTableText(eval.Points, RefineCentres({pics.Planes[0], pics.Planes[2]},
                                                            eval.CodeMatrix, eval.Points)));
    const TTableComparison deep = CompareTableWithTruth(stack.Dots, dir / "deep.csv");
    const TTableComparison planes = CompareTableWithTruth(stack.Dots, dir / "planes.csv");
    EXPECT_EQ(deep.Refined.Found, stack.Dots.size());
    EXPECT_EQ(deep.Plain.MeanError, planes.Plain.MeanError);
    EXPECT_LE(deep.Refined.MeanError, 0.6 * planes.Refined.MeanError)
        << deep.Refined.MeanError << " against " << planes.Refined.MeanError;
    EXPECT_LE(deep.Refined.MaxError, planes.Refined.MaxError);
    // Contrast stays in plane levels: the dots' peaks lie near 18 levels.
    const std::vector<std::string> rows = ReadTextLines(dir / "deep.csv");
    ASSERT_GT(rows.size(), 1u);
    int contrast = 0;
    ASSERT_EQ(std::sscanf(rows[1].c_str(),
                          "%*[^,],%*[^,],%*[^,],%*[^,],%*[^,],%*[^,],%*[^,],%*[^,],%*[^,],%d",
                          &contrast),
              1);
    EXPECT_GE(contrast, 12);
    EXPECT_LE(contrast, 20);
}
