// The JPEG decompressor: a photograph fed to libjpeg from memory or from an open
// file in chunks, read no further than its picture can take, and the libjpeg
// calls that can fail guarded so that their errors become exceptions.

#include "input/JpegDecoder.h"

#include "base/Errors.h"
#include "base/Limits.h"
#include "base/Text.h"
#include "files/FileUtil.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <jpeglib.h>
#include <memory>
#include <string>
#include <unistd.h>
// jerror.h needs jpeglib.h before it.
#include <jerror.h>

using jpeg_detail::TFileSource;
using jpeg_detail::TJpegErrorManager;

namespace {

// Bytes read from a photograph's file at a time.
constexpr std::size_t kReadChunk = std::size_t(64) << 10;
// How far a photograph is read. Its markers before the first scan (thumbnails,
// metadata) may take this much; once the header is known, its coded data may take
// kMaxBlockBytes for each block of 8 x 8 values of each component (the most that
// baseline Huffman coding with byte stuffing can spend on one), eight times that
// for a progressive file, and kSlackBytes more for markers. A file that goes on
// beyond, such as a picture followed by gigabytes of padding before its end
// marker, is refused once that much is read instead of being read to its end.
constexpr std::uint64_t kMaxHeaderBytes = std::uint64_t(64) << 20;
constexpr std::uint64_t kMaxBlockBytes = 512;
constexpr std::uint64_t kProgressivePasses = 8;
constexpr std::uint64_t kSlackBytes = std::uint64_t(16) << 20;

} // namespace

namespace jpeg_detail {

// Feeds libjpeg from a file descriptor in chunks, so that a photograph is never
// held whole in memory.
struct TFileSource {
    jpeg_source_mgr pub;
    int fd;
    bool readAny;           // whether any byte came from the file yet
    std::uint64_t read;     // bytes read from the file so far
    std::uint64_t maxBytes; // how far it may be read (see kMaxHeaderBytes)
    bool headerRead;        // whether the header is read and maxBytes set from it
    JOCTET buffer[kReadChunk];
};

} // namespace jpeg_detail

namespace {

void OnInitSource(j_decompress_ptr) {}
void OnTermSource(j_decompress_ptr) {}

boolean OnFillInputBuffer(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<TFileSource*>(cinfo->src);
    ssize_t n =
        RetryOnInterrupt([&] { return ::read(source->fd, source->buffer, sizeof source->buffer); });
    auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    if (n < 0) {
        err->readError = errno;
        ERREXIT(cinfo, JERR_FILE_READ);
    }
    source->read += static_cast<std::uint64_t>(n);
    if (source->read > source->maxBytes) {
        if (!source->headerRead)
            std::snprintf(err->message, sizeof err->message,
                          "its markers before the picture take more than %llu bytes",
                          static_cast<unsigned long long>(source->maxBytes));
        else
            std::snprintf(err->message, sizeof err->message,
                          "the file goes on beyond the %llu bytes a picture of %u x %u pixels "
                          "can take (padding or damaged data)",
                          static_cast<unsigned long long>(source->maxBytes), cinfo->image_width,
                          cinfo->image_height);
        std::longjmp(err->jump, 1);
    }
    if (n == 0 && !source->readAny)
        ERREXIT(cinfo, JERR_INPUT_EMPTY); // as libjpeg's memory source says it
    source->readAny = true;
    if (n == 0) {
        // The end of the file before the end of the picture: libjpeg's own source
        // warns and inserts an end marker; the warning is an error here.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        n = 2;
    }
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = static_cast<std::size_t>(n);
    return TRUE;
}

void OnSkipInputData(j_decompress_ptr cinfo, long count) {
    jpeg_source_mgr* source = cinfo->src;
    while (count > static_cast<long>(source->bytes_in_buffer)) {
        count -= static_cast<long>(source->bytes_in_buffer);
        OnFillInputBuffer(cinfo);
    }
    if (count > 0) {
        source->next_input_byte += count;
        source->bytes_in_buffer -= static_cast<std::size_t>(count);
    }
}

} // namespace

namespace jpeg_detail {

TJpegDecoder::TJpegDecoder(const std::string& fileName) : fileName_(fileName) {
    cinfo_.err = jpeg_std_error(&err_.pub);
    err_.pub.error_exit = OnErrorExit;
    err_.pub.emit_message = OnEmitMessage;
    progress_.pub.progress_monitor = OnProgress;
    if (!Create())
        Raise();
    created_ = true;
    cinfo_.progress = &progress_.pub;
    cinfo_.mem->max_memory_to_use = kMaxDecoderMemory;
}

TJpegDecoder::~TJpegDecoder() {
    if (created_)
        jpeg_destroy_decompress(&cinfo_);
}

void TJpegDecoder::ReadHeader(const std::uint8_t* data, std::size_t size) {
    if (!GuardReadHeader(data, size))
        Raise();
}

void TJpegDecoder::ReadHeader(int fd) {
    source_ = std::make_unique<TFileSource>();
    source_->pub.init_source = OnInitSource;
    source_->pub.fill_input_buffer = OnFillInputBuffer;
    source_->pub.skip_input_data = OnSkipInputData;
    source_->pub.resync_to_restart = jpeg_resync_to_restart;
    source_->pub.term_source = OnTermSource;
    source_->fd = fd;
    source_->maxBytes = kMaxHeaderBytes;
    cinfo_.src = &source_->pub;
    if (!GuardReadHeader(nullptr, 0))
        Raise();
    source_->maxBytes = source_->read + CodedDataBytes();
    source_->headerRead = true;
}

void TJpegDecoder::CheckHeader() const {
    if (cinfo_.num_components != 1 && cinfo_.num_components != 3)
        Raise("its colour space (" + std::to_string(cinfo_.num_components) +
              " components) is not supported; only greyscale and colour photographs are");
    if (!IsPictureSize(cinfo_.image_width, cinfo_.image_height))
        Raise("the picture of " + SizeText(cinfo_.image_width, cinfo_.image_height) +
              " pixels is larger than the " + std::to_string(kMaxPlanePixels) +
              " pixels a plane can hold");
}

std::uint64_t TJpegDecoder::DecoderBytes() const {
    // A progressive file keeps every coefficient until its last scan, as far as
    // the decoder's limit lets it; any file keeps two rows of blocks of samples
    // per component, and a row of pixels, while the picture becomes pixels.
    std::uint64_t bytes = std::uint64_t(cinfo_.image_width) * 4;
    if (cinfo_.progressive_mode)
        bytes += std::min<std::uint64_t>(Blocks() * DCTSIZE2 * sizeof(JCOEF),
                                         std::uint64_t(kMaxDecoderMemory));
    for (int i = 0; i < cinfo_.num_components; ++i)
        bytes += std::uint64_t(cinfo_.comp_info[i].width_in_blocks) * DCTSIZE2 * 2;
    return bytes;
}

void TJpegDecoder::Start() {
    if (!GuardStart())
        Raise();
}

void TJpegDecoder::ReadScanline(JSAMPROW row) {
    if (!GuardReadScanline(row))
        Raise();
}

void TJpegDecoder::SkipScanlines(JDIMENSION count) {
    if (!GuardSkipScanlines(count))
        Raise();
}

void TJpegDecoder::Finish() {
    if (!GuardFinish())
        Raise();
}

void TJpegDecoder::Raise(const std::string& reason) const {
    throw EJpegError("Cannot decode " + QuotedName(fileName_) + ": " + reason);
}

void TJpegDecoder::Raise() const {
    if (err_.readError != 0)
        RaiseFileError("read", fileName_, err_.readError);
    Raise(err_.message);
}

bool TJpegDecoder::Create() {
    if (setjmp(err_.jump))
        return false;
    jpeg_create_decompress(&cinfo_);
    return true;
}

bool TJpegDecoder::GuardReadHeader(const std::uint8_t* data, std::size_t size) {
    if (setjmp(err_.jump))
        return false;
    if (data != nullptr || cinfo_.src == nullptr)
        jpeg_mem_src(&cinfo_, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo_, TRUE);
    err_.decoderBytes = DecoderBytes();
    return true;
}

std::uint64_t TJpegDecoder::CodedDataBytes() const {
    return kSlackBytes +
           Blocks() * kMaxBlockBytes * (cinfo_.progressive_mode ? kProgressivePasses : 1);
}

std::uint64_t TJpegDecoder::Blocks() const {
    std::uint64_t blocks = 0;
    for (int i = 0; i < cinfo_.num_components; ++i)
        blocks += std::uint64_t(cinfo_.comp_info[i].width_in_blocks) *
                  cinfo_.comp_info[i].height_in_blocks;
    return blocks;
}

bool TJpegDecoder::GuardStart() {
    if (setjmp(err_.jump))
        return false;
    jpeg_start_decompress(&cinfo_);
    return true;
}

bool TJpegDecoder::GuardReadScanline(JSAMPROW row) {
    if (setjmp(err_.jump))
        return false;
    jpeg_read_scanlines(&cinfo_, &row, 1);
    return true;
}

bool TJpegDecoder::GuardSkipScanlines(JDIMENSION count) {
    if (setjmp(err_.jump))
        return false;
    jpeg_skip_scanlines(&cinfo_, count);
    return true;
}

bool TJpegDecoder::GuardFinish() {
    if (setjmp(err_.jump))
        return false;
    jpeg_finish_decompress(&cinfo_);
    return true;
}

} // namespace jpeg_detail
