// TIFF encoding through libtiff, writing through client procedures into memory or a
// file.

#include "TiffWriter.h"

#include "PictureEncoding.h"
#include "base/Text.h"
#include "files/AtomicFile.h"

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <tiffio.h>

using namespace picture_detail;

namespace {

// SamplesPerPixel is a 16-bit field.
constexpr int kMaxTiffSamples = 65535;

struct TTiffErrors {
    char Message[512] = "";
};

int OnTiffError(TIFF*, void* context, const char*, const char* format, va_list args) {
    auto& errors = *static_cast<TTiffErrors*>(context);
    if (errors.Message[0] == '\0') // the first error is the cause; later ones follow from it
        std::vsnprintf(errors.Message, sizeof errors.Message, format, args);
    return 1;
}

// Warnings on writing are about tags libtiff leaves out or fixes; the round trips
// show what the file holds.
int OnTiffWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// The output behind a TIFF handle. An exception from it is kept and raised again
// once libtiff has given up.
struct TTiffSink {
    TByteOutput* Output;
    std::uint64_t Position = 0;
    std::exception_ptr Error;
};

tmsize_t TiffRead(thandle_t handle, void* data, tmsize_t size) {
    auto& sink = *static_cast<TTiffSink*>(handle);
    if (size < 0 || !sink.Output->ReadAt(sink.Position, data, std::size_t(size)))
        return 0;
    sink.Position += std::uint64_t(size);
    return size;
}

tmsize_t TiffWrite(thandle_t handle, void* data, tmsize_t size) {
    auto& sink = *static_cast<TTiffSink*>(handle);
    try {
        sink.Output->WriteAt(sink.Position, data, std::size_t(size));
    } catch (...) {
        if (!sink.Error)
            sink.Error = std::current_exception();
        return -1;
    }
    sink.Position += std::uint64_t(size);
    return size;
}

toff_t TiffSeek(thandle_t handle, toff_t offset, int whence) {
    auto& sink = *static_cast<TTiffSink*>(handle);
    // A move backwards comes as an offset wrapped round 2^64, which the sum undoes.
    const std::uint64_t base = whence == SEEK_CUR   ? sink.Position
                               : whence == SEEK_END ? sink.Output->Size()
                                                    : 0;
    sink.Position = base + offset;
    return sink.Position;
}

int TiffClose(thandle_t) {
    return 0;
}

toff_t TiffSize(thandle_t handle) {
    return static_cast<TTiffSink*>(handle)->Output->Size();
}

int TiffMap(thandle_t, void**, toff_t*) {
    return 0;
}

void TiffUnmap(thandle_t, void*, toff_t) {}

struct TTiffCleanup {
    // Frees the handle without writing anything: every directory is written explicitly.
    void operator()(TIFF* tif) const { TIFFCleanup(tif); }
};

struct TTiffOptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

int TiffPhotometric(TTiffPhotometric photometric) {
    switch (photometric) {
    case TTiffPhotometric::MinIsWhite:
        return PHOTOMETRIC_MINISWHITE;
    case TTiffPhotometric::Rgb:
        return PHOTOMETRIC_RGB;
    case TTiffPhotometric::Palette:
        return PHOTOMETRIC_PALETTE;
    case TTiffPhotometric::Separated:
        return PHOTOMETRIC_SEPARATED;
    case TTiffPhotometric::YCbCr:
        return PHOTOMETRIC_YCBCR;
    default:
        return PHOTOMETRIC_MINISBLACK;
    }
}

int TiffCompression(TTiffCompression compression) {
    switch (compression) {
    case TTiffCompression::Lzw:
        return COMPRESSION_LZW;
    case TTiffCompression::Deflate:
        return COMPRESSION_ADOBE_DEFLATE;
    case TTiffCompression::PackBits:
        return COMPRESSION_PACKBITS;
    default:
        return COMPRESSION_NONE;
    }
}

void CheckTiff(const TTarget& target, const TPictureShape& shape,
               const TTiffWriteOptions& options) {
    CheckShape(target, shape, kMaxTiffSamples, 32);
    if (options.ExtraSamples < 0 || options.ExtraSamples > shape.Samples)
        target.Refuse(std::to_string(options.ExtraSamples) + " extra samples in a pixel of " +
                      CountText(std::uint64_t(shape.Samples), "sample"));
    if (!shape.Palette.empty() &&
        (shape.Bits > 16 || shape.Palette.size() > (std::size_t(1) << shape.Bits)))
        target.Refuse("a colour map of " + std::to_string(shape.Palette.size()) +
                      " entries does not fit " + std::to_string(shape.Bits) + "-bit samples");
    const bool tiled = options.TileWidth != 0 || options.TileHeight != 0;
    if (tiled && !(options.TileWidth > 0 && options.TileHeight > 0 && options.TileWidth % 16 == 0 &&
                   options.TileHeight % 16 == 0))
        target.Refuse("tiles of " + SizeText(options.TileWidth, options.TileHeight) +
                      " pixels; both sides must be positive multiples of 16");
    if (options.RowsPerStrip < 0)
        target.Refuse("a negative number of rows a strip");
}

// One image of a TIFF: its shape and where its rows come from.
struct TTiffImage {
    const TPictureShape* Shape;
    TSampleRowSource Source;
};

class TTiffEncoder {
public:
    TTiffEncoder(TByteOutput& output, const TTarget& target, const TTiffWriteOptions& options)
        : target_(target), options_(options), sink_{&output, 0, {}} {
        const std::unique_ptr<TIFFOpenOptions, TTiffOptionsFree> open(TIFFOpenOptionsAlloc());
        if (!open)
            throw std::bad_alloc();
        TIFFOpenOptionsSetErrorHandlerExtR(open.get(), OnTiffError, &errors_);
        TIFFOpenOptionsSetWarningHandlerExtR(open.get(), OnTiffWarning, nullptr);
        tif_.reset(TIFFClientOpenExt(target.Name(), options.BigEndian ? "wb" : "wl", &sink_,
                                     TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap,
                                     TiffUnmap, open.get()));
        Check(tif_ != nullptr);
    }

    void Write(const TTiffImage& image, int bandRows) {
        const TPictureShape& shape = *image.Shape;
        SetFields(shape);
        const bool tiled = options_.TileWidth > 0;
        const int unit = tiled ? options_.TileHeight : std::min(rowsPerStrip_, shape.Height);
        TSampleBands bands(target_, shape, image.Source, unit * std::max(1, bandRows / unit));
        const int planes = options_.PlanarSeparate ? shape.Samples : 1;
        const int width = tiled ? options_.TileWidth : shape.Width;
        const std::size_t rowBytes =
            PackedBytes(std::uint64_t(width) * std::uint64_t(shape.Samples / planes), shape.Bits);
        std::vector<std::uint8_t> block(rowBytes * std::size_t(unit));
        for (int first = 0; first < shape.Height; first += bands.BandRows()) {
            const int count = std::min(bands.BandRows(), shape.Height - first);
            const std::uint32_t* values = bands.Make(first, count);
            for (int plane = 0; plane < planes; ++plane)
                for (int top = first; top < first + count; top += unit)
                    for (int left = 0; left < shape.Width; left += width) {
                        const int rows = std::min(unit, shape.Height - top);
                        const int columns = std::min(width, shape.Width - left);
                        std::fill(block.begin(), block.end(), std::uint8_t(0));
                        for (int r = 0; r < rows; ++r)
                            PackSamples(values + std::size_t(top - first + r) * bands.RowValues() +
                                            std::size_t(left) * std::size_t(shape.Samples) +
                                            std::size_t(planes > 1 ? plane : 0),
                                        std::size_t(columns) * std::size_t(shape.Samples / planes),
                                        std::size_t(planes), shape.Bits, kNativeBigEndian,
                                        block.data() + std::size_t(r) * rowBytes);
                        // A tile is always whole, padded with zeros; a strip ends with the picture.
                        const auto uleft = static_cast<std::uint32_t>(left);
                        const auto utop = static_cast<std::uint32_t>(top);
                        const auto sample = static_cast<std::uint16_t>(plane);
                        Check(tiled
                                  ? TIFFWriteEncodedTile(
                                        tif_.get(),
                                        TIFFComputeTile(tif_.get(), uleft, utop, 0, sample),
                                        block.data(), tmsize_t(block.size())) >= 0
                                  : TIFFWriteEncodedStrip(
                                        tif_.get(), TIFFComputeStrip(tif_.get(), utop, sample),
                                        block.data(), tmsize_t(rowBytes * std::size_t(rows))) >= 0);
                    }
        }
        Check(TIFFWriteDirectory(tif_.get()) != 0);
    }

private:
    // libtiff takes 16-, 24- and 32-bit samples in the machine's byte order and
    // turns them into the file's itself.
    static constexpr bool kNativeBigEndian = std::endian::native == std::endian::big;

    void Check(bool ok) const {
        if (ok)
            return;
        if (sink_.Error)
            std::rethrow_exception(sink_.Error);
        target_.Fail(errors_.Message[0] != '\0' ? errors_.Message : "libtiff failed");
    }

    template <class... TValues> void Set(ttag_t tag, TValues... values) {
        Check(TIFFSetField(tif_.get(), tag, values...) != 0);
    }

    void SetFields(const TPictureShape& shape) {
        // Tags of 16 bits are passed as int, as libtiff takes them from its arguments.
        Set(TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(shape.Width));
        Set(TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(shape.Height));
        Set(TIFFTAG_SAMPLESPERPIXEL, shape.Samples);
        Set(TIFFTAG_BITSPERSAMPLE, shape.Bits);
        Set(TIFFTAG_PHOTOMETRIC, TiffPhotometric(options_.Photometric));
        Set(TIFFTAG_COMPRESSION, TiffCompression(options_.Compression));
        Set(TIFFTAG_PLANARCONFIG,
            options_.PlanarSeparate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        if (options_.SampleFormat != TTiffSampleFormat::Unsigned)
            Set(TIFFTAG_SAMPLEFORMAT, options_.SampleFormat == TTiffSampleFormat::Signed
                                          ? SAMPLEFORMAT_INT
                                          : SAMPLEFORMAT_IEEEFP);
        if (options_.ExtraSamples > 0) {
            const std::vector<std::uint16_t> kinds(std::size_t(options_.ExtraSamples),
                                                   EXTRASAMPLE_UNASSALPHA);
            Set(TIFFTAG_EXTRASAMPLES, options_.ExtraSamples, kinds.data());
        }
        if (!shape.Palette.empty()) {
            std::vector<std::uint16_t> map[3];
            for (int c = 0; c < 3; ++c) {
                map[c].assign(std::size_t(1) << shape.Bits, 0);
                for (std::size_t i = 0; i < shape.Palette.size(); ++i)
                    map[c][i] = shape.Palette[i][c];
            }
            Set(TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
        }
        if (options_.Photometric == TTiffPhotometric::YCbCr)
            Set(TIFFTAG_YCBCRSUBSAMPLING, 1, 1);
        if (options_.MaxSampleValue)
            Set(TIFFTAG_MAXSAMPLEVALUE, int(*options_.MaxSampleValue));
        if (options_.TileWidth > 0) {
            Set(TIFFTAG_TILEWIDTH, static_cast<std::uint32_t>(options_.TileWidth));
            Set(TIFFTAG_TILELENGTH, static_cast<std::uint32_t>(options_.TileHeight));
        } else {
            const std::uint32_t rows = options_.RowsPerStrip > 0
                                           ? static_cast<std::uint32_t>(options_.RowsPerStrip)
                                           : TIFFDefaultStripSize(tif_.get(), 0);
            Set(TIFFTAG_ROWSPERSTRIP, rows);
            rowsPerStrip_ = static_cast<int>(std::min<std::uint32_t>(rows, 0x7FFFFFFF));
        }
    }

    const TTarget& target_;
    const TTiffWriteOptions& options_;
    TTiffErrors errors_;
    TTiffSink sink_;
    std::unique_ptr<TIFF, TTiffCleanup> tif_;
    int rowsPerStrip_ = 1;
};

void EncodeTiffTo(TByteOutput& output, const TTarget& target, const std::vector<TTiffImage>& images,
                  int bandRows, const TTiffWriteOptions& options) {
    if (images.empty())
        target.Refuse("a TIFF needs at least one image");
    for (const TTiffImage& image : images)
        CheckTiff(target, *image.Shape, options);
    TTiffEncoder encoder(output, target, options);
    for (const TTiffImage& image : images)
        encoder.Write(image, bandRows);
}

std::vector<TTiffImage> WholeImages(const TTarget& target, const std::vector<TRawPicture>& images) {
    std::vector<TTiffImage> whole;
    for (const TRawPicture& picture : images) {
        CheckValueCount(target, picture);
        whole.push_back({&picture, CopyRows(picture)});
    }
    return whole;
}

} // namespace

std::vector<std::uint8_t> EncodeTiff(const std::vector<TRawPicture>& images,
                                     const TTiffWriteOptions& options) {
    const TTarget target("TIFF", nullptr);
    std::vector<std::uint8_t> bytes;
    TByteOutput output(bytes);
    EncodeTiffTo(output, target, WholeImages(target, images), kWholeBandRows, options);
    return bytes;
}

void WriteTiff(const std::string& fileName, const std::vector<TRawPicture>& images,
               const TTiffWriteOptions& options) {
    // Held in memory: linking a further image's directory reads the one before.
    const TTarget target("TIFF", &fileName);
    std::vector<std::uint8_t> bytes;
    TByteOutput output(bytes);
    EncodeTiffTo(output, target, WholeImages(target, images), kWholeBandRows, options);
    WriteWholeFile(fileName, bytes.data(), bytes.size());
}

void WriteTiffRows(const std::string& fileName, const TPictureShape& shape,
                   const TSampleRowSource& source, int bandRows, const TTiffWriteOptions& options) {
    const TTarget target("TIFF", &fileName);
    CheckTiff(target, shape, options);
    TAtomicFile file(fileName);
    TByteOutput output(file);
    EncodeTiffTo(output, target, {{&shape, source}}, bandRows, options);
    file.Commit();
}
