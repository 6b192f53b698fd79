// A TIFF's first image directory: the kinds of picture that can be read and the
// sentence that refuses the others, the largest sample value, and checks that
// every strip or tile lies inside the file and can fill its share of the picture.

#include "input/TiffHeader.h"

#include "base/Errors.h"
#include "base/Limits.h"
#include "base/Text.h"
#include "files/FileUtil.h"
#include "input/TiffInput.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <tiffio.h>
#include <vector>

using tiff_detail::RaiseDamaged;
using tiff_detail::TTiff;
using tiff_detail::TTiffPicture;

namespace {

// What libtiff reads ahead of a long strip's rows, beside the rows themselves.
constexpr std::uint64_t kReadAheadBytes = std::uint64_t(64) << 10;
constexpr const char* kOnlyUnsigned = "only 1- to 16-bit unsigned pictures can be read.";
constexpr const char* kOnlyKinds = "only grey, colour and palette pictures can be read.";

// `"name" <what>; <only>`, or `"name" <what>.` without only.
[[noreturn]] void Refuse(const std::string& fileName, const std::string& what,
                         const char* only = nullptr) {
    throw EPictureError(QuotedName(fileName) + " " + what +
                        (only ? std::string("; ") + only : "."));
}

// Where the first image directory lies, from the file's header; 0 for none.
std::uint64_t FirstDirectoryOffset(const TInputFile& file, const std::string& fileName) {
    std::uint8_t header[16] = {};
    const std::size_t n = ReadAt(file, fileName, header, sizeof header, 0);
    const bool big = n >= 4 && (header[2] == 43 || header[3] == 43); // BigTIFF's magic 43
    const bool motorola = header[0] == 'M';
    std::uint64_t offset = 0;
    const std::size_t begin = big ? 8 : 4, size = big ? 8 : 4;
    if (n < begin + size)
        return 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t at = motorola ? begin + i : begin + size - 1 - i;
        offset = offset << 8 | header[at];
    }
    return offset;
}

template <class T> T Field(TIFF* tif, ttag_t tag, T fallback) {
    T value = fallback;
    if (!TIFFGetFieldDefaulted(tif, tag, &value))
        return fallback;
    return value;
}

std::string PhotometricName(std::uint16_t photometric) {
    switch (photometric) {
    case PHOTOMETRIC_SEPARATED:
        return "a CMYK TIFF";
    case PHOTOMETRIC_YCBCR:
        return "a YCbCr TIFF";
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
        return "a CIE L*a*b* TIFF";
    case PHOTOMETRIC_MASK:
        return "a transparency mask TIFF";
    default:
        return "a TIFF of the photometric interpretation " + std::to_string(photometric);
    }
}

// How many bytes of picture one byte of compressed data can give at most, for the
// compressions that can be read.
std::uint64_t MaxInflation(std::uint16_t compression) {
    switch (compression) {
    case COMPRESSION_NONE:
        return 1;
    case COMPRESSION_PACKBITS:
        return 64; // two bytes for a run of 128
    case COMPRESSION_LZW:
        return 4096; // a code of at least 9 bits for at most 4096 bytes
    default:
        return 1032; // Deflate: a 258-byte match in two bits
    }
}

// Refuses a picture that cannot be read, saying what it is.
void CheckKind(TIFF* tif, const std::string& fileName, TTiffPicture& p) {
    const auto format = Field<std::uint16_t>(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    const auto bits = Field<std::uint16_t>(tif, TIFFTAG_BITSPERSAMPLE, 1);
    const std::string depth = std::to_string(bits) + "-bit ";
    if (format == SAMPLEFORMAT_IEEEFP)
        Refuse(fileName, "is a " + depth + "floating-point TIFF", kOnlyUnsigned);
    if (format == SAMPLEFORMAT_INT)
        Refuse(fileName, "is a " + depth + "signed TIFF", kOnlyUnsigned);
    if (format == SAMPLEFORMAT_COMPLEXINT || format == SAMPLEFORMAT_COMPLEXIEEEFP)
        Refuse(fileName, "is a TIFF of complex " + depth + "samples", kOnlyUnsigned);
    if (bits < 1 || bits > 16)
        Refuse(fileName, "is a " + depth + "TIFF", kOnlyUnsigned);
    p.Bits = bits;

    const auto samples = Field<std::uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    if (samples < 1 || samples > 4)
        Refuse(fileName, "has " + std::to_string(samples) + " samples per pixel",
               "only pictures of 1 to 4 samples can be read.");
    p.Samples = samples;

    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        RaiseDamaged(fileName, "it does not say how its samples are to be read (no "
                               "PhotometricInterpretation)");
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
        p.Inverted = true;
        break;
    case PHOTOMETRIC_MINISBLACK:
        break;
    case PHOTOMETRIC_RGB:
        if (samples < 3)
            RaiseDamaged(fileName, "its colour pixels have " + CountText(samples, "sample"));
        p.ColourSamples = 3;
        break;
    case PHOTOMETRIC_PALETTE: {
        std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue))
            RaiseDamaged(fileName, "its palette is missing");
        p.Palette = true;
        const std::size_t entries = std::size_t(1) << bits;
        p.Colours = {std::vector<std::uint16_t>(red, red + entries),
                     std::vector<std::uint16_t>(green, green + entries),
                     std::vector<std::uint16_t>(blue, blue + entries)};
        break;
    }
    default:
        Refuse(fileName, "is " + PhotometricName(photometric), kOnlyKinds);
    }

    const auto compression = Field<std::uint16_t>(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    if (compression != COMPRESSION_NONE && compression != COMPRESSION_LZW &&
        compression != COMPRESSION_ADOBE_DEFLATE && compression != COMPRESSION_DEFLATE &&
        compression != COMPRESSION_PACKBITS) {
        const TIFFCodec* codec = TIFFFindCODEC(compression);
        Refuse(fileName,
               "is a TIFF compressed with " +
                   (codec ? std::string(codec->name) : "method " + std::to_string(compression)),
               "only uncompressed, LZW, Deflate and PackBits TIFFs can be read.");
    }
    p.Separate = Field<std::uint16_t>(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) ==
                 PLANARCONFIG_SEPARATE;
}

// The largest value a sample means: a palette's largest colour scale, a 16-bit
// picture's MaxSampleValue or the settings' Bits, else all of its bits.
void FindMaxValue(TIFF* tif, const std::string& fileName, const TPictureSettings& settings,
                  TTiffPicture& p) {
    if (p.Palette) {
        // Colours are 16-bit; some writers store 8-bit ones unscaled.
        std::uint32_t largest = 0;
        for (const std::vector<std::uint16_t>& colour : p.Colours)
            for (std::uint16_t value : colour)
                largest = std::max<std::uint32_t>(largest, value);
        p.MaxValue = largest <= 255 ? 255 : 65535;
        return;
    }
    p.MaxValue = LargestSample(p.Bits);
    if (p.Bits != 16)
        return;
    std::uint16_t tagged = 0;
    if (TIFFGetField(tif, TIFFTAG_MAXSAMPLEVALUE, &tagged)) {
        if (tagged == 0)
            RaiseDamaged(fileName, "its MaxSampleValue is 0");
        p.MaxValue = tagged;
    }
    if (settings.Bits > 0)
        p.MaxValue = LargestSample(settings.Bits);
}

// Checks that every strip or tile lies inside the file and holds enough data ever
// to fill its part of the picture, and works out the decoder's memory.
void CheckData(TIFF* tif, const std::string& fileName, std::uint64_t fileSize, TTiffPicture& p) {
    const auto compression = Field<std::uint16_t>(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    const std::uint64_t inflation = MaxInflation(compression);
    const char* unit = p.Tiled ? "tile" : "strip";
    const std::uint32_t count = p.Tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    const std::uint32_t rowsPerStrip =
        std::min(Field<std::uint32_t>(tif, TIFFTAG_ROWSPERSTRIP, p.Height), p.Height);
    const std::uint64_t lineBytes = std::uint64_t(TIFFScanlineSize64(tif));
    const std::uint64_t tileBytes = p.Tiled ? std::uint64_t(TIFFTileSize64(tif)) : 0;
    const std::uint32_t stripsPerPlane =
        rowsPerStrip == 0 ? 0 : (p.Height + rowsPerStrip - 1) / rowsPerStrip;
    if (count == 0 || (!p.Tiled && rowsPerStrip == 0) || lineBytes == 0)
        RaiseDamaged(fileName, "it does not say where its picture data lies");
    std::uint64_t largest = 0, total = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t offset = TIFFGetStrileOffset(tif, i);
        const std::uint64_t bytes = TIFFGetStrileByteCount(tif, i);
        if (offset > fileSize || bytes > fileSize - offset)
            RaiseDamaged(fileName, std::string(unit) + " " + std::to_string(i) +
                                       " of its picture lies beyond the end of the file");
        std::uint64_t needed = tileBytes;
        if (!p.Tiled) {
            const std::uint32_t first = (i % stripsPerPlane) * rowsPerStrip;
            needed = std::uint64_t(std::min(rowsPerStrip, p.Height - first)) * lineBytes;
        }
        if (bytes * inflation < needed)
            RaiseDamaged(fileName, std::string(unit) + " " + std::to_string(i) + " holds " +
                                       CountText(bytes, "byte") + ", too few ever to give the " +
                                       std::to_string(needed) + " bytes of picture it stands for");
        largest = std::max(largest, bytes);
        total += needed;
    }
    // Strips or tiles may share their data: all of them together may not stand for
    // more than the whole file could ever give, which bounds the decoding's work.
    if (total > fileSize * inflation)
        RaiseDamaged(fileName, "its " + CountText(fileSize, "byte") + " can never give the " +
                                   std::to_string(total) + " bytes its " + unit + "s stand for");
    // libtiff's data and rows, and the band of rows a row of tiles makes, for each
    // plane read; the rows of samples unpacked here.
    const std::uint64_t planes = std::uint64_t(p.PlanesRead());
    if (p.Tiled) {
        const std::uint64_t tilesAcross = (p.Width + p.TileWidth - 1) / p.TileWidth;
        p.DecoderBytes = largest + tileBytes +
                         planes * tilesAcross * std::uint64_t(TIFFTileRowSize64(tif)) *
                             std::min(p.TileLength, p.Height);
    } else {
        p.DecoderBytes = planes * (std::min(largest, kReadAheadBytes + 16 * lineBytes) + lineBytes);
    }
    p.DecoderBytes += 8 * std::uint64_t(p.Width) * std::uint64_t(p.Samples);
}

TTiffPicture Inspect(const TTiff& tiff, const std::string& fileName, std::uint64_t fileSize,
                     const TPictureSettings& settings) {
    TIFF* tif = tiff.get();
    TTiffPicture p;
    CheckKind(tif, fileName, p);
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.Width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.Height) || p.Width == 0 || p.Height == 0)
        Refuse(fileName, "is a TIFF that holds no picture");
    if (!IsPictureSize(p.Width, p.Height))
        RaiseDamaged(fileName, "the picture of " + SizeText(p.Width, p.Height) +
                                   " pixels is larger than the " + std::to_string(kMaxPlanePixels) +
                                   " pixels a plane can hold");
    p.Tiled = TIFFIsTiled(tif) != 0;
    if (p.Tiled && (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &p.TileWidth) ||
                    !TIFFGetField(tif, TIFFTAG_TILELENGTH, &p.TileLength) || p.TileWidth == 0 ||
                    p.TileLength == 0))
        RaiseDamaged(fileName, "its tiles have no size");
    // A tile may reach beyond the picture, but not by far: its buffer is made
    // before any of its data is read.
    auto far = [](std::uint32_t tile, std::uint32_t side) {
        return tile > std::max<std::uint32_t>(1024, 2 * side);
    };
    if (p.Tiled && (far(p.TileWidth, p.Width) || far(p.TileLength, p.Height)))
        RaiseDamaged(fileName, "its tiles of " + SizeText(p.TileWidth, p.TileLength) +
                                   " pixels are far larger than its picture of " +
                                   SizeText(p.Width, p.Height) + " pixels");
    FindMaxValue(tif, fileName, settings, p);
    CheckData(tif, fileName, fileSize, p);
    return p;
}

} // namespace

namespace tiff_detail {

TOpenTiff OpenTiffPicture(const TInputFile& file, const std::string& fileName,
                          const TPictureSettings& settings) {
    if (FirstDirectoryOffset(file, fileName) == 0)
        Refuse(fileName, "is a TIFF that holds no picture");
    TOpenTiff open{std::make_unique<TTiff>(file, fileName), {}};
    open.Picture = Inspect(*open.Tiff, fileName, file.Size(), settings);
    return open;
}

} // namespace tiff_detail

TPictureHeader ReadTiffHeader(const TInputFile& file, const std::string& fileName,
                              const TPictureSettings& settings) {
    const TTiffPicture p = tiff_detail::OpenTiffPicture(file, fileName, settings).Picture;
    TPictureHeader header;
    header.Format = TPictureFormat::Tiff;
    header.Width = std::int32_t(p.Width);
    header.Height = std::int32_t(p.Height);
    header.Components = p.Palette ? 3 : p.ColourSamples;
    header.Bits = p.Palette ? std::min(p.Bits, 8) : p.Bits;
    header.MaxValue = p.MaxValue;
    header.DecoderBytes = p.DecoderBytes;
    return header;
}
