#include "PictureWriter.h"

#include "files/FileUtil.h"
#include "input/PictureRows.h"
#include "base/Text.h"

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <memory>
#include <png.h>
#include <stdexcept>
#include <tiffio.h>

namespace {

// Whole pictures are handed to the encoders in bands of this many rows.
constexpr int kWholeBandRows = 64;
// SamplesPerPixel is a 16-bit field.
constexpr int kMaxTiffSamples = 65535;

// Who an error message is about: the file being written, or the bytes being encoded.
class TTarget {
public:
    TTarget(const char* format, const std::string* fileName)
        : format_(format), fileName_(fileName) {}

    std::string Text(const std::string& reason) const {
        if (fileName_)
            return "Cannot write " + QuotedName(*fileName_) + ": " + reason;
        return std::string(format_) + " encoding failed: " + reason;
    }
    // The picture or the options do not fit together.
    [[noreturn]] void Refuse(const std::string& reason) const {
        throw std::invalid_argument(Text(reason));
    }
    // The library failed.
    [[noreturn]] void Fail(const std::string& reason) const {
        throw std::runtime_error(Text(reason));
    }
    // The name libtiff gives the file in its messages.
    const char* Name() const { return fileName_ ? fileName_->c_str() : format_; }

private:
    const char* format_;
    const std::string* fileName_;
};

std::uint64_t ValueCount(const TPictureShape& shape) {
    return std::uint64_t(shape.Width) * std::uint64_t(shape.Height) * std::uint64_t(shape.Samples);
}

void CheckShape(const TTarget& target, const TPictureShape& shape, int maxSamples, int maxBits) {
    if (shape.Width <= 0 || shape.Height <= 0)
        target.Refuse("the picture has no pixels (" + SizeText(shape.Width, shape.Height) + ")");
    if (shape.Samples < 1 || shape.Samples > maxSamples)
        target.Refuse(std::to_string(shape.Samples) + " samples a pixel; 1 to " +
                      std::to_string(maxSamples) + " can be written");
    if (shape.Bits < 1 || shape.Bits > maxBits)
        target.Refuse(std::to_string(shape.Bits) + " bits a sample; 1 to " +
                      std::to_string(maxBits) + " can be written");
}

void CheckValueCount(const TTarget& target, const TRawPicture& picture) {
    if (picture.Values.size() != ValueCount(picture))
        target.Refuse("the picture holds " + CountText(picture.Values.size(), "value") + "; " +
                      SizeText(picture.Width, picture.Height) + " pixels of " +
                      CountText(std::uint64_t(picture.Samples), "sample") + " need " +
                      std::to_string(ValueCount(picture)));
}

TSampleRowSource CopyRows(const TRawPicture& picture) {
    const std::size_t rowValues = std::size_t(picture.Width) * std::size_t(picture.Samples);
    return [&picture, rowValues](int first, int count, std::uint32_t* samples) {
        std::copy_n(picture.Values.data() + std::size_t(first) * rowValues,
                    std::size_t(count) * rowValues, samples);
    };
}

// The rows of a picture, made band by band by its source and checked against its depth.
class TSampleBands {
public:
    TSampleBands(const TTarget& target, const TPictureShape& shape, const TSampleRowSource& source,
                 int bandRows)
        : target_(target), shape_(shape), source_(source),
          rowValues_(std::size_t(shape.Width) * std::size_t(shape.Samples)),
          bandRows_(std::clamp(bandRows, 1, shape.Height)),
          values_(rowValues_ * std::size_t(bandRows_)) {}

    int BandRows() const { return bandRows_; }
    std::size_t RowValues() const { return rowValues_; }

    /// Makes rows first … first + count − 1 (count ≤ BandRows()); gives their values.
    const std::uint32_t* Make(int first, int count) {
        count_ = 0; // a source that raises leaves no band
        source_(first, count, values_.data());
        const std::uint32_t top = LargestSample(shape_.Bits);
        const std::size_t n = std::size_t(count) * rowValues_;
        for (std::size_t i = 0; i < n; ++i)
            if (values_[i] > top)
                target_.Refuse("row " + std::to_string(std::size_t(first) + i / rowValues_) +
                               " holds the value " + std::to_string(values_[i]) + ", more than " +
                               std::to_string(shape_.Bits) + " bits hold");
        first_ = first;
        count_ = count;
        return values_.data();
    }

    /// The values of row, making the band from it on when the current one does not hold it.
    const std::uint32_t* Row(int row) {
        if (row < first_ || row >= first_ + count_)
            Make(row, std::min(bandRows_, shape_.Height - row));
        return values_.data() + std::size_t(row - first_) * rowValues_;
    }

private:
    const TTarget& target_;
    const TPictureShape& shape_;
    const TSampleRowSource& source_;
    std::size_t rowValues_;
    int bandRows_;
    std::vector<std::uint32_t> values_;
    int first_ = 0;
    int count_ = 0;
};

// Packs count samples, taken every step values from in, into out as files store
// them: depths that are not whole bytes from the high bit down, whole bytes with
// the most significant first when bigEndian, else the least significant.
void PackSamples(const std::uint32_t* in, std::size_t count, std::size_t step, int bits,
                 bool bigEndian, std::uint8_t* out) {
    if (bits % 8 == 0) {
        const int bytes = bits / 8;
        for (std::size_t i = 0; i < count; ++i, out += bytes) {
            const std::uint32_t v = in[i * step];
            for (int b = 0; b < bytes; ++b)
                out[b] = static_cast<std::uint8_t>(v >> (8 * (bigEndian ? bytes - 1 - b : b)));
        }
        return;
    }
    std::uint64_t pending = 0; // bits not yet written, the oldest highest
    int held = 0;
    for (std::size_t i = 0; i < count; ++i) {
        pending = (pending << bits) | in[i * step];
        held += bits;
        while (held >= 8) {
            held -= 8;
            *out++ = static_cast<std::uint8_t>(pending >> held);
        }
        pending &= (std::uint64_t(1) << held) - 1;
    }
    if (held > 0)
        *out = static_cast<std::uint8_t>(pending << (8 - held));
}

std::size_t PackedBytes(std::uint64_t samples, int bits) {
    return static_cast<std::size_t>((samples * std::uint64_t(bits) + 7) / 8);
}

// Where encoded bytes go: a buffer in memory, or a file written whole.
class TByteOutput {
public:
    explicit TByteOutput(std::vector<std::uint8_t>& bytes) : bytes_(&bytes), size_(bytes.size()) {}
    explicit TByteOutput(TAtomicFile& file) : file_(&file) {}

    std::uint64_t Size() const { return size_; }

    /// Writes over or beyond what is there; a gap before offset is filled with zeros.
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        if (bytes_) {
            if (offset + size > bytes_->size())
                bytes_->resize(static_cast<std::size_t>(offset + size));
            std::copy_n(bytes, size, bytes_->data() + offset);
        } else {
            static const std::uint8_t zeros[64] = {};
            for (std::uint64_t gap = offset > size_ ? offset - size_ : 0; gap > 0;) {
                const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(gap, sizeof zeros));
                file_->Write(zeros, n);
                gap -= n;
                size_ += n;
            }
            const auto inside = static_cast<std::size_t>(
                offset < size_ ? std::min<std::uint64_t>(size, size_ - offset) : 0);
            if (inside > 0)
                file_->WriteAt(offset, bytes, inside);
            if (size > inside)
                file_->Write(bytes + inside, size - inside);
        }
        size_ = std::max(size_, offset + size);
    }

    void Append(const void* data, std::size_t size) { WriteAt(size_, data, size); }

    /// Reads back what was written; false beyond the end, and always for a file.
    bool ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
        if (!bytes_ || offset > size_ || size > size_ - offset)
            return false;
        std::copy_n(bytes_->data() + offset, size, static_cast<std::uint8_t*>(data));
        return true;
    }

private:
    std::vector<std::uint8_t>* bytes_ = nullptr;
    TAtomicFile* file_ = nullptr;
    std::uint64_t size_ = 0;
};

// ---------------------------------------------------------------------------
// PNG

int PngColourSamples(TPngColour colour) {
    switch (colour) {
    case TPngColour::GreyAlpha:
        return 2;
    case TPngColour::Rgb:
        return 3;
    case TPngColour::Rgba:
        return 4;
    default:
        return 1;
    }
}

int PngColourType(TPngColour colour) {
    switch (colour) {
    case TPngColour::GreyAlpha:
        return PNG_COLOR_TYPE_GRAY_ALPHA;
    case TPngColour::Rgb:
        return PNG_COLOR_TYPE_RGB;
    case TPngColour::Rgba:
        return PNG_COLOR_TYPE_RGB_ALPHA;
    case TPngColour::Palette:
        return PNG_COLOR_TYPE_PALETTE;
    default:
        return PNG_COLOR_TYPE_GRAY;
    }
}

struct TPngErrors {
    char Message[512] = "";
    char Warning[256] = ""; // the first warning: libpng says why a header is bad in one
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* errors = static_cast<TPngErrors*>(png_get_error_ptr(png));
    if (errors->Warning[0] != '\0')
        std::snprintf(errors->Message, sizeof errors->Message, "%s (%s)", message, errors->Warning);
    else
        std::snprintf(errors->Message, sizeof errors->Message, "%s", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp png, png_const_charp message) {
    auto* errors = static_cast<TPngErrors*>(png_get_error_ptr(png));
    if (errors->Warning[0] == '\0')
        std::snprintf(errors->Warning, sizeof errors->Warning, "%s", message);
}

// A libpng write structure with its info structure, destroyed together.
class TPngHandle {
public:
    explicit TPngHandle(TPngErrors& errors)
        : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, OnPngError, OnPngWarning)) {
        if (png_)
            info_ = png_create_info_struct(png_);
        if (!info_) {
            png_destroy_write_struct(&png_, nullptr);
            throw std::bad_alloc();
        }
    }
    ~TPngHandle() { png_destroy_write_struct(&png_, &info_); }
    TPngHandle(const TPngHandle&) = delete;
    TPngHandle& operator=(const TPngHandle&) = delete;

    png_structp Png() const { return png_; }
    png_infop Info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// What png_set_IHDR and png_set_PLTE are told.
struct TPngHeader {
    png_uint_32 Width, Height;
    int Bits, ColourType, Compression;
    bool Interlaced;
    const png_color* Palette;
    int PaletteSize;
};

// Hands libpng one packed row after another. Next gives nullptr when the row cannot
// be had; the feed keeps the reason itself.
struct TPngFeed {
    const std::uint8_t* (*Next)(void* context, png_uint_32 row) noexcept;
    void* Context;
};

bool WritePngRows(png_structp png, const TPngHeader& header, const TPngFeed& feed) {
    const int passes = header.Interlaced ? png_set_interlace_handling(png) : 1;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 row = 0; row < header.Height; ++row) {
            const std::uint8_t* data = feed.Next(feed.Context, row);
            if (!data)
                return false;
            png_write_row(png, data);
        }
    return true;
}

// Runs the whole encoding in a frame without C++ objects, so that libpng's error
// jump skips no destructor. False on failure, with errors.Message set by libpng's
// error or, when the feed or the output failed, by that failure.
bool CompressPng(png_structp png, png_infop info, const TPngHeader& header, const TPngFeed& feed) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, header.Width, header.Height, header.Bits, header.ColourType,
                 header.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (header.PaletteSize > 0)
        png_set_PLTE(png, info, header.Palette, header.PaletteSize);
    png_set_compression_level(png, header.Compression);
    png_write_info(png, info);
    if (!WritePngRows(png, header, feed))
        return false;
    png_write_end(png, info);
    return true;
}

// Rows packed as PNG stores them. An exception from the bands is kept and raised
// again once libpng has been cleaned up.
struct TPngRowFeed {
    TSampleBands* Bands;
    int Bits;
    std::vector<std::uint8_t> Row;
    std::exception_ptr Error;
};

const std::uint8_t* NextPngRow(void* context, png_uint_32 row) noexcept {
    auto& feed = *static_cast<TPngRowFeed*>(context);
    try {
        const std::uint32_t* values = feed.Bands->Row(static_cast<int>(row));
        PackSamples(values, feed.Bands->RowValues(), 1, feed.Bits, true, feed.Row.data());
    } catch (...) {
        feed.Error = std::current_exception();
        return nullptr;
    }
    return feed.Row.data();
}

struct TPngSink {
    TByteOutput* Output;
    std::exception_ptr Error;
};

void OnPngWrite(png_structp png, png_bytep data, png_size_t size) {
    auto& sink = *static_cast<TPngSink*>(png_get_io_ptr(png));
    try {
        sink.Output->Append(data, size);
        return;
    } catch (...) {
        sink.Error = std::current_exception();
    }
    png_error(png, "the output failed"); // jumps out; the kept exception is raised again
}

void OnPngFlush(png_structp) {}

void CheckPng(const TTarget& target, const TPictureShape& shape, const TPngWriteOptions& options) {
    CheckShape(target, shape, 4, 16);
    if (shape.Samples != PngColourSamples(options.Colour))
        target.Refuse(std::to_string(shape.Samples) +
                      " samples a pixel do not fit the colour type");
    if (options.Compression < 0 || options.Compression > 9)
        target.Refuse("the compression level " + std::to_string(options.Compression) +
                      " is not one of 0 … 9");
    for (const auto& entry : shape.Palette)
        if (std::max({entry[0], entry[1], entry[2]}) > 255)
            target.Refuse("a PNG palette entry goes beyond 255");
}

void EncodePngTo(TByteOutput& output, const TTarget& target, const TPictureShape& shape,
                 const TSampleRowSource& source, int bandRows, const TPngWriteOptions& options) {
    std::vector<png_color> palette;
    for (const auto& entry : shape.Palette)
        palette.push_back({static_cast<png_byte>(entry[0]), static_cast<png_byte>(entry[1]),
                           static_cast<png_byte>(entry[2])});
    const TPngHeader header{png_uint_32(shape.Width),
                            png_uint_32(shape.Height),
                            shape.Bits,
                            PngColourType(options.Colour),
                            options.Compression,
                            options.Interlaced,
                            palette.data(),
                            static_cast<int>(std::min<std::size_t>(palette.size(), 0x10000))};

    TSampleBands bands(target, shape, source, bandRows);
    TPngRowFeed rows{&bands,
                     shape.Bits,
                     std::vector<std::uint8_t>(PackedBytes(bands.RowValues(), shape.Bits)),
                     {}};
    TPngSink sink{&output, {}};
    TPngErrors errors;
    const TPngHandle handle(errors);
    png_set_write_fn(handle.Png(), &sink, OnPngWrite, OnPngFlush);
    if (CompressPng(handle.Png(), handle.Info(), header, TPngFeed{NextPngRow, &rows}))
        return;
    if (rows.Error)
        std::rethrow_exception(rows.Error);
    if (sink.Error)
        std::rethrow_exception(sink.Error);
    target.Fail(errors.Message);
}

// ---------------------------------------------------------------------------
// TIFF

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

std::vector<std::uint8_t> EncodePng(const TRawPicture& picture, const TPngWriteOptions& options) {
    const TTarget target("PNG", nullptr);
    CheckPng(target, picture, options);
    CheckValueCount(target, picture);
    std::vector<std::uint8_t> bytes;
    TByteOutput output(bytes);
    EncodePngTo(output, target, picture, CopyRows(picture), kWholeBandRows, options);
    return bytes;
}

void WritePng(const std::string& fileName, const TRawPicture& picture,
              const TPngWriteOptions& options) {
    const TTarget target("PNG", &fileName);
    CheckPng(target, picture, options);
    CheckValueCount(target, picture);
    TAtomicFile file(fileName);
    TByteOutput output(file);
    EncodePngTo(output, target, picture, CopyRows(picture), kWholeBandRows, options);
    file.Commit();
}

void WritePngRows(const std::string& fileName, const TPictureShape& shape,
                  const TSampleRowSource& source, int bandRows, const TPngWriteOptions& options) {
    const TTarget target("PNG", &fileName);
    CheckPng(target, shape, options);
    TAtomicFile file(fileName);
    TByteOutput output(file);
    EncodePngTo(output, target, shape, source, bandRows, options);
    file.Commit();
}

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
