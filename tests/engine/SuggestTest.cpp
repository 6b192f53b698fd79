#include "pipeline/Suggest.h"

#include "EvalSupport.h"
#include "SampleScore.h"
#include "SampleStack.h"
#include "StackSuite.h"
#include "TestSupport.h"
#include "input/PicSet.h"
#include "pipeline/StreamEval.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint8_t kDark = 40;
constexpr int kDotContrast = 120;

// A stack of two clearly separated contrast levels: a background of kDark with a
// deterministic noise of ±2 on pictures 0 and 2, and square dots of kDotContrast.
// Dot n lies at (6 + 10 (n / 12), 6 + 10 (n mod 12)) and carries code 2n + 1; its
// code pictures are lit at plane 2's value less litDrop, unlit at kDark + unlitRise.
void MakeSeparatedStack(TPicEval& eval, int litDrop, int unlitRise) {
    MakeStack(eval, 128, 96);
    for (std::int32_t row = 0; row < eval.Height; ++row)
        for (std::int32_t col = 0; col < eval.Width; ++col) {
            const int noise = int((row * 7 + col * 13) % 5) - 2;
            SetPlaneValue(eval.Pics.Planes[0], row, col, std::uint8_t(kDark + noise));
            SetPlaneValue(eval.Pics.Planes[2], row, col, std::uint8_t(kDark - noise));
            for (std::size_t k = 3; k <= 16; ++k)
                SetPlaneValue(eval.Pics.Planes[k], row, col, std::uint8_t(kDark + noise));
        }
    for (int n = 0; n < 96; ++n) {
        const int top = 6 + 10 * (n / 12) - 2, left = 6 + 10 * (n % 12) - 2;
        for (int row = top; row < top + 5; ++row)
            for (int col = left; col < left + 5; ++col) {
                const std::uint8_t lit = std::uint8_t(kDark + kDotContrast + (row + col) % 3);
                SetDot(eval, row, col, kDark, lit, std::uint32_t(n), std::uint8_t(lit - litDrop),
                       std::uint8_t(kDark + unlitRise));
            }
    }
}

} // namespace

TEST(SuggestSettings, LiesBetweenTheNoiseAndTheDotsAndReadsEveryCode) {
    for (const auto& [litDrop, unlitRise] : {std::pair{0, 0}, {6, 3}, {20, 15}}) {
        SCOPED_TRACE("lit values " + std::to_string(litDrop) + " below picture 2, unlit " +
                     std::to_string(unlitRise) + " above picture 0");
        TPicEval eval;
        MakeSeparatedStack(eval, litDrop, unlitRise);
        const TSuggestion s = SuggestSettings(eval);
        EXPECT_FALSE(s.NoDots);
        EXPECT_NEAR(s.Background, 0, 4);
        EXPECT_GE(s.NoiseFloor, 4); // the background reaches ±4
        EXPECT_GT(s.MinDif, s.NoiseFloor - 1);
        EXPECT_LT(s.MinDif, kDotContrast);
        EXPECT_EQ(s.LitSpread, litDrop);
        EXPECT_EQ(s.UnlitSpread, unlitRise);
        EXPECT_GT(s.Tolerance, litDrop);
        EXPECT_LE(s.Tolerance, kDotContrast - unlitRise);
        eval.SetMinDif(s.MinDif);
        eval.SetTolerance(s.Tolerance);
        eval.CalcMatrix();
        for (int n = 0; n < 96; ++n)
            EXPECT_EQ(eval.CodeMatrix.GetCode(6 + 10 * (n / 12), 6 + 10 * (n % 12)), 2 * n + 1)
                << "dot " << n;
        const TSettingsTrial trial = TrySettings(eval, s.MinDif, s.Tolerance, 1);
        EXPECT_EQ(trial.Points, 96);
        EXPECT_EQ(trial.Coverage.Typical, 96);
        EXPECT_NE(s.MinDifReason().find("mindif " + std::to_string(s.MinDif) + ": "),
                  std::string::npos);
        EXPECT_NE(s.ToleranceReason().find("tolerance " + std::to_string(s.Tolerance) + ": "),
                  std::string::npos);
    }
}

TEST(SuggestSettings, IsTheSameOnAnyNumberOfThreadsAndKeepsWhatIsGiven) {
    TPicEval eval;
    MakeSeparatedStack(eval, 5, 4);
    const TSuggestion one = SuggestSettings(eval, {}, 1);
    for (int threads : {2, 4, 7}) {
        const TSuggestion many = SuggestSettings(eval, {}, threads);
        EXPECT_EQ(many.MinDif, one.MinDif) << threads;
        EXPECT_EQ(many.Tolerance, one.Tolerance) << threads;
        EXPECT_EQ(many.MinDifReason(), one.MinDifReason()) << threads;
    }
    TSettingsRequest request;
    request.MinDif = 50;
    TSuggestion s = SuggestSettings(eval, request);
    EXPECT_EQ(s.MinDif, 50);
    EXPECT_GT(s.Tolerance, 5);
    EXPECT_LE(s.Tolerance, 50 + 1 - 4);
    request = {};
    request.Tolerance = 9;
    s = SuggestSettings(eval, request);
    EXPECT_EQ(s.Tolerance, 9);
    EXPECT_GE(s.MinDif, 9 + 4); // unlit values must stay below the threshold
}

TEST(SuggestSettings, AFlatStackOrNoStackKeepsTheDefaultsAndSaysWhy) {
    TPicEval flat;
    MakeStack(flat, 40, 30);
    for (TPic& plane : flat.Pics.Planes)
        std::fill_n(plane.Data.data(), plane.Data.size(), std::uint8_t(77));
    const TSuggestion s = SuggestSettings(flat);
    EXPECT_TRUE(s.NoDots);
    EXPECT_EQ(s.MinDif, TEvalDefaults::MinDif);
    EXPECT_EQ(s.Tolerance, TEvalDefaults::Tolerance);
    EXPECT_NE(s.MinDifReason().find("no dots"), std::string::npos) << s.MinDifReason();
    EXPECT_NE(s.ToleranceReason().find("no pixel stands out"), std::string::npos);
    EXPECT_EQ(TrySettings(flat, s.MinDif, s.Tolerance).Points, 0);

    const TSuggestion none = SuggestSettings(TPicEval{});
    EXPECT_TRUE(none.NoDots);
    EXPECT_EQ(none.MinDif, TEvalDefaults::MinDif);
    EXPECT_EQ(none.Tolerance, TEvalDefaults::Tolerance);
}

TEST(LevelCounts, ModeAndReachCountFromTheTop) {
    TLevelCounts counts;
    EXPECT_EQ(counts.Reach(0.1), 0);
    for (int v : {-255, -3, 0, 0, 0, 5, 255})
        counts.Add(v);
    EXPECT_EQ(counts.Total(), 7u);
    EXPECT_EQ(counts.Mode(), 0);
    EXPECT_EQ(counts.Reach(0), 255);     // nothing may lie above
    EXPECT_EQ(counts.Reach(1.0 / 7), 5); // one value may
    EXPECT_EQ(counts.Reach(2.0 / 7), 0);
    EXPECT_EQ(counts.Median(), 0);
    EXPECT_EQ(counts.Mode(-1), -255); // the lowest of equals below 0
}

TEST(ChooseSettings, DotsOfOneContrastDoNotPassForTheBackground) {
    // About 9000 background pixels over −8 … 8 (at most 1000 at one contrast), and
    // 1500 pixels of saturated dots, all at a contrast of 230: the background is
    // the contrast below which the noise lies, not the most frequent one.
    TSettingsCounts counts;
    for (int v = -8; v <= 8; ++v)
        for (int i = 0; i < 1000 - 110 * std::abs(v); ++i)
            counts.Contrast.Add(v);
    for (int i = 0; i < 1500; ++i) {
        counts.Contrast.Add(230);
        counts.LitBelow.Add(i % 4);
        counts.UnlitAbove.Add(i % 3);
    }
    const TSuggestion s = ChooseSettings(counts, {});
    EXPECT_FALSE(s.NoDots);
    EXPECT_EQ(s.Background, 0);
    EXPECT_GE(s.MinDif, 8);
    EXPECT_LT(s.MinDif, 230);
    EXPECT_GT(s.Tolerance, 3);
    EXPECT_LE(s.Tolerance, s.MinDif + 1 - 2);
}

TEST(Coverage, TellsTypicalTinyStrayAndOtherPoints) {
    std::vector<TRefinedPoint> points;
    auto add = [&](std::int32_t blob, std::int32_t stray, int count) {
        for (int i = 0; i < count; ++i) {
            TRefinedPoint p;
            p.BlobPixels = blob;
            p.StrayPixels = stray;
            points.push_back(p);
        }
    };
    add(80, 0, 10);  // typical
    add(100, 10, 5); // typical: strays under a quarter
    add(1, 0, 2);    // tiny
    add(2, 5, 1);    // tiny, whatever its strays
    add(90, 30, 3);  // many strays
    add(10, 0, 2);   // far smaller than typical
    add(400, 0, 1);  // far larger
    const TCoverage c = CoverageOf(points);
    EXPECT_EQ(c.Points, 24);
    EXPECT_EQ(c.Typical, 15);
    EXPECT_EQ(c.Tiny, 3);
    EXPECT_EQ(c.Stray, 3);
    EXPECT_EQ(c.Other, 3);
    EXPECT_EQ(c.SmallestTypical, 40); // half the median, 80
    EXPECT_EQ(c.LargestTypical, 160);
    EXPECT_EQ(CoverageText(c), "24 points: 15 with a main blob of typical size (40 to 160 "
                               "pixels), 3 of one or two pixels, 3 with many stray pixels, 3 "
                               "of another size");
    EXPECT_EQ(CoverageText(CoverageOf({})), "0 points");
}

namespace {

// A 320 × 240 sample stack of dots brightness above the dark picture.
TSampleOptions SmallStack(double spacing, double brightness, std::uint32_t seed) {
    TSampleOptions options = SmallStackOptions(spacing, seed);
    options.Brightness = brightness;
    return options;
}

// A dim stack: dots 40 levels above the dark picture, which the defaults lose.
class DimStack : public TStackSuite<DimStack> {
public:
    static constexpr const char* kStackName = "dim";
    static TSampleOptions StackOptions() { return SmallStack(20, 40, 11); }

protected:
    static TLoadOptions Options() {
        TLoadOptions options;
        options.BaseFolder = folder_->path();
        return options;
    }
};

} // namespace

TEST_F(DimStack, TheSuggestionFindsTheDotsTheDefaultsLose) {
    TPicEval eval;
    ASSERT_TRUE(eval.LoadList(stack_->ListFile, kChannelGrey, Options()).Usable);
    const TSuggestion s = SuggestSettings(eval);
    TrySettings(eval, s.MinDif, s.Tolerance);
    const TTruthComparison chosen = CompareWithTruth(stack_->Dots, eval.Points);
    EXPECT_EQ(chosen.Right, chosen.Dots);
    EXPECT_EQ(chosen.Wrong, 0u);
    TrySettings(eval, TEvalDefaults::MinDif, TEvalDefaults::Tolerance);
    EXPECT_EQ(CompareWithTruth(stack_->Dots, eval.Points).Right, 0u);
}

TEST(SuggestSettings, FindsLargeDenseDotsDrivenPastWhite) {
    // Their saturated cores share one contrast, 255 less the dark level, and hold
    // more pixels than any one contrast of the background.
    TSampleOptions options = SmallStack(12, 600, 30);
    options.DotRadius = 4.2;
    TTempDir folder;
    const TSampleStack stack = WriteSampleStack(folder.path(), "s", options);
    TPicEval eval;
    TLoadOptions load;
    load.BaseFolder = folder.path();
    ASSERT_TRUE(eval.LoadList(stack.ListFile, kChannelGrey, load).Usable);
    const TSuggestion s = SuggestSettings(eval);
    EXPECT_FALSE(s.NoDots) << s.MinDifReason();
    TrySettings(eval, s.MinDif, s.Tolerance);
    const TTruthComparison found = CompareWithTruth(stack.Dots, eval.Points);
    EXPECT_EQ(found.Right, found.Dots) << s.MinDifReason();
    EXPECT_EQ(found.Wrong, 0u);
}

TEST_F(DimStack, StreamedChoiceIsTheWholeStacksAndGivesItsFilesByHand) {
    TPicEval whole;
    ASSERT_TRUE(whole.LoadList(stack_->ListFile, kChannelGrey, Options()).Usable);
    const TSuggestion expected = SuggestSettings(whole);
    TTempDir out;
    SavePicSet(whole.Pics, out / "set.bbf", false);

    auto evaluate = [&](bool fromSet, std::optional<std::pair<int, int>> byHand, int threads,
                        const std::string& name) {
        TStreamEval stream;
        stream.Threads = threads;
        stream.SuggestMinDif = stream.SuggestTolerance = !byHand;
        if (byHand) {
            stream.MinDif = std::uint8_t(byHand->first);
            stream.Tolerance = std::uint8_t(byHand->second);
        }
        const std::optional<TLoadOutcome> outcome =
            fromSet ? stream.LoadSet(out / "set.bbf", out.path(), true)
                    : stream.LoadList(stack_->ListFile, kChannelGrey, Options(), true);
        EXPECT_TRUE(outcome && outcome->Usable) << name;
        if (!byHand) {
            EXPECT_TRUE(stream.Suggestion.has_value()) << name;
            EXPECT_EQ(stream.MinDif, expected.MinDif) << name;
            EXPECT_EQ(stream.Tolerance, expected.Tolerance) << name;
        }
        stream.Evaluate(out / (name + ".txt"), true, out / (name + ".csv"));
        return ReadFileText(out / (name + ".txt")) + ReadFileText(out / (name + ".csv"));
    };
    const std::pair<int, int> numbers{expected.MinDif, expected.Tolerance};
    const std::string byHand = evaluate(false, numbers, 2, "hand");
    EXPECT_EQ(evaluate(false, std::nullopt, 1, "list1"), byHand);
    EXPECT_EQ(evaluate(false, std::nullopt, 3, "list3"), byHand);
    EXPECT_EQ(evaluate(true, std::nullopt, 2, "set"), byHand);
    EXPECT_EQ(ReadFileBytes(out / "list1.bmp"), ReadFileBytes(out / "hand.bmp"));
}
