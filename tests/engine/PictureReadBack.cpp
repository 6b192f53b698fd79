// Written PNG and TIFF pictures read back with libpng and libtiff.

#include "PictureReadBack.h"

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstring>
#include <png.h>
#include <tiffio.h>

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

namespace {

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

} // namespace

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

namespace {

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

} // namespace

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
