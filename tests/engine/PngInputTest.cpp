// PNG input: every colour type and depth decoded pixel for pixel against the
// samples written into it, and the largest value of 16-bit samples.

#include "PictureSupport.h"
#include "PngWriter.h"
#include "TestSupport.h"
#include "input/PictureInput.h"
#include "input/PictureRows.h"

#include <gtest/gtest.h>
#include <string>

TEST(PngInput, EveryColourTypeAndDepthGivesTheRuleOfItsSamples) {
    TTempDir dir;
    const struct {
        const char* name;
        TPngColour colour;
        int samples, bits;
        bool interlaced;
    } cases[] = {
        {"grey1", TPngColour::Grey, 1, 1, false},
        {"grey2", TPngColour::Grey, 1, 2, false},
        {"grey4", TPngColour::Grey, 1, 4, false},
        {"grey8", TPngColour::Grey, 1, 8, false},
        {"grey16", TPngColour::Grey, 1, 16, false},
        {"greyA8", TPngColour::GreyAlpha, 2, 8, false},
        {"greyA16", TPngColour::GreyAlpha, 2, 16, false},
        {"rgb8", TPngColour::Rgb, 3, 8, false},
        {"rgb16", TPngColour::Rgb, 3, 16, false},
        {"rgba8", TPngColour::Rgba, 4, 8, false},
        {"rgba16", TPngColour::Rgba, 4, 16, false},
        {"palette1", TPngColour::Palette, 1, 1, false},
        {"palette2", TPngColour::Palette, 1, 2, false},
        {"palette4", TPngColour::Palette, 1, 4, false},
        {"palette8", TPngColour::Palette, 1, 8, false},
        {"interlacedRgb16", TPngColour::Rgb, 3, 16, true},
        {"interlacedGrey2", TPngColour::Grey, 1, 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TRawPicture picture = PatternSamples(19, 7, c.samples, c.bits, 3);
        TExpectation e;
        e.ColourSamples = c.colour == TPngColour::Rgb || c.colour == TPngColour::Rgba ? 3 : 1;
        e.MaxValue = LargestSample(c.bits);
        if (c.colour == TPngColour::Palette) {
            picture = WithPalette(picture, 1 << c.bits, 1);
            e.Palette = true;
            e.MaxValue = 255;
        }
        const std::string file = dir / (std::string(c.name) + ".png");
        TPngWriteOptions options;
        options.Colour = c.colour;
        options.Interlaced = c.interlaced;
        WritePng(file, picture, options);
        ExpectDecodes(file, picture, e);
        const TPictureHeader header = ReadPictureHeader(file, {});
        EXPECT_EQ(header.Format, TPictureFormat::Png);
        EXPECT_EQ(header.Width, 19);
        EXPECT_EQ(header.Components, e.ColourSamples == 3 || e.Palette ? 3 : 1);
        EXPECT_EQ(header.Deep(), c.bits == 16);
    }
}

TEST(PngInput, BitsGiveTheLargestValueOfSixteenBitSamplesOnly) {
    TTempDir dir;
    // Twelve significant bits stored unscaled, and a few values beyond them.
    TRawPicture picture = PatternSamples(23, 4, 1, 12, 5);
    picture.Bits = 16;
    picture.Values[1] = 5000;
    WritePng(dir / "twelve.png", picture);
    TExpectation e;
    e.MaxValue = 4095;
    ExpectDecodes(dir / "twelve.png", picture, e, {kChannelGrey, 12});
    EXPECT_EQ(ReadPictureHeader(dir / "twelve.png", {kChannelGrey, 12}).MaxValue, 4095u);
    e.MaxValue = 65535;
    ExpectDecodes(dir / "twelve.png", picture, e);

    const TRawPicture eight = PatternSamples(23, 4, 1, 8, 6);
    WritePng(dir / "eight.png", eight);
    ExpectDecodes(dir / "eight.png", eight, {}, {kChannelGrey, 12}); // not a 16-bit picture
}
