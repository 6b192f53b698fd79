#include "output/JpegWriter.h"

#include "files/FileUtil.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <jpeglib.h>
#include <stdexcept>

namespace {

struct TErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<TErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Hands the compressor one row after another. Next returns nullptr when the row
// cannot be had; the feed keeps the reason itself.
struct TRowFeed {
    const std::uint8_t* (*Next)(void* context, JDIMENSION row) noexcept;
    void* Context;
};

// Runs the whole compression in a frame without C++ objects, so that libjpeg's
// error jump skips no destructor. Returns false with err.message set on failure,
// or with err.message empty when the feed gave no row.
bool Compress(jpeg_compress_struct& cinfo, TErrorManager& err, int width, int height,
              int components, const TRowFeed& feed, const TJpegWriteOptions& options,
              unsigned char** out, unsigned long* outSize) {
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, options.Quality, TRUE);
    // jpeg_set_defaults gives colour 4:2:0: luma sampled 2 × 2, chroma 1 × 1.
    if (components == 3 && options.Chroma != TJpegChroma::Chroma420) {
        cinfo.comp_info[0].h_samp_factor = options.Chroma == TJpegChroma::Chroma422 ? 2 : 1;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
    if (options.Progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        const std::uint8_t* data = feed.Next(feed.Context, cinfo.next_scanline);
        if (!data) {
            jpeg_destroy_compress(&cinfo);
            return false;
        }
        auto row = const_cast<JSAMPROW>(data);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

std::vector<std::uint8_t> Encode(int width, int height, int components, const TRowFeed& feed,
                                 const TJpegWriteOptions& options) {
    if (components != 1 && components != 3 && components != 4)
        throw std::invalid_argument("EncodeJpeg: components must be 1, 3 or 4");
    jpeg_compress_struct cinfo{};
    TErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    bool ok = Compress(cinfo, err, width, height, components, feed, options, &out, &outSize);
    std::vector<std::uint8_t> bytes;
    if (ok)
        bytes.assign(out, out + outSize);
    std::free(out);
    if (!ok && err.message[0] != '\0')
        throw std::runtime_error(std::string("JPEG encoding failed: ") + err.message);
    return bytes; // empty when the feed failed; the caller raises its reason
}

struct TBufferFeed {
    const std::uint8_t* Pixels;
    std::size_t Stride;
};

const std::uint8_t* NextBufferRow(void* context, JDIMENSION row) noexcept {
    const auto& feed = *static_cast<const TBufferFeed*>(context);
    return feed.Pixels + row * feed.Stride;
}

// Rows made band by band by a TJpegRowSource. An exception from the source is kept
// and raised again once libjpeg has been cleaned up.
struct TBandFeed {
    const TJpegRowSource* Source = nullptr;
    int Height = 0;
    int BandRows = 0;
    std::size_t Stride = 0;
    std::vector<std::uint8_t> Band;
    int BandFirst = 0;
    int BandCount = 0;
    std::exception_ptr Error;
};

const std::uint8_t* NextBandRow(void* context, JDIMENSION scanline) noexcept {
    auto& feed = *static_cast<TBandFeed*>(context);
    const int row = static_cast<int>(scanline);
    if (row < feed.BandFirst || row >= feed.BandFirst + feed.BandCount) {
        try {
            const int count = std::min(feed.BandRows, feed.Height - row);
            (*feed.Source)(row, count, feed.Band.data());
            feed.BandFirst = row;
            feed.BandCount = count;
        } catch (...) {
            feed.Error = std::current_exception();
            return nullptr;
        }
    }
    return feed.Band.data() + std::size_t(row - feed.BandFirst) * feed.Stride;
}

} // namespace

std::vector<std::uint8_t> EncodeJpeg(int width, int height, int components,
                                     const std::uint8_t* pixels, const TJpegWriteOptions& options) {
    TBufferFeed buffer{pixels, std::size_t(width) * std::size_t(components)};
    return Encode(width, height, components, TRowFeed{NextBufferRow, &buffer}, options);
}

void WriteJpeg(const std::string& fileName, int width, int height, int components,
               const std::uint8_t* pixels, const TJpegWriteOptions& options) {
    std::vector<std::uint8_t> bytes = EncodeJpeg(width, height, components, pixels, options);
    WriteWholeFile(fileName, bytes.data(), bytes.size());
}

std::vector<std::uint8_t> EncodeJpegRows(int width, int height, int components,
                                         const TJpegRowSource& source, int bandRows,
                                         const TJpegWriteOptions& options) {
    if (width <= 0 || height <= 0 || bandRows <= 0)
        throw std::invalid_argument("EncodeJpegRows: width, height and band rows must be positive");
    TBandFeed band;
    band.Source = &source;
    band.Height = height;
    band.BandRows = std::min(bandRows, height);
    band.Stride = std::size_t(width) * std::size_t(std::max(components, 0));
    band.Band.resize(band.Stride * std::size_t(band.BandRows));
    std::vector<std::uint8_t> bytes =
        Encode(width, height, components, TRowFeed{NextBandRow, &band}, options);
    if (band.Error)
        std::rethrow_exception(band.Error);
    return bytes;
}

void WriteJpegRows(const std::string& fileName, int width, int height, int components,
                   const TJpegRowSource& source, int bandRows, const TJpegWriteOptions& options) {
    std::vector<std::uint8_t> bytes =
        EncodeJpegRows(width, height, components, source, bandRows, options);
    WriteWholeFile(fileName, bytes.data(), bytes.size());
}
