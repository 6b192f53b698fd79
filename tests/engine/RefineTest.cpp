// Refined centres on pictures whose dots are placed by hand, so that every true
// centre is known: sub-pixel centres, stray pixels, neighbours, borders, the table's
// text, and a wall of one code.

#include "refine/Refine.h"

#include "decode/CodeMatrix.h"
#include "decode/Points.h"
#include "image/Plane.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <stdexcept>
#include <vector>

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
