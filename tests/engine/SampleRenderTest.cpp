// Rendering the pictures: every dot decodes at its centre, the light levels, noise
// and vignetting, 16-bit pictures at a finer step, and pictures fixed by the seed.

#include "SampleRender.h"

#include "SampleLayout.h"
#include "SampleTestSupport.h"
#include "image/GreyMix.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::uint8_t> GreyPlane(const std::vector<std::uint8_t>& pixels, bool rgb) {
    if (!rgb)
        return pixels;
    std::vector<std::uint8_t> grey(pixels.size() / 3);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = GreyValue(pixels[3 * i], pixels[3 * i + 1], pixels[3 * i + 2]);
    return grey;
}

void ExpectRenderedStackDecodes(const TSampleOptions& options) {
    const std::vector<TSampleDot> dots = LayoutSampleDots(options);
    ASSERT_GT(dots.size(), 50u);
    std::vector<std::vector<std::uint8_t>> planes;
    for (int k = 0; k < kSamplePictureCount; ++k)
        planes.push_back(GreyPlane(RenderSamplePicture(options, dots, k), !options.Greyscale));
    ExpectDecodes(planes, options.Width, options.Height, dots, 0.25);
}

template <class TSample>
double Mean(const std::vector<TSample>& plane, int width, int col0, int row0, int size) {
    double sum = 0;
    for (int r = row0; r < row0 + size; ++r)
        for (int c = col0; c < col0 + size; ++c)
            sum += plane[std::size_t(r) * width + c];
    return sum / (size * size);
}

template <class TSample>
double Spread(const std::vector<TSample>& plane, int width, int col0, int row0, int size) {
    const double mean = Mean(plane, width, col0, row0, size);
    double sum2 = 0;
    for (int r = row0; r < row0 + size; ++r)
        for (int c = col0; c < col0 + size; ++c)
            sum2 += (plane[std::size_t(r) * width + c] - mean) *
                    (plane[std::size_t(r) * width + c] - mean);
    return std::sqrt(sum2 / (size * size));
}

} // namespace

TEST(SampleRender, EveryDotDecodesWithItsCentre) {
    TSampleOptions o = SmallOptions();
    ExpectRenderedStackDecodes(o);
    o.Greyscale = true;
    o.Seed = 7;
    ExpectRenderedStackDecodes(o);
    // A warm tint and heavier blur still leave every dot well above the threshold.
    o.Greyscale = false;
    o.Tint = {1.0, 0.8, 0.6};
    o.Blur = 2.0;
    ExpectRenderedStackDecodes(o);
}

TEST(SampleRender, LevelsNoiseAndVignetting) {
    TSampleOptions o = SmallOptions();
    o.Greyscale = true;
    const std::vector<TSampleDot> dots = LayoutSampleDots(o);
    const std::vector<std::uint8_t> dark = RenderSamplePicture(o, dots, 0);
    const std::vector<std::uint8_t> bright = RenderSamplePicture(o, dots, 1);
    ASSERT_EQ(dark.size(), std::size_t(o.Width) * o.Height);

    // The picture's centre has no vignetting.
    EXPECT_NEAR(Mean(dark, o.Width, 150, 110, 20), o.Ambient, 1.0);
    EXPECT_NEAR(Mean(bright, o.Width, 150, 110, 20), o.Ambient + o.Brightness, 2.0);
    // Corners lose Vignetting of their light.
    EXPECT_NEAR(Mean(bright, o.Width, 0, 0, 4), (o.Ambient + o.Brightness) * (1 - o.Vignetting),
                4.0);

    // Noise: the spread in a flat region matches the option.
    double sum = 0, sum2 = 0;
    int n = 0;
    for (int r = 100; r < 140; ++r)
        for (int c = 140; c < 180; ++c, ++n) {
            const double v = bright[std::size_t(r) * o.Width + c];
            sum += v;
            sum2 += v * v;
        }
    const double sigma = std::sqrt(sum2 / n - (sum / n) * (sum / n));
    EXPECT_NEAR(sigma, o.Noise, 0.5);

    // Dot 0 (code 1) is lit only in picture 2; elsewhere its pixel is at the dark level.
    const TSampleDot& d = dots[0];
    const std::size_t core = std::size_t(std::lround(d.Y)) * o.Width + std::lround(d.X);
    EXPECT_GT(RenderSamplePicture(o, dots, 2)[core], dark[core] + 150);
    EXPECT_NEAR(RenderSamplePicture(o, dots, 3)[core], dark[core], 12);
}

// A 16-bit picture is the 8-bit one's light at a finer step: reduced to 8 bits it
// rounds to the same levels, and noise of a tenth of a level shows.
TEST(SampleRender, SixteenBitPicturesKeepTheEightBitLight) {
    TSampleOptions o = SmallOptions();
    o.Width = 96;
    o.Height = 64;
    o.Spacing = 16;
    o.Format = TSampleFormat::Tiff;
    o.Depth = 16;
    const std::vector<TSampleDot> dots = LayoutSampleDots(o);
    for (int bits : {16, 12}) {
        o.SignificantBits = bits;
        const double top = SampleMaxValue(o);
        ASSERT_EQ(top, (1 << bits) - 1);
        // Rounding to a 16-bit step and to a level are each off by at most half a step.
        const double tolerance = 0.5 + 0.5 * 255 / top + 1e-3;
        for (int k : {0, 1, 2, 9}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, picture " + std::to_string(k));
            const std::vector<std::uint16_t> fine = RenderSamplePicture16(o, dots, k);
            const std::vector<std::uint8_t> coarse = RenderSamplePicture(o, dots, k);
            ASSERT_EQ(fine.size(), coarse.size());
            std::size_t offLevel = 0;
            for (std::size_t i = 0; i < fine.size(); ++i) {
                ASSERT_LE(fine[i], top) << "value " << i;
                ASSERT_NEAR(fine[i] * 255 / top, coarse[i], tolerance) << "value " << i;
                offLevel += std::fmod(fine[i] * 255 / top, 1.0) > 0.01;
            }
            EXPECT_GT(offLevel, fine.size() * 9 / 10) << "not merely the bytes scaled up";
        }
    }

    o.SignificantBits = 16;
    o.Noise = 0.1;
    o.Vignetting = 0;
    o.Greyscale = true;
    const std::vector<std::uint16_t> fine = RenderSamplePicture16(o, dots, 1);
    const std::vector<std::uint8_t> coarse = RenderSamplePicture(o, dots, 1);
    EXPECT_NEAR(Mean(fine, o.Width, 30, 20, 30), (o.Ambient + o.Brightness) * 257, 10);
    EXPECT_NEAR(Spread(fine, o.Width, 30, 20, 30), 0.1 * 257, 4);
    EXPECT_EQ(Spread(coarse, o.Width, 30, 20, 30), 0) << "less than a level vanishes in bytes";
}

// Stacks of earlier versions must stay what they were: the 8-bit light model and its
// noise are unchanged.
TEST(SampleRender, EightBitPicturesAreThoseOfEarlierVersions) {
    TSampleOptions o = SmallOptions();
    o.Width = 96;
    o.Height = 64;
    o.Spacing = 16;
    for (const auto& [grey, expected] :
         {std::pair{false, 0x6ecfe862bb62a02cull}, std::pair{true, 0xd08ebe880d4b061eull}}) {
        o.Greyscale = grey;
        const std::vector<TSampleDot> dots = LayoutSampleDots(o);
        std::uint64_t hash = 1469598103934665603ull; // FNV-1a over every picture
        for (int k = 0; k < kSamplePictureCount; ++k)
            for (std::uint8_t v : RenderSamplePicture(o, dots, k))
                hash = (hash ^ v) * 1099511628211ull;
        EXPECT_EQ(hash, expected) << (grey ? "grey" : "colour");
    }
}

TEST(SampleRender, DeterministicForASeed) {
    TSampleOptions o = SmallOptions();
    const std::vector<TSampleDot> dots = LayoutSampleDots(o);
    const std::vector<std::uint8_t> a = RenderSamplePicture(o, dots, 5);
    EXPECT_EQ(a, RenderSamplePicture(o, dots, 5));
    const std::vector<TSampleDot> again = LayoutSampleDots(o);
    ASSERT_EQ(again.size(), dots.size());
    EXPECT_EQ(again[5].X, dots[5].X);
    EXPECT_EQ(again[5].Y, dots[5].Y);
    o.Seed = 99;
    EXPECT_NE(a, RenderSamplePicture(o, dots, 5)) << "the seed drives the noise";
    EXPECT_NE(LayoutSampleDots(o)[5].X, dots[5].X) << "and the jitter";
    EXPECT_THROW(RenderSamplePicture(o, dots, 17), std::invalid_argument);
    EXPECT_THROW(RenderSamplePicture(o, dots, -1), std::invalid_argument);
}
