// TIFF input: every layout, depth and compression decoded pixel for pixel against
// the samples written into it, palettes, files of several images, and the kinds
// that cannot be read, refused with the sentence each gives.

#include "PictureSupport.h"
#include "TestSupport.h"
#include "TiffWriter.h"
#include "base/Errors.h"
#include "input/PictureInput.h"
#include "input/PictureRows.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <tuple>

TEST(TiffInput, EveryLayoutDepthAndCompressionGivesTheRuleOfItsSamples) {
    TTempDir dir;
    struct TCase {
        const char* name;
        int samples, bits;
        TTiffWriteOptions options;
        TExpectation e;
    };
    auto with = [](auto change) {
        TTiffWriteOptions options;
        change(options);
        return options;
    };
    using P = TTiffPhotometric;
    using C = TTiffCompression;
    const TCase cases[] = {
        {"grey1", 1, 1, {}, {1, 1}},
        {"grey2Lzw", 1, 2, with([](auto& o) { o.Compression = C::Lzw; }), {1, 3}},
        {"grey4PackBits", 1, 4, with([](auto& o) { o.Compression = C::PackBits; }), {1, 15}},
        {"grey8Deflate", 1, 8, with([](auto& o) { o.Compression = C::Deflate; }), {1, 255}},
        {"grey12", 1, 12, {}, {1, 4095}},
        {"grey16BigEndian", 1, 16, with([](auto& o) { o.BigEndian = true; }), {1, 65535}},
        {"grey16Lzw", 1, 16, with([](auto& o) { o.Compression = C::Lzw; }), {1, 65535}},
        {"white1", 1, 1, with([](auto& o) { o.Photometric = P::MinIsWhite; }), {1, 1, true}},
        {"white8", 1, 8, with([](auto& o) { o.Photometric = P::MinIsWhite; }), {1, 255, true}},
        {"greyAlpha8", 2, 8, with([](auto& o) { o.ExtraSamples = 1; }), {1, 255}},
        {"rgb8", 3, 8, with([](auto& o) { o.Photometric = P::Rgb; }), {3, 255}},
        {"rgb16Separate",
         3,
         16,
         with([](auto& o) {
             o.Photometric = P::Rgb;
             o.PlanarSeparate = true;
             o.Compression = C::Deflate;
         }),
         {3, 65535}},
        {"rgba8Tiles",
         4,
         8,
         with([](auto& o) {
             o.Photometric = P::Rgb;
             o.ExtraSamples = 1;
             o.TileWidth = o.TileHeight = 16;
             o.Compression = C::Lzw;
         }),
         {3, 255}},
        {"rgb16SeparateTiles",
         3,
         16,
         with([](auto& o) {
             o.Photometric = P::Rgb;
             o.PlanarSeparate = true;
             o.TileWidth = o.TileHeight = 16;
             o.BigEndian = true;
         }),
         {3, 65535}},
        {"grey4Tiles", 1, 4, with([](auto& o) { o.TileWidth = o.TileHeight = 16; }), {1, 15}},
        {"greyStripsOfThreeRows", 1, 8, with([](auto& o) { o.RowsPerStrip = 3; }), {1, 255}},
        {"maxSampleValue", 1, 16, with([](auto& o) { o.MaxSampleValue = 1000; }), {1, 1000}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TRawPicture picture = PatternSamples(37, 21, c.samples, c.bits, 4);
        const std::string file = dir / (std::string(c.name) + ".tif");
        WriteTiff(file, {picture}, c.options);
        ExpectDecodes(file, picture, c.e);
        const TPictureHeader header = ReadPictureHeader(file, {});
        EXPECT_EQ(header.Format, TPictureFormat::Tiff);
        EXPECT_EQ(header.Height, 21);
        EXPECT_EQ(header.MaxValue, c.e.MaxValue);
        EXPECT_EQ(header.Deep(), c.bits > 8);
    }
}

TEST(TiffInput, PalettesMultipleImagesAndBits) {
    TTempDir dir;
    TTiffWriteOptions palette;
    palette.Photometric = TTiffPhotometric::Palette;
    for (const auto& [bits, scale, max] :
         {std::tuple{4, 257, 65535u}, std::tuple{8, 257, 65535u}, std::tuple{8, 1, 255u}}) {
        SCOPED_TRACE("palette of " + std::to_string(bits) + " bits, colours times " +
                     std::to_string(scale));
        const TRawPicture picture =
            WithPalette(PatternSamples(17, 9, 1, bits, 8), 1 << bits, std::uint16_t(scale));
        WriteTiff(dir / "palette.tif", {picture}, palette);
        TExpectation e;
        e.Palette = true;
        e.MaxValue = max;
        ExpectDecodes(dir / "palette.tif", picture, e);
        EXPECT_FALSE(ReadPictureHeader(dir / "palette.tif", {}).Deep());
    }

    // Only the first image of a file of several counts.
    const TRawPicture first = PatternSamples(12, 6, 1, 8, 9);
    WriteTiff(dir / "two.tif", {first, PatternSamples(30, 2, 1, 8, 10)});
    ExpectDecodes(dir / "two.tif", first, {});

    // Bits override 16-bit samples, MaxSampleValue included.
    TRawPicture tenBits = PatternSamples(12, 6, 1, 10, 11);
    tenBits.Bits = 16;
    TTiffWriteOptions tagged;
    tagged.MaxSampleValue = 4095;
    WriteTiff(dir / "ten.tif", {tenBits}, tagged);
    TExpectation e;
    e.MaxValue = 1023;
    ExpectDecodes(dir / "ten.tif", tenBits, e, {kChannelGrey, 10});
}

TEST(TiffInput, KindsThatCannotBeReadAreRefusedWithOneSentence) {
    TTempDir dir;
    const TCurrentDir here(dir.path());
    auto tiff = [](int samples, int bits, auto change) {
        TTiffWriteOptions options;
        change(options);
        WriteTiff("p05.tif", {PatternSamples(8, 4, samples, bits, 1)}, options);
        return ErrorOf("p05.tif");
    };
    EXPECT_EQ(tiff(1, 32, [](auto& o) { o.SampleFormat = TTiffSampleFormat::Float; }),
              "\"p05.tif\" is a 32-bit floating-point TIFF; only 1- to 16-bit unsigned "
              "pictures can be read.");
    EXPECT_EQ(tiff(1, 16, [](auto& o) { o.SampleFormat = TTiffSampleFormat::Signed; }),
              "\"p05.tif\" is a 16-bit signed TIFF; only 1- to 16-bit unsigned pictures can be "
              "read.");
    EXPECT_EQ(tiff(1, 32, [](auto&) {}),
              "\"p05.tif\" is a 32-bit TIFF; only 1- to 16-bit unsigned pictures can be read.");
    EXPECT_EQ(tiff(4, 8, [](auto& o) { o.Photometric = TTiffPhotometric::Separated; }),
              "\"p05.tif\" is a CMYK TIFF; only grey, colour and palette pictures can be read.");
    EXPECT_EQ(tiff(3, 8, [](auto& o) { o.Photometric = TTiffPhotometric::YCbCr; }),
              "\"p05.tif\" is a YCbCr TIFF; only grey, colour and palette pictures can be read.");
    EXPECT_EQ(tiff(5, 8,
                   [](auto& o) {
                       o.Photometric = TTiffPhotometric::Rgb;
                       o.ExtraSamples = 2;
                   }),
              "\"p05.tif\" has 5 samples per pixel; only pictures of 1 to 4 samples can be read.");
    // A TIFF header whose first image directory is at offset 0, in either byte order.
    WriteFileBytes("empty.tif", {'I', 'I', 42, 0, 0, 0, 0, 0});
    EXPECT_EQ(ErrorOf("empty.tif"), "\"empty.tif\" is a TIFF that holds no picture.");
    WriteFileBytes("empty.tif", {'M', 'M', 0, 42, 0, 0, 0, 0});
    EXPECT_EQ(HeaderErrorOf("empty.tif"), "\"empty.tif\" is a TIFF that holds no picture.");
    EXPECT_THROW(ReadPictureHeader("empty.tif", {}), EPictureError);
}
