// Refined centres on pictures whose dots are placed by hand, so that every true
// centre is known, and on generated stacks against their ground truth.

#include "refine/Refine.h"

#include "base/Errors.h"
#include "files/FileUtil.h"
#include "PicHolder.h"
#include "SampleStack.h"
#include "StackSuite.h"
#include "TestSupport.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <numbers>
#include <random>
#include <stdexcept>

namespace {

constexpr std::uint8_t kDark = 12;

// A dot's light: a Gaussian spot of the given sigma, integrated over each pixel
// (pixel (col, row) covers col ± 0.5, row ± 0.5), peak contrast above kDark.
struct TSpot {
    double X, Y;
    double Sigma = 1.6;
    double Peak = 200;
    std::int32_t Code = 1;
};

double PixelShare(double centre, double pixel, double sigma) {
    auto cdf = [&](double v) {
        return 0.5 * std::erfc(-(v - centre) / (sigma * std::numbers::sqrt2));
    };
    return cdf(pixel + 0.5) - cdf(pixel - 0.5);
}

// Planes 0 and 2 and the code matrix of a picture of spots, as the evaluator
// would give them: a pixel carries its spot's code where the contrast exceeds
// minDif; the code of the brightest spot there.
struct TScene {
    TPic Dark, Lit;
    TCode Codes;
    TUniquePoints Points;

    TScene(std::int32_t width, std::int32_t height, const std::vector<TSpot>& spots,
           int minDif = 80) {
        Dark.SetSize(width, height);
        Lit.SetSize(width, height);
        Codes.Resize(height, width);
        std::vector<double> light(std::size_t(width) * std::size_t(height), 0);
        std::vector<double> strongest(light.size(), 0);
        for (const TSpot& spot : spots) {
            const double scale = spot.Peak / std::pow(PixelShare(0, 0, spot.Sigma), 2);
            for (std::int32_t row = 0; row < height; ++row)
                for (std::int32_t col = 0; col < width; ++col) {
                    const double v = scale * PixelShare(spot.X, col, spot.Sigma) *
                                     PixelShare(spot.Y, row, spot.Sigma);
                    const std::size_t i = std::size_t(row) * std::size_t(width) + std::size_t(col);
                    light[i] += v;
                    if (v > strongest[i]) {
                        strongest[i] = v;
                        Codes.Data[row][col] = spot.Code;
                    }
                }
        }
        for (std::int32_t row = 0; row < height; ++row)
            for (std::int32_t col = 0; col < width; ++col) {
                const double v = light[std::size_t(row) * std::size_t(width) + std::size_t(col)];
                Dark.Data[row][col] = kDark;
                Lit.Data[row][col] = std::uint8_t(std::min(255.0, std::round(kDark + v)));
                if (Lit.Data[row][col] - kDark <= minDif)
                    Codes.Data[row][col] = 0;
            }
        Gather();
    }

    // The point list of the current code matrix.
    void Gather() {
        Points.Reset();
        Points.AddCodeMatrix(Codes);
        Points.Trim();
        Points.CalcCentres();
    }

    const TRefinedPoint& Of(const std::vector<TRefinedPoint>& refined, std::int32_t code) const {
        const TUniquePoints::TFound found = Points.FindCode(code);
        EXPECT_FALSE(found.Absent) << "code " << code;
        return refined.at(std::size_t(found.Index));
    }
    const TUniquePoint& Plain(std::int32_t code) const {
        return Points.Entries.at(std::size_t(Points.FindCode(code).Index));
    }

    std::vector<TRefinedPoint> Refine(int threads = 1) const {
        return RefineCentres({Dark, Lit}, Codes, Points, threads);
    }
};

// The scene turned left to right.
TScene Mirrored(const TScene& scene) {
    TScene out(0, 0, {});
    const std::int32_t width = scene.Codes.Width, height = scene.Codes.Height;
    out.Dark.SetSize(width, height);
    out.Lit.SetSize(width, height);
    out.Codes.Resize(height, width);
    for (std::int32_t row = 0; row < height; ++row)
        for (std::int32_t col = 0; col < width; ++col) {
            out.Dark.Data[row][width - 1 - col] = scene.Dark.Data[row][col];
            out.Lit.Data[row][width - 1 - col] = scene.Lit.Data[row][col];
            out.Codes.Data[row][width - 1 - col] = scene.Codes.Data[row][col];
        }
    out.Gather();
    return out;
}

double Distance(const TRefinedPoint& p, const TSpot& spot) {
    return std::hypot(p.X - spot.X, p.Y - spot.Y);
}

} // namespace

TEST(RefineCentres, FindsABlurredDotAtItsSubPixelCentreAndItsMirrorImageMirrored) {
    for (const TSpot spot : {TSpot{20.0, 18.0}, TSpot{20.5, 17.5}, TSpot{20.31, 18.77},
                             TSpot{19.83, 18.14, 2.4, 150}, TSpot{21.12, 17.61, 1.1, 240}}) {
        SCOPED_TRACE(testing::Message() << "spot at " << spot.X << ", " << spot.Y);
        const TScene scene(41, 37, {spot});
        const std::vector<TRefinedPoint> refined = scene.Refine();
        ASSERT_EQ(refined.size(), 1u);
        const TRefinedPoint& p = refined[0];
        EXPECT_LT(Distance(p, spot), 0.02);
        EXPECT_EQ(p.Flags, 0u) << RefineFlagNames(p.Flags);
        EXPECT_EQ(p.BlobPixels, scene.Plain(1).PixelCount);
        EXPECT_EQ(p.StrayPixels, 0);
        EXPECT_NEAR(p.Radius, std::sqrt(p.BlobPixels / std::numbers::pi), 1e-12);
        EXPECT_EQ(p.Contrast, *std::max_element(scene.Lit.Data.data(),
                                                scene.Lit.Data.data() + scene.Lit.Data.size()) -
                                  kDark);

        // The same picture turned left to right: the centre turns with it.
        const std::vector<TRefinedPoint> mirrored = Mirrored(scene).Refine();
        ASSERT_EQ(mirrored.size(), 1u);
        EXPECT_NEAR(mirrored[0].X, 40 - p.X, 1e-9);
        EXPECT_NEAR(mirrored[0].Y, p.Y, 1e-9);
    }
}

TEST(RefineCentres, StrayPixelsOfTheCodeAreCountedButDoNotMoveTheCentre) {
    const TSpot spot{30.4, 25.7};
    TScene scene(80, 60, {spot});
    const TUniquePoint before = scene.Plain(1);
    // Three pixels of the dot's code far away, as noise leaves them: two touching,
    // one alone, each with some light.
    for (const auto& [row, col] : {std::pair{5, 70}, {6, 71}, {50, 8}}) {
        scene.Codes.Data[row][col] = 1;
        scene.Lit.Data[row][col] = kDark + 90;
    }
    scene.Gather();
    const std::vector<TRefinedPoint> refined = scene.Refine();
    const TRefinedPoint& p = refined[0];
    EXPECT_EQ(p.BlobPixels, before.PixelCount);
    EXPECT_EQ(p.StrayPixels, 3);
    EXPECT_LT(Distance(p, spot), 0.02);
    EXPECT_GT(std::hypot(scene.Plain(1).X - spot.X, scene.Plain(1).Y - spot.Y), 1.0)
        << "the plain centre is pulled away; the refined one is not";
}

TEST(RefineCentres, DotsCloseTogetherKeepTheirOwnCentres) {
    // Two dots whose light overlaps, and one far off that nothing disturbs.
    const std::vector<TSpot> spots = {
        {20.3, 20.2, 1.5, 200, 3}, {26.1, 21.0, 1.5, 180, 5}, {50.5, 40.5, 1.5, 200, 7}};
    const TScene scene(70, 60, spots);
    const std::vector<TRefinedPoint> refined = scene.Refine();
    for (const TSpot& spot : spots) {
        const TRefinedPoint& p = scene.Of(refined, spot.Code);
        EXPECT_LT(Distance(p, spot), 0.05) << "code " << spot.Code;
        EXPECT_EQ((p.Flags & kRefineNeighbour) != 0, spot.Code != 7)
            << "code " << spot.Code << ": " << RefineFlagNames(p.Flags);
    }
}

TEST(RefineCentres, ADotWithoutACodeOfItsOwnBeyondAValleyDoesNotPullTheCentre) {
    // A dim dot that no pixel decodes (its light stays below minDif) beside a bright
    // one: its light rises again past the valley between them.
    const TSpot bright{20.4, 20.6, 1.5, 200, 9};
    const TScene scene(50, 42, {bright, {29.5, 20.5, 1.7, 78, 11}});
    ASSERT_TRUE(scene.Points.FindCode(11).Absent);
    EXPECT_LT(Distance(scene.Refine()[0], bright), 0.05);
}

TEST(RefineCentres, ADotCutByThePictureBorderIsFlagged) {
    const TSpot spot{1.2, 15.3};
    const TScene scene(30, 30, {spot});
    const std::vector<TRefinedPoint> refined = scene.Refine();
    const TRefinedPoint& p = refined[0];
    EXPECT_NE(p.Flags & kRefineBorder, 0u) << RefineFlagNames(p.Flags);
    EXPECT_EQ(p.Flags & kRefineNone, 0u);
    EXPECT_TRUE(std::isfinite(p.X) && std::isfinite(p.Y));
    EXPECT_NEAR(p.Y, spot.Y, 0.05) << "along the border the centre still holds";
}

TEST(RefineCentres, OnePixelPointsAndPointsWithoutContrastKeepThePlainCentre) {
    TScene scene(40, 30, {{20.0, 15.0, 1.5, 200, 1}});
    scene.Codes.Data[3][33] = 5; // one pixel, with light
    scene.Lit.Data[3][33] = kDark + 120;
    scene.Gather();
    std::vector<TRefinedPoint> refined = scene.Refine();
    const TRefinedPoint& single = scene.Of(refined, 5);
    EXPECT_EQ(single.Flags, std::uint32_t(kRefineNone));
    EXPECT_EQ(single.X, 33.0);
    EXPECT_EQ(single.Y, 3.0);
    EXPECT_EQ(single.BlobPixels, 1);
    EXPECT_EQ(single.Contrast, 120);

    // No contrast anywhere: the codes stand, the light is gone.
    std::fill(scene.Lit.Data.data(), scene.Lit.Data.data() + scene.Lit.Data.size(), kDark);
    refined = scene.Refine();
    for (std::int32_t code : {1, 5}) {
        const TRefinedPoint& p = scene.Of(refined, code);
        EXPECT_NE(p.Flags & kRefineNone, 0u) << code;
        EXPECT_EQ(p.X, scene.Plain(code).X);
        EXPECT_EQ(p.Y, scene.Plain(code).Y);
        EXPECT_EQ(p.Contrast, 0);
    }
}

TEST(RefineCentres, AnyNumberOfThreadsGivesTheSameTable) {
    // Many dots at random, many of them close, so that the second round has work.
    std::mt19937 random(5);
    std::uniform_real_distribution<double> x(3, 157), y(3, 117), sigma(0.8, 2.2), peak(110, 250);
    std::vector<TSpot> spots;
    for (std::int32_t n = 0; n < 90; ++n)
        spots.push_back({x(random), y(random), sigma(random), peak(random), 2 * n + 1});
    const TScene scene(160, 120, spots);
    const std::string one = PointTableText(scene.Points, scene.Refine(1));
    EXPECT_EQ(PointTableText(scene.Points, scene.Refine(2)), one);
    EXPECT_EQ(PointTableText(scene.Points, scene.Refine(4)), one);
    EXPECT_NE(one.find("neighbour"), std::string::npos);
}

TEST(RefineCentres, RefusesPlanesOfAnotherSizeAndToleratesPointsWithoutPixels) {
    TScene scene(30, 20, {{10.0, 10.0}});
    TPic small;
    small.SetSize(29, 20);
    EXPECT_THROW(RefineCentres({small, scene.Lit}, scene.Codes, scene.Points),
                 std::invalid_argument);
    EXPECT_THROW(RefineCentres({scene.Dark, small}, scene.Codes, scene.Points),
                 std::invalid_argument);

    // A point whose code the matrix no longer holds.
    scene.Points.AddPixel(99, 3, 4);
    scene.Points.CalcCentres();
    const std::vector<TRefinedPoint> refined = scene.Refine();
    const TRefinedPoint& gone = scene.Of(refined, 99);
    EXPECT_EQ(gone.Flags, std::uint32_t(kRefineNone));
    EXPECT_EQ(gone.BlobPixels, 0);
    EXPECT_EQ(gone.StrayPixels, 1);
}

TEST(PointTableText, ColumnsDecimalsAndFlags) {
    TUniquePoints points;
    points.AddPixel(7, 10, 3);
    points.AddPixel(7, 11, 4); // code 7 (dot 3) at 10.5, 3.5
    points.AddPixel(32769, 2, 2);
    points.CalcCentres();
    std::vector<TRefinedPoint> refined(2);
    refined[0] = {10.03125, -0.25, 2, 0, 201, 0.7978845608, kRefineBorder | kRefineNeighbour};
    refined[1] = {2, 2, 1, 0, 0, 0.5641895835, kRefineNone};
    EXPECT_EQ(PointTableText(points, refined),
              "code,dot,x,y,pixels,refined_x,refined_y,blob_pixels,stray_pixels,contrast,radius,"
              "flags\n"
              "7,3,10.5000,3.5000,2,10.0313,-0.2500,2,0,201,0.7979,border|neighbour\n"
              "32769,16384,2.0000,2.0000,1,2.0000,2.0000,1,0,0,0.5642,unrefined\n");
    EXPECT_EQ(PointTableText(TUniquePoints{}, {}),
              "code,dot,x,y,pixels,refined_x,refined_y,blob_pixels,stray_pixels,contrast,radius,"
              "flags\n");
    EXPECT_EQ(RefineFlagNames(0), "");
}

// ---------------------------------------------------------------------------
// The whole run: the table beside the points file and the bitmap.

namespace {

class EvaluateWithTable : public TStackSuite<EvaluateWithTable> {
public:
    static constexpr const char* kStackName = "s";
    static TSampleOptions StackOptions() {
        TSampleOptions options;
        options.Width = 320;
        options.Height = 240;
        options.Spacing = 18;
        options.Seed = 3;
        return options;
    }

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
    TSampleOptions options;
    options.Width = 480;
    options.Height = 360;
    options.Spacing = 20;
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

TEST(RefineCentres, AWallOfOneCodeIsLeftUnrefinedInBoundedTime) {
    // Every pixel of a large picture carries one code, the way a flooded or hostile
    // picture may decode: no dot, and no window as large as the picture.
    TScene scene(1200, 900, {});
    for (std::int32_t row = 0; row < 900; ++row)
        for (std::int32_t col = 0; col < 1200; ++col) {
            scene.Codes.Data[row][col] = 1;
            scene.Lit.Data[row][col] = kDark + 150;
        }
    scene.Codes.Data[450][600] = 3; // and one pixel of another code amid it
    scene.Gather();
    const std::vector<TRefinedPoint> refined = scene.Refine(2);
    const TRefinedPoint& wall = scene.Of(refined, 1);
    EXPECT_EQ(wall.Flags, std::uint32_t(kRefineNone));
    EXPECT_EQ(wall.BlobPixels, 1200 * 900 - 1);
    EXPECT_EQ(wall.X, scene.Plain(1).X);
    EXPECT_EQ(scene.Of(refined, 3).Flags, std::uint32_t(kRefineNone));
}
