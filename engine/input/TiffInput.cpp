// TIFF input: libtiff reads the first image through positioned reads of the open
// file, a strip's rows or a row of tiles at a time, and each row goes to the sink
// as it comes. Samples of any width from 1 to 16 bits are unpacked here; libtiff
// has put 16-bit ones in the machine's byte order already.

#include "input/TiffInput.h"

#include "base/Errors.h"
#include "files/FileUtil.h"
#include "base/Text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace {

// The largest block libtiff may allocate at once (a strip's or a tile's data).
constexpr tmsize_t kMaxLibtiffBlock = tmsize_t(256) << 20;
// What libtiff reads ahead of a long strip's rows, beside the rows themselves.
constexpr std::uint64_t kReadAheadBytes = std::uint64_t(64) << 10;
constexpr const char* kOnlyUnsigned = "only 1- to 16-bit unsigned pictures can be read.";
constexpr const char* kOnlyKinds = "only grey, colour and palette pictures can be read.";

// The open file as one TIFF handle sees it: positioned reads, so that several
// handles (one for each plane of a picture stored plane by plane) share it.
struct TTiffSource {
    std::string name;
    int fd = -1;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
    int readError = 0;
    std::string error; // the first error libtiff reported
};

tmsize_t OnRead(thandle_t handle, void* data, tmsize_t size) {
    auto* source = static_cast<TTiffSource*>(handle);
    std::size_t done = 0;
    while (done < std::size_t(size)) {
        const ssize_t n = RetryOnInterrupt([&] {
            return ::pread(source->fd, static_cast<char*>(data) + done, std::size_t(size) - done,
                           off_t(source->offset + done));
        });
        if (n < 0) {
            source->readError = errno;
            return -1;
        }
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    source->offset += done;
    return tmsize_t(done);
}

tmsize_t OnWrite(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t OnSeek(thandle_t handle, toff_t offset, int whence) {
    auto* source = static_cast<TTiffSource*>(handle);
    if (whence == SEEK_CUR)
        offset += source->offset;
    else if (whence == SEEK_END)
        offset += source->size;
    source->offset = offset;
    return offset;
}

int OnClose(thandle_t) {
    return 0;
}

toff_t OnSize(thandle_t handle) {
    return static_cast<TTiffSource*>(handle)->size;
}

int OnMap(thandle_t, void**, toff_t*) {
    return 0;
}

void OnUnmap(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* source = static_cast<TTiffSource*>(user);
    if (source->error.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        source->error = text;
        // Some messages begin with the file's name, which the caller's text names.
        const std::string prefix = source->name + ": ";
        if (source->error.compare(0, prefix.size(), prefix) == 0)
            source->error.erase(0, prefix.size());
    }
    return 1; // handled: nothing goes to stderr
}

// Warnings concern tags the pixels do not depend on.
int OnWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

[[noreturn]] void RaiseDamaged(const std::string& fileName, const std::string& reason) {
    throw EPictureError("Cannot decode " + QuotedName(fileName) + ": " + reason);
}

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

// One libtiff handle over an open file, its first image directory read.
class TTiff {
public:
    TTiff(const TInputFile& file, const std::string& fileName) : fileName_(fileName) {
        source_.name = fileName;
        source_.fd = file.Descriptor();
        source_.size = file.Size();
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options)
            throw std::bad_alloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &source_);
        TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, nullptr);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxLibtiffBlock);
        // "m": no memory map, so that a file cut short while it is read gives an
        // error instead of a signal.
        tif_ = TIFFClientOpenExt(fileName.c_str(), "rm", &source_, OnRead, OnWrite, OnSeek, OnClose,
                                 OnSize, OnMap, OnUnmap, options);
        TIFFOpenOptionsFree(options);
        if (!tif_)
            RaiseLast("it is not a TIFF that can be read");
    }
    ~TTiff() {
        if (tif_)
            TIFFClose(tif_);
    }
    TTiff(const TTiff&) = delete;
    TTiff& operator=(const TTiff&) = delete;

    TIFF* get() const { return tif_; }

    /// Raises what made the last libtiff call fail, or reason when it said nothing.
    [[noreturn]] void RaiseLast(const std::string& reason) const {
        if (source_.readError != 0)
            RaiseFileError("read", fileName_, source_.readError);
        RaiseDamaged(fileName_, source_.error.empty() ? reason : source_.error);
    }

private:
    std::string fileName_;
    TTiffSource source_;
    TIFF* tif_ = nullptr;
};

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

// What the first image directory says, checked.
struct TTiffPicture {
    std::uint32_t Width = 0, Height = 0;
    int Bits = 8;
    int Samples = 1;       // a pixel, as stored
    int ColourSamples = 1; // 1 grey or palette index, 3 colour
    bool Separate = false; // stored plane by plane
    bool Tiled = false;
    bool Palette = false;
    bool Inverted = false; // 0 is white
    std::uint32_t TileWidth = 0, TileLength = 0;
    std::uint32_t MaxValue = 255;                      // of the samples, or of a palette's colours
    std::array<std::vector<std::uint16_t>, 3> Colours; // a palette's red, green, blue
    std::uint64_t DecoderBytes = 0;

    // The planes read: all colour samples when stored plane by plane, else one.
    int PlanesRead() const { return Separate ? ColourSamples : 1; }
    // Samples of one plane's pixel.
    int PlaneSamples() const { return Separate ? 1 : Samples; }
};

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

// Unpacks count samples of bits bits each, packed from the most significant bit
// on, into one container value each.
template <class T> void Unpack(const std::uint8_t* packed, int bits, std::size_t count, T* out) {
    if constexpr (sizeof(T) == 1) {
        if (bits == 8) {
            std::memcpy(out, packed, count);
            return;
        }
    } else {
        if (bits == 16) {
            std::memcpy(out, packed, 2 * count);
            return;
        }
    }
    std::uint32_t buffer = 0;
    int held = 0;
    for (std::size_t i = 0; i < count; ++i) {
        while (held < bits) {
            buffer = buffer << 8 | *packed++;
            held += 8;
        }
        held -= bits;
        out[i] = T((buffer >> held) & LargestSample(bits));
    }
}

// Reads the picture's rows from the top, as packed samples of each plane read.
class TTiffRows {
public:
    /// tiff: the handle that read the picture's directory, which reads plane 0.
    TTiffRows(std::unique_ptr<TTiff> tiff, const TInputFile& file, const std::string& fileName,
              const TTiffPicture& picture)
        : picture_(picture) {
        handles_.push_back(std::move(tiff));
        // A picture stored plane by plane is read with a handle for each plane, so
        // that each reads its strips in order.
        if (!picture.Tiled)
            for (int plane = 1; plane < picture.PlanesRead(); ++plane)
                handles_.push_back(std::make_unique<TTiff>(file, fileName));
        TIFF* tif = handles_.front()->get();
        if (picture.Tiled) {
            tileRowBytes_ = std::size_t(TIFFTileRowSize64(tif));
            const std::size_t across = (picture.Width + picture.TileWidth - 1) / picture.TileWidth;
            bandRowBytes_ = across * tileRowBytes_;
            tile_.resize(std::size_t(TIFFTileSize64(tif)));
            bands_.resize(std::size_t(picture.PlanesRead()));
            for (std::vector<std::uint8_t>& band : bands_)
                band.resize(bandRowBytes_ * std::min(picture.TileLength, picture.Height));
        } else {
            lines_.resize(std::size_t(picture.PlanesRead()));
            for (std::vector<std::uint8_t>& line : lines_)
                line.resize(std::size_t(TIFFScanlineSize64(tif)));
        }
    }

    /// Reads row (the rows come in order, from 0).
    void Read(std::uint32_t row) {
        if (!picture_.Tiled) {
            for (std::size_t plane = 0; plane < lines_.size(); ++plane) {
                const TTiff& tiff = *handles_[plane];
                if (TIFFReadScanline(tiff.get(), lines_[plane].data(), row, std::uint16_t(plane)) <
                    0)
                    tiff.RaiseLast("row " + std::to_string(row) + " cannot be read");
            }
            return;
        }
        bandRow_ = row % picture_.TileLength;
        if (bandRow_ != 0)
            return;
        const TTiff& tiff = *handles_.front();
        const std::size_t rows = std::min(picture_.TileLength, picture_.Height - row);
        for (std::size_t plane = 0; plane < bands_.size(); ++plane) {
            for (std::uint32_t x = 0, i = 0; x < picture_.Width; x += picture_.TileWidth, ++i) {
                if (TIFFReadTile(tiff.get(), tile_.data(), x, row, 0, std::uint16_t(plane)) < 0)
                    tiff.RaiseLast("the tile at column " + std::to_string(x) + ", row " +
                                   std::to_string(row) + " cannot be read");
                for (std::size_t r = 0; r < rows; ++r)
                    std::memcpy(bands_[plane].data() + r * bandRowBytes_ + i * tileRowBytes_,
                                tile_.data() + r * tileRowBytes_, tileRowBytes_);
            }
        }
    }

    /// The packed samples of the last row read, of one plane.
    const std::uint8_t* Packed(std::size_t plane) const {
        return picture_.Tiled ? bands_[plane].data() + bandRow_ * bandRowBytes_
                              : lines_[plane].data();
    }

private:
    const TTiffPicture& picture_;
    std::vector<std::unique_ptr<TTiff>> handles_;
    std::vector<std::vector<std::uint8_t>> lines_; // of each plane, strips
    std::vector<std::uint8_t> tile_;
    std::vector<std::vector<std::uint8_t>> bands_; // of each plane, a row of tiles
    std::size_t tileRowBytes_ = 0, bandRowBytes_ = 0;
    std::size_t bandRow_ = 0;
};

// Turns packed rows into the samples the converter takes: one container value a
// sample, planes interleaved, a palette's indices its colours.
class TTiffSamples {
public:
    explicit TTiffSamples(const TTiffPicture& picture) : picture_(picture) {
        const std::size_t pixels = picture.Width;
        const std::size_t samples = pixels * std::size_t(Layout().Samples);
        if (Layout().Wide)
            wide_.resize(samples);
        else
            bytes_.resize(samples);
        // A palette's indices, or one plane's samples, before they are spread out.
        if (picture.Separate || picture.Palette) {
            const std::size_t plane = pixels * std::size_t(picture.Samples);
            if (picture.Bits > 8)
                planeWide_.resize(plane);
            else
                planeBytes_.resize(plane);
        }
    }

    TSampleLayout Layout() const {
        TSampleLayout layout;
        layout.Samples = picture_.Palette    ? 3
                         : picture_.Separate ? picture_.ColourSamples
                                             : picture_.Samples;
        layout.ColourSamples = picture_.Palette ? 3 : picture_.ColourSamples;
        layout.Wide = picture_.Bits > 8 || picture_.Palette;
        layout.MaxValue = picture_.MaxValue;
        layout.Inverted = picture_.Inverted;
        return layout;
    }

    /// The samples of the row whose planes rows has just read.
    const void* Row(const TTiffRows& rows) {
        if (picture_.Bits > 8)
            return Fill(rows, planeWide_, wide_);
        return Fill(rows, planeBytes_, bytes_);
    }

private:
    template <class T>
    const void* Fill(const TTiffRows& rows, std::vector<T>& plane, std::vector<T>& out) {
        const std::size_t pixels = picture_.Width;
        if (!picture_.Separate && !picture_.Palette) {
            Unpack(rows.Packed(0), picture_.Bits, pixels * std::size_t(picture_.Samples),
                   out.data());
            return out.data();
        }
        if (picture_.Palette) {
            Unpack(rows.Packed(0), picture_.Bits, pixels * std::size_t(picture_.PlaneSamples()),
                   plane.data());
            const std::size_t step = std::size_t(picture_.PlaneSamples());
            for (std::size_t c = 0; c < pixels; ++c)
                for (std::size_t k = 0; k < 3; ++k)
                    wide_[3 * c + k] = picture_.Colours[k][plane[c * step]];
            return wide_.data();
        }
        const std::size_t planes = std::size_t(picture_.PlanesRead());
        for (std::size_t k = 0; k < planes; ++k) {
            Unpack(rows.Packed(k), picture_.Bits, pixels, plane.data());
            for (std::size_t c = 0; c < pixels; ++c)
                out[c * planes + k] = plane[c];
        }
        return out.data();
    }

    const TTiffPicture& picture_;
    std::vector<std::uint8_t> bytes_, planeBytes_;
    std::vector<std::uint16_t> wide_, planeWide_;
};

// A TIFF open at its first image, and what that image is.
struct TOpenTiff {
    std::unique_ptr<TTiff> Tiff;
    TTiffPicture Picture;
};

TOpenTiff OpenPicture(const TInputFile& file, const std::string& fileName,
                      const TPictureSettings& settings) {
    if (FirstDirectoryOffset(file, fileName) == 0)
        Refuse(fileName, "is a TIFF that holds no picture");
    TOpenTiff open{std::make_unique<TTiff>(file, fileName), {}};
    open.Picture = Inspect(*open.Tiff, fileName, file.Size(), settings);
    return open;
}

} // namespace

TPictureHeader ReadTiffHeader(const TInputFile& file, const std::string& fileName,
                              const TPictureSettings& settings) {
    const TTiffPicture p = OpenPicture(file, fileName, settings).Picture;
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

void DecodeTiffRows(const TInputFile& file, const std::string& fileName,
                    const TPictureSettings& settings, TPictureRowSink& sink) {
    TOpenTiff open = OpenPicture(file, fileName, settings);
    const TTiffPicture& p = open.Picture;
    const auto width = std::int32_t(p.Width), height = std::int32_t(p.Height);
    try {
        TTiffRows rows(std::move(open.Tiff), file, fileName, p);
        TTiffSamples samples(p);
        TSampleConverter converter(samples.Layout(), settings.Channel);
        sink.Begin({width, height, p.MaxValue});
        for (std::int32_t row = 0; row < height; ++row) {
            rows.Read(std::uint32_t(row));
            if (!sink.Needed(row, 1))
                continue;
            converter.Convert(samples.Row(rows), width, sink.RowBuffer(row),
                              sink.DeepRowBuffer(row));
            sink.RowDone(row);
        }
    } catch (const std::bad_alloc&) {
        RaiseDamaged(fileName, NoMemoryForPictureText(width, height));
    }
}
