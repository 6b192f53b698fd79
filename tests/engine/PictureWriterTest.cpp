#include "PictureWriter.h"

#include "base/Errors.h"
#include "files/FileUtil.h"
#include "SampleStack.h"
#include "TestSupport.h"

#include <bit>
#include <csetjmp>
#include <cstring>
#include <gtest/gtest.h>
#include <png.h>
#include <stdexcept>
#include <tiffio.h>

namespace {

::testing::AssertionResult SameValues(const TRawPicture& expected, const TRawPicture& found) {
    if (found.Width != expected.Width || found.Height != expected.Height ||
        found.Samples != expected.Samples || found.Bits != expected.Bits)
        return ::testing::AssertionFailure()
               << "read " << found.Width << " x " << found.Height << ", " << found.Samples
               << " samples of " << found.Bits << " bits; written " << expected.Width << " x "
               << expected.Height << ", " << expected.Samples << " of " << expected.Bits;
    for (std::size_t i = 0; i < expected.Values.size(); ++i)
        if (found.Values[i] != expected.Values[i]) {
            const std::size_t pixel = i / expected.Samples;
            return ::testing::AssertionFailure()
                   << "first wrong value at row " << pixel / expected.Width << ", column "
                   << pixel % expected.Width << ", sample " << i % expected.Samples << ": written "
                   << expected.Values[i] << ", read " << found.Values[i];
        }
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------
// PNG read back with libpng, which unpacks samples of fewer than 8 bits itself.

struct TPngRead {
    TRawPicture Picture;
    int ColourType = -1;
    int Interlace = -1;
};

struct TPngSource {
    const std::vector<std::uint8_t>* Bytes;
    std::size_t Position = 0;
};

void ReadPngBytes(png_structp png, png_bytep data, png_size_t size) {
    auto& source = *static_cast<TPngSource*>(png_get_io_ptr(png));
    if (size > source.Bytes->size() - source.Position)
        png_error(png, "read past the end");
    std::memcpy(data, source.Bytes->data() + source.Position, size);
    source.Position += size;
}

bool PngReadInfo(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    return true;
}

bool PngReadImage(png_structp png, png_infop info, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    png_read_image(png, rows);
    png_read_end(png, info);
    return true;
}

TPngRead ReadPng(const std::vector<std::uint8_t>& bytes) {
    TPngRead read;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    TPngSource source{&bytes};
    png_set_read_fn(png, &source, ReadPngBytes);
    std::vector<std::uint8_t> data;
    std::vector<png_bytep> rows;
    bool ok = PngReadInfo(png, info);
    if (ok) {
        TRawPicture& p = read.Picture;
        p.Width = int(png_get_image_width(png, info));
        p.Height = int(png_get_image_height(png, info));
        p.Samples = png_get_channels(png, info);
        p.Bits = png_get_bit_depth(png, info);
        read.ColourType = png_get_color_type(png, info);
        read.Interlace = png_get_interlace_type(png, info);
        png_colorp palette = nullptr;
        int entries = 0;
        if (png_get_PLTE(png, info, &palette, &entries))
            for (int i = 0; i < entries; ++i)
                p.Palette.push_back({palette[i].red, palette[i].green, palette[i].blue});
        // Unpacked by libpng, samples of fewer than 8 bits come one byte each,
        // their values kept; 16-bit ones come big-endian.
        const int step = p.Bits == 16 ? 2 : 1;
        const std::size_t rowBytes = std::size_t(p.Width) * p.Samples * step;
        data.resize(rowBytes * p.Height);
        for (int r = 0; r < p.Height; ++r)
            rows.push_back(data.data() + r * rowBytes);
        ok = PngReadImage(png, info, rows.data());
        for (int r = 0; ok && r < p.Height; ++r)
            for (std::size_t i = 0; i < std::size_t(p.Width) * p.Samples; ++i) {
                const std::uint8_t* v = rows[r] + i * step;
                p.Values.push_back(step == 2 ? std::uint32_t(v[0] << 8 | v[1]) : v[0]);
            }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok)
        ADD_FAILURE() << "libpng cannot read the picture back";
    return read;
}

// ---------------------------------------------------------------------------
// TIFF read back with libtiff, which gives whole-byte samples in the machine's order.

struct TTiffRead {
    TRawPicture Picture;
    int Photometric = 0, Compression = 0, Planar = 0, SampleFormat = 1;
    bool Tiled = false, BigEndian = false;
    std::vector<std::uint16_t> Extra;
    int MaxSampleValue = -1;
};

std::uint32_t SampleAt(const std::uint8_t* row, std::size_t index, int bits) {
    if (bits % 8 == 0) {
        std::uint32_t v = 0;
        const int bytes = bits / 8;
        for (int b = 0; b < bytes; ++b)
            v |= std::uint32_t(row[index * bytes + b])
                 << 8 * (std::endian::native == std::endian::little ? b : bytes - 1 - b);
        return v;
    }
    std::uint32_t v = 0;
    for (std::size_t bit = index * bits; bit < (index + 1) * bits; ++bit)
        v = v << 1 | ((row[bit / 8] >> (7 - bit % 8)) & 1);
    return v;
}

std::vector<TTiffRead> ReadTiff(const std::string& path) {
    std::vector<TTiffRead> images;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) {
        ADD_FAILURE() << "libtiff cannot open " << path;
        return images;
    }
    do {
        TTiffRead read;
        TRawPicture& p = read.Picture;
        std::uint32_t width = 0, height = 0, blockWidth = 0, blockHeight = 0;
        std::uint16_t samples = 1, bits = 1, value = 0, count = 0, *kinds = nullptr;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
        p.Width = int(width), p.Height = int(height), p.Samples = samples, p.Bits = bits;
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &value), read.Photometric = value;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &value), read.Compression = value;
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &value), read.Planar = value;
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &value), read.SampleFormat = value;
        if (TIFFGetField(tif, TIFFTAG_MAXSAMPLEVALUE, &value))
            read.MaxSampleValue = value;
        if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds))
            read.Extra.assign(kinds, kinds + count);
        std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue))
            for (std::size_t i = 0; i < (std::size_t(1) << bits); ++i)
                p.Palette.push_back({red[i], green[i], blue[i]});
        read.Tiled = TIFFIsTiled(tif);
        read.BigEndian = TIFFIsBigEndian(tif);
        if (read.Tiled) {
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &blockWidth);
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &blockHeight);
        } else {
            blockWidth = width;
            TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &blockHeight);
            blockHeight = std::min(blockHeight, height);
        }
        const int planes = read.Planar == PLANARCONFIG_SEPARATE ? samples : 1;
        const std::size_t perPixel = samples / planes;
        const std::size_t rowBytes = (std::size_t(blockWidth) * perPixel * bits + 7) / 8;
        std::vector<std::uint8_t> block(rowBytes * blockHeight);
        p.Values.assign(std::size_t(width) * height * samples, 0xDEADBEEF);
        for (int plane = 0; plane < planes; ++plane)
            for (std::uint32_t top = 0; top < height; top += blockHeight)
                for (std::uint32_t left = 0; left < width; left += blockWidth) {
                    const auto sample = static_cast<std::uint16_t>(plane);
                    const tmsize_t got =
                        read.Tiled
                            ? TIFFReadEncodedTile(tif, TIFFComputeTile(tif, left, top, 0, sample),
                                                  block.data(), tmsize_t(block.size()))
                            : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, top, sample),
                                                   block.data(), tmsize_t(block.size()));
                    EXPECT_GT(got, 0) << "block at " << left << ", " << top << " plane " << plane;
                    for (std::uint32_t r = 0; r < blockHeight && top + r < height; ++r)
                        for (std::uint32_t c = 0; c < blockWidth && left + c < width; ++c)
                            for (std::size_t s = 0; s < perPixel; ++s)
                                p.Values[(std::size_t(top + r) * width + left + c) * samples +
                                         plane + s] =
                                    SampleAt(block.data() + r * rowBytes, c * perPixel + s, bits);
                }
        images.push_back(read);
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return images;
}

template <class TCall> std::string ErrorOf(TCall call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

// ---------------------------------------------------------------------------

TEST(PngWriter, EveryKindReadsBackWithItsValues) {
    struct TCase {
        TPngColour Colour;
        int Samples, Bits, Entries;
        bool Interlaced;
        int Compression;
    };
    const TCase cases[] = {
        {TPngColour::Grey, 1, 1, 0, false, 6},       {TPngColour::Grey, 1, 2, 0, true, 6},
        {TPngColour::Grey, 1, 4, 0, false, 0},       {TPngColour::Grey, 1, 8, 0, false, 9},
        {TPngColour::Grey, 1, 16, 0, true, 6},       {TPngColour::GreyAlpha, 2, 8, 0, false, 6},
        {TPngColour::GreyAlpha, 2, 16, 0, false, 1}, {TPngColour::Rgb, 3, 8, 0, true, 6},
        {TPngColour::Rgb, 3, 16, 0, false, 6},       {TPngColour::Rgba, 4, 8, 0, false, 6},
        {TPngColour::Rgba, 4, 16, 0, true, 6},       {TPngColour::Palette, 1, 1, 2, false, 6},
        {TPngColour::Palette, 1, 2, 4, false, 6},    {TPngColour::Palette, 1, 4, 16, true, 6},
        {TPngColour::Palette, 1, 8, 200, false, 6},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE("colour " + std::to_string(int(c.Colour)) + ", " + std::to_string(c.Bits) +
                     " bits" + (c.Interlaced ? ", interlaced" : ""));
        // Odd sizes, so that packed rows end inside a byte and Adam7 passes are partial.
        TRawPicture picture =
            PatternSamples(13, 7, c.Samples, c.Bits, unsigned(c.Bits * 7 + c.Samples));
        for (int i = 0; i < c.Entries; ++i)
            picture.Palette.push_back(
                {std::uint16_t(i), std::uint16_t(255 - i), std::uint16_t(i * 3 % 256)});
        if (c.Entries > 0)
            for (std::uint32_t& v : picture.Values)
                v %= std::uint32_t(c.Entries);
        const TPngRead read = ReadPng(EncodePng(picture, {c.Colour, c.Interlaced, c.Compression}));
        EXPECT_TRUE(SameValues(picture, read.Picture));
        EXPECT_EQ(read.Picture.Palette, picture.Palette);
        EXPECT_EQ(read.Interlace, c.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE);
        const int types[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                             PNG_COLOR_TYPE_RGB_ALPHA, PNG_COLOR_TYPE_PALETTE};
        EXPECT_EQ(read.ColourType, types[int(c.Colour)]);
    }
}

TEST(PngWriter, RowsInBandsWriteTheSameFileAndErrorsNameIt) {
    TTempDir dir;
    const TRawPicture picture = PatternSamples(29, 23, 3, 16, 5);
    const TPngWriteOptions interlaced{TPngColour::Rgb, true, 6};
    const TPngWriteOptions rgb{TPngColour::Rgb, false, 6};
    int calls = 0;
    auto rows = [&](int first, int count, std::uint32_t* samples) {
        ++calls;
        std::copy_n(picture.Values.data() + first * 29 * 3, count * 29 * 3, samples);
    };
    WritePngRows(dir / "rows.png", picture, rows, 5, interlaced);
    EXPECT_EQ(ReadFileBytes(dir / "rows.png"), EncodePng(picture, interlaced));
    EXPECT_EQ(calls, 7 * 5) << "five bands for each of the seven passes";
    WritePng(dir / "whole.png", picture, interlaced);
    EXPECT_EQ(ReadFileBytes(dir / "whole.png"), ReadFileBytes(dir / "rows.png"));

    // Nothing is put in place when the source, the picture or libpng fails.
    const std::string path = dir / "bad.png";
    auto failing = [&](int first, int count, std::uint32_t* samples) {
        if (first > 0)
            throw std::length_error("band failed");
        rows(first, count, samples);
    };
    EXPECT_THROW(WritePngRows(path, picture, failing, 5, rgb), std::length_error);
    auto tooLarge = [](int, int count, std::uint32_t* samples) {
        std::fill_n(samples, count * 29 * 3, 256u);
    };
    TPictureShape eightBit = picture;
    eightBit.Bits = 8;
    const std::string range = ErrorOf([&] { WritePngRows(path, eightBit, tooLarge, 5, rgb); });
    EXPECT_NE(range.find("row 0 holds the value 256"), std::string::npos) << range;
    EXPECT_THROW(WritePng(path, picture, {TPngColour::Rgba, false, 6}), std::invalid_argument);
    TRawPicture fourBit = PatternSamples(4, 4, 3, 4, 1);
    const std::string refused = ErrorOf([&] { WritePng(path, fourBit, rgb); });
    EXPECT_NE(refused.find(path), std::string::npos) << refused;
    EXPECT_THROW(WritePng(path, fourBit, rgb), std::runtime_error);
    const std::vector<std::string> left = ListFolder(dir.path());
    EXPECT_EQ(left, (std::vector<std::string>{"rows.png", "whole.png"}));
    EXPECT_THROW(WritePng(dir / "missing/x.png", picture, rgb), EFileError);
}

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

// The generator's PNG and TIFF photographs, read back, hold exactly the rendered samples.
TEST(SampleStackPictures, PngAndTiffStacksHoldTheRenderedSamples) {
    TTempDir dir;
    TSampleOptions o;
    o.Width = 96;
    o.Height = 64;
    o.Spacing = 16;
    o.Threads = 2;
    struct TCase {
        const char* Name;
        TSampleFormat Format;
        bool Grey;
        int Depth, Significant;
        TTiffCompression Compression;
        int Tile;
    };
    const TCase cases[] = {
        {"png8", TSampleFormat::Png, false, 8, 16, {}, 0},
        {"png16", TSampleFormat::Png, true, 16, 16, {}, 0},
        {"tif16", TSampleFormat::Tiff, true, 16, 16, TTiffCompression::Lzw, 32},
        {"tif12", TSampleFormat::Tiff, false, 16, 12, TTiffCompression::Deflate, 0},
        {"tif8", TSampleFormat::Tiff, false, 8, 16, TTiffCompression::PackBits, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        o.Format = c.Format;
        o.Greyscale = c.Grey;
        o.Depth = c.Depth;
        o.SignificantBits = c.Significant;
        o.TiffCompression = c.Compression;
        o.TiffTile = c.Tile;
        const TSampleStack stack = WriteSampleStack(dir.path(), c.Name, o);
        const std::vector<std::string> lines = SplitLines(ReadFileText(stack.ListFile));
        ASSERT_EQ(lines.size(), 19u);
        const std::string extension = c.Format == TSampleFormat::Png ? ".png" : ".tif";
        EXPECT_EQ(lines[2], std::string(c.Name) + "_00" + extension);
        EXPECT_EQ(lines[18], std::string(c.Name) + "_16" + extension);
        std::uint32_t brightest = 0;
        for (int k = 0; k < kSamplePictureCount; ++k) {
            SCOPED_TRACE("picture " + std::to_string(k));
            EXPECT_EQ(stack.Photographs[k], dir / lines[2 + k]);
            TRawPicture expected;
            expected.Width = o.Width;
            expected.Height = o.Height;
            expected.Samples = c.Grey ? 1 : 3;
            expected.Bits = c.Depth;
            if (c.Depth == 8) {
                const std::vector<std::uint8_t> v = RenderSamplePicture(o, stack.Dots, k);
                expected.Values.assign(v.begin(), v.end());
            } else {
                const std::vector<std::uint16_t> v = RenderSamplePicture16(o, stack.Dots, k);
                expected.Values.assign(v.begin(), v.end());
            }
            const TRawPicture read = c.Format == TSampleFormat::Png
                                         ? ReadPng(ReadFileBytes(stack.Photographs[k])).Picture
                                         : ReadTiff(stack.Photographs[k]).at(0).Picture;
            ASSERT_TRUE(SameValues(expected, read));
            for (std::uint32_t v : read.Values)
                brightest = std::max(brightest, v);
        }
        // The bright reference reaches about 235 of 255 levels at the centre.
        EXPECT_LE(brightest, SampleMaxValue(o));
        EXPECT_GT(brightest, SampleMaxValue(o) * 0.85);
    }
}
