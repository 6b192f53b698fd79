// The TIFF writer: every kind of picture reads back with its values and tags,
// multi-image files and rows made in bands, and what does not fit is refused
// without leaving a file.

#include "TiffWriter.h"

#include "PictureReadBack.h"
#include "TestSupport.h"
#include "base/Errors.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <tiffio.h>
#include <vector>

TEST(TiffWriter, EveryKindReadsBackWithItsValuesAndTags) {
    using P = TTiffPhotometric;
    using C = TTiffCompression;
    using F = TTiffSampleFormat;
    using O = TTiffWriteOptions;
    struct TCase {
        const char* Name;
        int Samples, Bits;
        void (*Change)(TTiffWriteOptions&); // from the default options
    };
    const TCase cases[] = {
        {"grey 1 bit", 1, 1, [](O&) {}},
        {"grey 2 bits packbits", 1, 2, [](O& o) { o.Compression = C::PackBits; }},
        {"min-is-white 4 bits", 1, 4, [](O& o) { o.Photometric = P::MinIsWhite; }},
        {"grey 8 bits lzw", 1, 8, [](O& o) { o.Compression = C::Lzw; }},
        {"grey 12 bits big-endian", 1, 12, [](O& o) { o.BigEndian = true; }},
        {"grey 16 bits big-endian deflate", 1, 16,
         [](O& o) { o.BigEndian = true, o.Compression = C::Deflate; }},
        {"grey 24 bits big-endian", 1, 24, [](O& o) { o.BigEndian = true; }},
        {"grey 32 bits", 1, 32, [](O&) {}},
        {"signed 16 bits", 1, 16, [](O& o) { o.SampleFormat = F::Signed, o.Compression = C::Lzw; }},
        {"float big-endian", 1, 32, [](O& o) { o.SampleFormat = F::Float, o.BigEndian = true; }},
        {"grey and alpha", 2, 8, [](O& o) { o.ExtraSamples = 1; }},
        {"rgb 8 bits in strips of 3 rows", 3, 8,
         [](O& o) { o.Photometric = P::Rgb, o.Compression = C::Lzw, o.RowsPerStrip = 3; }},
        {"rgb 16 bits separate planes", 3, 16,
         [](O& o) {
             o.Photometric = P::Rgb, o.Compression = C::PackBits, o.BigEndian = true;
             o.PlanarSeparate = true;
         }},
        {"rgba 16 bits tiled big-endian", 4, 16,
         [](O& o) {
             o.Photometric = P::Rgb, o.ExtraSamples = 1, o.BigEndian = true;
             o.Compression = C::Deflate, o.TileWidth = 16, o.TileHeight = 32;
         }},
        {"rgb 12 bits tiled separate planes", 3, 12,
         [](O& o) {
             o.Photometric = P::Rgb, o.Compression = C::Lzw, o.PlanarSeparate = true;
             o.TileWidth = o.TileHeight = 16;
         }},
        {"cmyk", 4, 8, [](O& o) { o.Photometric = P::Separated; }},
        {"cmyk and alpha: 5 samples in planes", 5, 8,
         [](O& o) { o.Photometric = P::Separated, o.ExtraSamples = 1, o.PlanarSeparate = true; }},
        {"ycbcr", 3, 8, [](O& o) { o.Photometric = P::YCbCr; }},
        {"palette 4 bits", 1, 4, [](O& o) { o.Photometric = P::Palette; }},
        {"palette 8 bits, short map", 1, 8,
         [](O& o) { o.Photometric = P::Palette, o.Compression = C::PackBits; }},
        {"12 bits in 16 with MaxSampleValue", 1, 16, [](O& o) { o.MaxSampleValue = 4095; }},
    };
    TTempDir dir;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTiffWriteOptions o;
        c.Change(o);
        // 37 × 21 leaves partial tiles and strips and rows that end inside a byte.
        TRawPicture picture =
            PatternSamples(37, 21, c.Samples, c.Bits, unsigned(c.Bits * 5 + c.Samples));
        if (o.MaxSampleValue)
            for (std::uint32_t& v : picture.Values)
                v &= 4095;
        if (o.Photometric == P::Palette)
            for (int i = 0; i < (c.Bits == 4 ? 16 : 100); ++i)
                picture.Palette.push_back({std::uint16_t(i * 650), std::uint16_t(65535 - i), 7});
        WriteTiff(dir / "kind.tif", {picture}, o);
        const std::vector<TTiffRead> images = ReadTiff(dir / "kind.tif");
        ASSERT_EQ(images.size(), 1u);
        const TTiffRead& read = images[0];
        EXPECT_TRUE(SameValues(picture, read.Picture));
        const int photometric[] = {PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_MINISWHITE,
                                   PHOTOMETRIC_RGB,        PHOTOMETRIC_PALETTE,
                                   PHOTOMETRIC_SEPARATED,  PHOTOMETRIC_YCBCR};
        const int compression[] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE,
                                   COMPRESSION_PACKBITS};
        EXPECT_EQ(read.Photometric, photometric[int(o.Photometric)]);
        EXPECT_EQ(read.Compression, compression[int(o.Compression)]);
        EXPECT_EQ(read.SampleFormat, int(o.SampleFormat) + 1);
        EXPECT_EQ(read.BigEndian, o.BigEndian);
        EXPECT_EQ(ReadFileBytes(dir / "kind.tif")[0], o.BigEndian ? 'M' : 'I');
        EXPECT_EQ(read.Planar, o.PlanarSeparate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        EXPECT_EQ(read.Tiled, o.TileWidth > 0);
        EXPECT_EQ(read.Extra, std::vector<std::uint16_t>(o.ExtraSamples, EXTRASAMPLE_UNASSALPHA));
        EXPECT_EQ(read.MaxSampleValue, o.MaxSampleValue ? int(*o.MaxSampleValue) : -1);
        std::vector<std::array<std::uint16_t, 3>> map = picture.Palette;
        if (!map.empty())
            map.resize(std::size_t(1) << c.Bits, {0, 0, 0}); // missing entries are black
        EXPECT_EQ(read.Picture.Palette, map);
    }
}

TEST(TiffWriter, MultiImageFilesAndRowsMadeInBands) {
    TTempDir dir;
    const std::vector<TRawPicture> images = {PatternSamples(20, 10, 1, 8, 1),
                                             PatternSamples(7, 33, 1, 16, 2),
                                             PatternSamples(64, 3, 1, 1, 3)};
    TTiffWriteOptions lzw;
    lzw.Compression = TTiffCompression::Lzw;
    WriteTiff(dir / "multi.tif", images, lzw);
    const std::vector<TTiffRead> read = ReadTiff(dir / "multi.tif");
    ASSERT_EQ(read.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(SameValues(images[i], read[i].Picture)) << "image " << i;

    // Bands of 5 rows are rounded up to whole strips or tiles, planes written band by band.
    const TRawPicture picture = PatternSamples(50, 45, 3, 16, 4);
    TTiffWriteOptions strips;
    strips.Photometric = TTiffPhotometric::Rgb;
    strips.Compression = TTiffCompression::Deflate;
    strips.PlanarSeparate = true;
    strips.RowsPerStrip = 4;
    TTiffWriteOptions tiles = strips;
    tiles.TileWidth = 32;
    tiles.TileHeight = 16;
    for (const TTiffWriteOptions& o : {strips, tiles}) {
        std::vector<int> firsts;
        auto rows = [&](int first, int count, std::uint32_t* samples) {
            firsts.push_back(first);
            std::copy_n(picture.Values.data() + first * 150, count * 150, samples);
        };
        WriteTiffRows(dir / "rows.tif", picture, rows, 5, o);
        const std::vector<TTiffRead> back = ReadTiff(dir / "rows.tif");
        ASSERT_EQ(back.size(), 1u);
        EXPECT_TRUE(SameValues(picture, back[0].Picture)) << (o.TileWidth ? "tiles" : "strips");
        const std::vector<int> bands =
            o.TileWidth ? std::vector<int>{0, 16, 32}
                        : std::vector<int>{0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 44};
        EXPECT_EQ(firsts, bands);
    }
}

TEST(TiffWriter, RefusesWhatDoesNotFitAndLeavesNoFile) {
    TTempDir dir;
    const std::string path = dir / "bad.tif";
    const TRawPicture grey = PatternSamples(16, 16, 1, 8, 1);
    auto refused = [&](const TRawPicture& picture, void (*change)(TTiffWriteOptions&)) {
        TTiffWriteOptions o;
        change(o);
        const std::string what = ErrorOf([&] { WriteTiff(path, {picture}, o); });
        EXPECT_NE(what.find(path), std::string::npos) << what;
        EXPECT_THROW(WriteTiff(path, {picture}, o), std::invalid_argument) << what;
    };
    refused(grey, [](TTiffWriteOptions& o) { o.TileWidth = 20, o.TileHeight = 16; });
    refused(grey, [](TTiffWriteOptions& o) { o.TileWidth = 16; });
    refused(grey, [](TTiffWriteOptions& o) { o.ExtraSamples = 2; });
    TRawPicture palette = grey;
    palette.Palette.resize(257);
    refused(palette, [](TTiffWriteOptions& o) { o.Photometric = TTiffPhotometric::Palette; });
    TRawPicture outOfRange = grey;
    outOfRange.Values[40] = 256;
    refused(outOfRange, [](TTiffWriteOptions&) {});
    TRawPicture short_ = grey;
    short_.Values.pop_back();
    refused(short_, [](TTiffWriteOptions&) {});
    EXPECT_THROW(WriteTiff(path, {}, {}), std::invalid_argument);

    auto failing = [](int first, int, std::uint32_t*) {
        if (first > 0)
            throw std::length_error("band failed");
    };
    TTiffWriteOptions strips;
    strips.RowsPerStrip = 1;
    EXPECT_THROW(WriteTiffRows(path, grey, failing, 1, strips), std::length_error);
    EXPECT_TRUE(ListFolder(dir.path()).empty());
    EXPECT_THROW(WriteTiffRows(dir / "missing/x.tif", grey, failing, 1, {}), EFileError);
    EXPECT_THROW(WriteTiff(dir / "missing/x.tif", {grey}, {}), EFileError);
}
