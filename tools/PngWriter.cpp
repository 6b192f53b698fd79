// PNG encoding through libpng, whose error jumps are kept out of frames that hold
// C++ objects.

#include "PngWriter.h"

#include "PictureEncoding.h"
#include "files/AtomicFile.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <exception>
#include <new>
#include <png.h>
#include <stdexcept>

using namespace picture_detail;

namespace {

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
