// PNG and TIFF photographs: every accepted kind decoded pixel for pixel against
// the samples written into it, the rounding rule at its edges, the refusals with
// the sentence each gives, and damaged or hostile files.

#include "base/Errors.h"
#include "output/JpegWriter.h"
#include "PicHolder.h"
#include "PictureWriter.h"
#include "TestSupport.h"
#include "base/Text.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// What a decoded picture must give, from its samples and how they are read.
struct TExpectation {
    int ColourSamples = 1;
    std::uint32_t MaxValue = 255;
    bool Inverted = false;
    bool Palette = false;
};

// The colour samples of pixel i (a palette's colours for an index).
std::array<std::uint32_t, 3> Colour(const TRawPicture& picture, const TExpectation& e,
                                    std::size_t i) {
    const std::uint32_t* s = &picture.Values[i * std::size_t(picture.Samples)];
    if (e.Palette) {
        const auto& entry = picture.Palette[s[0]];
        return {entry[0], entry[1], entry[2]};
    }
    std::array<std::uint32_t, 3> colour{s[0], s[0], s[0]};
    if (e.ColourSamples == 3)
        colour = {s[0], s[1], s[2]};
    if (e.Inverted)
        for (std::uint32_t& v : colour)
            v = e.MaxValue - std::min(v, e.MaxValue);
    return colour;
}

std::uint8_t ExpectedValue(const TRawPicture& picture, const TExpectation& e, std::size_t i,
                           std::uint8_t channel) {
    const std::array<std::uint32_t, 3> c = Colour(picture, e, i);
    const bool colour = e.ColourSamples == 3 || e.Palette;
    if (!colour || channel <= kChannelBlue)
        return SampleToPlane(c[colour ? channel : 0], e.MaxValue);
    return GreyValue(SampleToPlane(c[0], e.MaxValue), SampleToPlane(c[1], e.MaxValue),
                     SampleToPlane(c[2], e.MaxValue));
}

// Decodes file for every channel and checks every value, and the full-depth values
// of the red channel; the first wrong pixel is named.
void ExpectDecodes(const std::string& file, const TRawPicture& picture, const TExpectation& e,
                   const TPictureSettings& base = {}) {
    for (std::uint8_t channel : {kChannelRed, kChannelGreen, kChannelBlue, kChannelGrey}) {
        TPictureSettings settings = base;
        settings.Channel = channel;
        TPic plane;
        TDeepPic deep;
        ASSERT_TRUE(LoadPlaneFromPicture(plane, file, settings, &deep));
        ASSERT_EQ(plane.Width, picture.Width);
        ASSERT_EQ(plane.Height, picture.Height);
        ASSERT_EQ(deep.Width, picture.Width);
        EXPECT_EQ(deep.SourceMax, e.MaxValue);
        for (std::int32_t row = 0; row < picture.Height; ++row)
            for (std::int32_t col = 0; col < picture.Width; ++col) {
                const std::size_t i = std::size_t(row) * std::size_t(picture.Width) + col;
                ASSERT_EQ(int(plane.Data[row][col]), int(ExpectedValue(picture, e, i, channel)))
                    << "channel " << int(channel) << ", row " << row << ", column " << col;
                if (channel != kChannelRed)
                    continue;
                const std::uint32_t v = Colour(picture, e, i)[0];
                ASSERT_EQ(deep.Data[row][col], SampleToDeep(v, e.MaxValue))
                    << "full depth, row " << row << ", column " << col;
            }
    }
}

std::string ErrorOf(const std::string& file, const TPictureSettings& settings = {}) {
    try {
        TPic plane;
        LoadPlaneFromPicture(plane, file, settings);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

std::string HeaderErrorOf(const std::string& file) {
    try {
        ReadPictureHeader(file, {});
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

TRawPicture WithPalette(TRawPicture picture, int entries, std::uint16_t scale) {
    for (int i = 0; i < entries; ++i)
        picture.Palette.push_back({std::uint16_t((i * 37 % 256) * scale),
                                   std::uint16_t((255 - i * 11 % 256) * scale),
                                   std::uint16_t((i * i % 256) * scale)});
    return picture;
}

// The 12-byte entry of tag in the first directory of a little-endian TIFF.
std::uint8_t* TiffEntry(std::vector<std::uint8_t>& tiff, int tag) {
    auto word = [&](std::size_t at) { return std::uint32_t(tiff[at] | tiff[at + 1] << 8); };
    const std::uint32_t directory = word(4) | word(6) << 16;
    for (std::uint32_t k = 0; k < word(directory); ++k) {
        std::uint8_t* entry = &tiff[directory + 2 + 12 * std::size_t(k)];
        if ((entry[0] | entry[1] << 8) == tag)
            return entry;
    }
    return nullptr;
}

void PutLE32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = std::uint8_t(value >> (8 * i));
}

// A little-endian Deflate TIFF of width x height 8-bit grey pixels whose strips
// of stripRows rows, or tiles of tileWidth x tileLength (when tileWidth > 0), all
// point at one and the same 16 bytes of data.
std::vector<std::uint8_t> SharedDataTiff(std::uint32_t width, std::uint32_t height,
                                         std::uint32_t stripRows, std::uint32_t tileWidth = 0,
                                         std::uint32_t tileLength = 0) {
    const bool tiled = tileWidth > 0;
    const std::uint32_t parts =
        tiled ? ((width + tileWidth - 1) / tileWidth) * ((height + tileLength - 1) / tileLength)
              : (height + stripRows - 1) / stripRows;
    std::vector<std::uint8_t> tiff{'I', 'I', 42, 0, 8, 0, 0, 0};
    auto put = [&tiff](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            tiff.push_back(std::uint8_t(value >> (8 * i)));
    };
    std::vector<std::array<std::uint32_t, 3>> entries = {
        {256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 8}, {262, 3, 1}, {277, 3, 1}};
    if (tiled)
        entries.insert(entries.end(), {{322, 4, tileWidth}, {323, 4, tileLength}});
    else
        entries.push_back({278, 4, stripRows});
    const std::uint32_t offsetsTag = tiled ? 324 : 273, countsTag = tiled ? 325 : 279;
    const std::uint32_t ifdBytes = 2 + 12 * std::uint32_t(entries.size() + 2) + 4;
    const std::uint32_t offsetsAt = 8 + ifdBytes, countsAt = offsetsAt + 4 * parts;
    const std::uint32_t dataAt = countsAt + 4 * parts;
    entries.push_back({offsetsTag, 4, parts > 1 ? offsetsAt : dataAt});
    entries.push_back({countsTag, 4, parts > 1 ? countsAt : 16});
    std::sort(entries.begin(), entries.end());
    put(std::uint32_t(entries.size()), 2);
    for (const auto& entry : entries) {
        put(entry[0], 2);
        put(entry[1], 2);
        put(entry[0] == offsetsTag || entry[0] == countsTag ? parts : 1, 4);
        put(entry[2], 4);
    }
    put(0, 4);
    for (std::uint32_t i = 0; parts > 1 && i < parts; ++i)
        put(dataAt, 4);
    for (std::uint32_t i = 0; parts > 1 && i < parts; ++i)
        put(16, 4);
    tiff.resize(tiff.size() + 16, 0x55);
    return tiff;
}

} // namespace

TEST(SampleToPlane, RoundsToNearestWithHalvesUpAtEveryStep) {
    for (std::uint32_t m : {1u, 3u, 15u, 255u, 1000u, 1023u, 4095u, 65535u}) {
        EXPECT_EQ(SampleToPlane(0, m), 0) << m;
        EXPECT_EQ(SampleToPlane(m, m), 255) << m;
        EXPECT_EQ(SampleToPlane(m + 1, m), 255) << "beyond the largest value, M " << m;
        EXPECT_EQ(SampleToDeep(0, m), 0) << m;
        EXPECT_EQ(SampleToDeep(m, m), 65535) << m;
        EXPECT_EQ(SampleToDeep(m + 1, m), 65535) << m;
        // Every value lies within half a step of v·255/M, an exact half rounded up:
        // 2M·out − 510·v lies in (−M, M].
        for (std::uint32_t v = 0; v <= m; ++v) {
            const std::int64_t twice =
                2 * std::int64_t(m) * SampleToPlane(v, m) - 510 * std::int64_t(v);
            ASSERT_TRUE(twice > -std::int64_t(m) && twice <= std::int64_t(m)) << v << " of " << m;
            const std::int64_t deep =
                2 * std::int64_t(m) * SampleToDeep(v, m) - 131070 * std::int64_t(v);
            ASSERT_TRUE(deep > -std::int64_t(m) && deep <= std::int64_t(m)) << v << " of " << m;
        }
    }
    EXPECT_EQ(SampleToPlane(100, 1000), 26) << "25.5 rounds up";
    EXPECT_EQ(SampleToPlane(1, 2), 128) << "127.5 rounds up";
    EXPECT_EQ(SampleToPlane(8, 4095), 0) << "0.498";
    EXPECT_EQ(SampleToPlane(9, 4095), 1) << "0.560";
    EXPECT_EQ(SampleToPlane(128, 257), 127) << "127.004";
    for (std::uint32_t v = 0; v <= 255; ++v) {
        ASSERT_EQ(SampleToPlane(v, 255), v) << "8-bit samples stay as they are";
        ASSERT_EQ(SampleToDeep(v, 255), 257 * v);
        ASSERT_EQ(SampleToPlane(257 * v, 65535), v) << "16-bit samples of 8-bit values";
        if (v < 255) { // the last 16-bit sample of each 8-bit step, and the first of the next
            ASSERT_EQ(SampleToPlane(257 * v + 128, 65535), v) << v;
            ASSERT_EQ(SampleToPlane(257 * v + 129, 65535), v + 1) << v;
        }
    }
}

TEST(PictureFormatOf, TellsTheFormatByTheFirstBytesOnly) {
    const std::uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const std::uint8_t intel[] = {'I', 'I', 42, 0}, motorola[] = {'M', 'M', 0, 42};
    const std::uint8_t big[] = {'I', 'I', 43, 0}, wrong[] = {'I', 'M', 42, 0};
    EXPECT_EQ(PictureFormatOf(png, sizeof png), TPictureFormat::Png);
    EXPECT_EQ(PictureFormatOf(png, 7), TPictureFormat::Jpeg) << "cut short";
    EXPECT_EQ(PictureFormatOf(intel, 4), TPictureFormat::Tiff);
    EXPECT_EQ(PictureFormatOf(motorola, 4), TPictureFormat::Tiff);
    EXPECT_EQ(PictureFormatOf(big, 4), TPictureFormat::Tiff);
    EXPECT_EQ(PictureFormatOf(wrong, 4), TPictureFormat::Jpeg);
    EXPECT_EQ(PictureFormatOf(nullptr, 0), TPictureFormat::Jpeg);

    // The name says nothing: a PNG named .jpg is a PNG, a JPEG named .png a JPEG, and
    // what is neither meets the JPEG decoder, whose message stays as it was.
    TTempDir dir;
    const TRawPicture grey = PatternSamples(9, 5, 1, 8, 1);
    WriteFileBytes(dir / "png.jpg", EncodePng(grey));
    ExpectDecodes(dir / "png.jpg", grey, {});
    WritePatternJpeg(dir / "jpeg.png", 9, 5, 3, 2);
    TPic fromJpeg, asJpeg;
    ASSERT_TRUE(LoadPlaneFromPicture(fromJpeg, dir / "jpeg.png", {}));
    ASSERT_TRUE(LoadPlaneFromJpeg(asJpeg, dir / "jpeg.png", kChannelGrey));
    EXPECT_EQ(std::memcmp(fromJpeg.Data.data(), asJpeg.Data.data(), asJpeg.Data.size()), 0);
    WriteFileText(dir / "text.png", "hello\n");
    EXPECT_NE(ErrorOf(dir / "text.png").find("Not a JPEG file"), std::string::npos);
}

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

TEST(PictureInput, KindsThatCannotBeReadAreRefusedWithOneSentence) {
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

TEST(PictureInput, DamagedFilesAreErrorsThatNameTheFile) {
    TTempDir dir;
    const TRawPicture picture = PatternSamples(64, 48, 3, 8, 12);
    TPngWriteOptions rgb;
    rgb.Colour = TPngColour::Rgb;
    const std::vector<std::uint8_t> png = EncodePng(picture, rgb);
    TTiffWriteOptions strips;
    strips.Photometric = TTiffPhotometric::Rgb;
    strips.Compression = TTiffCompression::Lzw;
    strips.RowsPerStrip = 8;
    const std::vector<std::uint8_t> tiff = EncodeTiff({picture}, strips);

    std::vector<std::uint8_t> badData = png;
    badData.at(badData.size() - 20) ^= 0x40; // inside the picture data
    std::vector<std::uint8_t> badCrc = png;
    badCrc.back() ^= 0x01; // the end chunk's checksum
    std::vector<std::uint8_t> cutPng(png.begin(), png.begin() + std::ptrdiff_t(png.size() / 2));
    std::vector<std::uint8_t> noEnd(png.begin(), png.end() - 12); // without IEND
    // A strip that lies beyond the end of the file; a directory cut off.
    std::vector<std::uint8_t> farStrip = tiff;
    std::uint8_t* offsets = TiffEntry(farStrip, 273);
    ASSERT_NE(offsets, nullptr);
    PutLE32(&farStrip[offsets[8] | offsets[9] << 8 | offsets[10] << 16], 0x7FFFFFF0);
    std::vector<std::uint8_t> cutTiff(tiff.begin(), tiff.begin() + std::ptrdiff_t(tiff.size() / 3));
    // Garbage in the middle of the LZW data: the strips decode wrong or not at all.
    std::vector<std::uint8_t> badLzw = tiff;
    for (std::size_t i = 40; i < 400 && i < badLzw.size(); ++i)
        badLzw[i] = std::uint8_t(i * 7);

    const struct {
        const char* file;
        const std::vector<std::uint8_t>& bytes;
        const char* reason;
    } cases[] = {
        {"data.png", badData, "IDAT: CRC error"},
        {"crc.png", badCrc, "IEND: CRC error"},
        {"cut.png", cutPng, "ends before"},
        {"noend.png", noEnd, "ends before"},
        {"far.tif", farStrip, "strip 0 of its picture lies beyond the end of the file"},
        {"cut.tif", cutTiff, "directory"},
        {"lzw.tif", badLzw, "Cannot decode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string file = dir / c.file;
        WriteFileBytes(file, c.bytes);
        const std::string message = ErrorOf(file);
        EXPECT_NE(message.find(QuotedName(file)), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        TPic plane;
        plane.SetSize(2, 1);
        EXPECT_THROW(LoadPlaneFromPicture(plane, file, {}), EPictureError);
        EXPECT_EQ(plane.Width, 2) << "the plane is left as it was";
    }
}

TEST(PictureInput, HugeClaimsInTinyFilesAreRefusedAtOnce) {
    TTempDir dir;
    const auto start = std::chrono::steady_clock::now();
    WriteFileBytes(dir / "huge.png", TinyPngHeader(100000, 100000));
    EXPECT_NE(HeaderErrorOf(dir / "huge.png").find("100000 x 100000"), std::string::npos);
    EXPECT_NE(ErrorOf(dir / "huge.png").find("larger than"), std::string::npos);
    // Chunks of text, a colour profile and the like that claim far more bytes than
    // the file holds: the file ends before they do, and nothing is taken into memory
    // for them first.
    for (const char* type : {"tEXt", "zTXt", "iTXt", "iCCP", "sPLT", "eXIf"}) {
        std::vector<std::uint8_t> png = TinyPngHeader(24, 16);
        std::vector<std::uint8_t> claim{0x69, 0x43, 0x43, 0x50}; // 1.7 GB
        claim.insert(claim.end(), type, type + 4);
        claim.insert(claim.end(), 20, 'x');
        png.insert(png.begin() + 33, claim.begin(), claim.end()); // after IHDR
        WriteFileBytes(dir / "claim.png", png);
        EXPECT_NE(ErrorOf(dir / "claim.png").find("the file ends before its picture does"),
                  std::string::npos)
            << type << ": " << ErrorOf(dir / "claim.png");
    }
    // Within a plane's size, but a few bytes of data can never fill it.
    WriteFileBytes(dir / "large.png", TinyPngHeader(16000, 16000));
    EXPECT_NE(ErrorOf(dir / "large.png").find("can never fill a picture of 16000 x 16000"),
              std::string::npos);

    // TIFF: a small file whose directory is changed to claim 16000 x 16000 pixels in
    // its one strip.
    TRawPicture small = PatternSamples(16, 16, 1, 8, 13);
    TTiffWriteOptions deflate;
    deflate.Compression = TTiffCompression::Deflate;
    deflate.RowsPerStrip = 16;
    std::vector<std::uint8_t> tiff = EncodeTiff({small}, deflate);
    // Little-endian: the directory's entries are 12 bytes each; width is tag 256,
    // height 257, rows per strip 278, all as SHORT or LONG values.
    for (int tag : {256, 257, 278}) {
        std::uint8_t* entry = TiffEntry(tiff, tag);
        ASSERT_NE(entry, nullptr) << tag;
        PutLE32(entry + 8, 16000); // a SHORT's value lies in the first two bytes
    }
    WriteFileBytes(dir / "large.tif", tiff);
    const std::string message = ErrorOf(dir / "large.tif");
    EXPECT_NE(message.find("too few ever to give"), std::string::npos) << message;

    // Strips that all point at one piece of data, each of which could fill its part:
    // together they stand for far more than the file could ever give.
    WriteFileBytes(dir / "shared.tif", SharedDataTiff(16384, 2048, 1));
    EXPECT_NE(ErrorOf(dir / "shared.tif").find("can never give the 33554432 bytes its strips"),
              std::string::npos)
        << ErrorOf(dir / "shared.tif");
    // Tiles far larger than their picture, whose buffers would take gigabytes.
    WriteFileBytes(dir / "tall.tif", SharedDataTiff(1024, 1, 0, 1, 4505600));
    EXPECT_NE(ErrorOf(dir / "tall.tif").find("tiles of 1 x 4505600 pixels are far larger"),
              std::string::npos)
        << ErrorOf(dir / "tall.tif");
    WriteFileBytes(dir / "wide.tif", SharedDataTiff(16, 1, 0, 67108864, 16));
    EXPECT_NE(ErrorOf(dir / "wide.tif").find("far larger than its picture of 16 x 1"),
              std::string::npos)
        << ErrorOf(dir / "wide.tif");
    // A few tiles larger than a small picture are what writers make: they decode.
    WriteFileBytes(dir / "small.tif", SharedDataTiff(40, 30, 0, 256, 256));
    EXPECT_EQ(ErrorOf(dir / "small.tif").find("far larger"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(PictureInput, ListsMixJpegPngAndTiff) {
    TTempDir dir;
    std::string list = "mixed\r\nformats\r\n";
    std::vector<TRawPicture> pictures;
    for (int k = 0; k < 17; ++k) {
        const std::string name = "p" + std::to_string(k);
        if (k % 3 == 0) {
            WritePatternJpeg(dir / (name + ".jpg"), 24, 10, 3, unsigned(k));
            list += name + ".jpg\r\n";
            pictures.emplace_back();
            continue;
        }
        pictures.push_back(PatternSamples(24, 10, 3, k % 2 == 0 ? 16 : 8, unsigned(k)));
        if (k % 3 == 1) {
            TPngWriteOptions options;
            options.Colour = TPngColour::Rgb;
            WritePng(dir / (name + ".png"), pictures.back(), options);
            list += name + ".png\r\n";
        } else {
            TTiffWriteOptions options;
            options.Photometric = TTiffPhotometric::Rgb;
            WriteTiff(dir / (name + ".tif"), {pictures.back()}, options);
            list += name + ".tif\r\n";
        }
    }
    WriteFileText(dir / "list.txt", list);
    TPicEval eval;
    TLoadOptions options;
    options.BaseFolder = dir.path() + "/";
    options.FullDepth = TPicEval::RefinementReads;
    const TLoadOutcome outcome = eval.LoadList(dir / "list.txt", kChannelGreen, options);
    ASSERT_TRUE(outcome.Usable) << outcome.Reason;
    for (int k = 0; k < 17; ++k) {
        SCOPED_TRACE("picture " + std::to_string(k));
        const TPic& plane = eval.Pics.Planes[std::size_t(k)];
        if (k % 3 == 0) {
            TPic jpeg;
            ASSERT_TRUE(
                LoadPlaneFromJpeg(jpeg, dir / ("p" + std::to_string(k) + ".jpg"), kChannelGreen));
            EXPECT_EQ(std::memcmp(jpeg.Data.data(), plane.Data.data(), jpeg.Data.size()), 0);
            continue;
        }
        const TRawPicture& picture = pictures[std::size_t(k)];
        TExpectation e;
        e.ColourSamples = 3;
        e.MaxValue = LargestSample(picture.Bits);
        for (std::size_t i = 0; i < 240; ++i)
            ASSERT_EQ(plane.Data.data()[i], ExpectedValue(picture, e, i, kChannelGreen)) << i;
    }
    // Picture 2 holds 16 bits: pictures 0 and 2 are kept at full depth, picture 0 (a
    // JPEG) as 257 times its values.
    ASSERT_NE(eval.Pics.DeepPlane(0), nullptr);
    ASSERT_NE(eval.Pics.DeepPlane(2), nullptr);
    EXPECT_EQ(eval.Pics.DeepPlane(1), nullptr);
    EXPECT_EQ(eval.Pics.DeepPlane(0)->Data.data()[5], 257 * eval.Pics.Planes[0].Data.data()[5]);
    EXPECT_EQ(eval.Pics.DeepPlane(2)->SourceMax, 65535u);
    EXPECT_EQ(eval.Pics.DeepPlane(2)->Data.data()[7],
              SampleToDeep(pictures[2].Values[7 * 3 + 1], 65535));
}
