// JPEG input: decodes a photograph through libjpeg straight into a plane, one
// scanline at a time.

#include "input/JpegInput.h"

#include "base/Errors.h"
#include "files/FileUtil.h"
#include "image/GreyMix.h"
#include "base/Text.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <memory>
#include <new>
#include <unistd.h>
// jerror.h needs jpeglib.h before it.
#include <jerror.h>

namespace {

// A progressive file with more scans than this is treated as hostile: each scan
// costs a pass over the coefficient blocks of the components it holds.
constexpr int kMaxScans = 500;
// Nor may its scans visit more coefficient blocks than this in all: 16 passes over
// the blocks of the largest greyscale plane, about three times what a standard
// progressive file of that size takes. Scans are cheap to write (a few bytes of
// arithmetic-coded data cover a whole picture), so a small file could otherwise
// keep the decoder busy for minutes before the scan count stopped it.
constexpr std::uint64_t kMaxScanBlocks = std::uint64_t(kMaxPlanePixels / 64) * 16;
// libjpeg's own working memory (the coefficient buffer of a progressive file).
constexpr long kMaxDecoderMemory = 1L << 30;
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

// libjpeg reports errors through these callbacks. They jump back to the guarded
// call (see Guard below) with the message kept, and the C++ side raises it.
struct TJpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    int readError;              // errno of a failed read of the file, 0 otherwise
    std::uint64_t decoderBytes; // the working memory the header calls for, once known
};

// The progress monitor, with what it has counted of the scans so far.
struct TScanProgress {
    jpeg_progress_mgr pub;
    int scans;            // the scans counted in blocks
    std::uint64_t blocks; // coefficient blocks those scans cover
};

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

void OnErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    // libjpeg turns to disk space ("backing store", which it does not have) when
    // a progressive file's coefficients do not fit into kMaxDecoderMemory.
    if (cinfo->err->msg_code == JERR_NO_BACKING_STORE)
        std::snprintf(err->message, sizeof err->message,
                      "decoding it takes more than the %ld MiB of working memory a photograph "
                      "may use",
                      kMaxDecoderMemory >> 20);
    else if (cinfo->err->msg_code == JERR_OUT_OF_MEMORY)
        std::snprintf(err->message, sizeof err->message,
                      "there is not enough memory for the decoder's working memory (about %llu "
                      "MiB)",
                      static_cast<unsigned long long>((err->decoderBytes >> 20) + 1));
    else
        (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (level −1) mean damaged data that libjpeg would paper over with grey:
// premature end of data, corrupt segments. A plane built from them would be
// wrong, so they are errors here. Trace messages (level ≥ 0) are ignored.
void OnEmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0)
        OnErrorExit(cinfo);
}

// Called before each row of blocks is taken in, so each scan is counted before
// its data is decoded.
void OnProgress(j_common_ptr cinfo) {
    auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    auto* progress = reinterpret_cast<TScanProgress*>(cinfo->progress);
    if (dinfo->input_scan_number == progress->scans)
        return;
    std::uint64_t blocksInScan = 0;
    for (int i = 0; i < dinfo->comps_in_scan; ++i) {
        const jpeg_component_info* component = dinfo->cur_comp_info[i];
        blocksInScan += std::uint64_t(component->width_in_blocks) * component->height_in_blocks;
    }
    progress->blocks += std::uint64_t(dinfo->input_scan_number - progress->scans) * blocksInScan;
    progress->scans = dinfo->input_scan_number;

    auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    if (dinfo->input_scan_number > kMaxScans)
        std::snprintf(err->message, sizeof err->message,
                      "the progressive file has more than %d scans", kMaxScans);
    else if (progress->blocks > kMaxScanBlocks)
        std::snprintf(err->message, sizeof err->message,
                      "the scans of the progressive file cover more than %llu blocks of 8 x 8 "
                      "values in all",
                      static_cast<unsigned long long>(kMaxScanBlocks));
    else
        return;
    std::longjmp(err->jump, 1);
}

// Owns one decompressor. The libjpeg calls that can fail run inside the Guard
// members: setjmp lives in a frame that holds no C++ object with a destructor,
// so the jump back from an error skips nothing that needs cleaning up.
class TJpegDecoder {
public:
    explicit TJpegDecoder(const std::string& fileName) : fileName_(fileName) {
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
    ~TJpegDecoder() {
        if (created_)
            jpeg_destroy_decompress(&cinfo_);
    }
    TJpegDecoder(const TJpegDecoder&) = delete;
    TJpegDecoder& operator=(const TJpegDecoder&) = delete;

    jpeg_decompress_struct& info() { return cinfo_; }

    /// Reads the header of a photograph held in memory.
    void ReadHeader(const std::uint8_t* data, std::size_t size) {
        if (!GuardReadHeader(data, size))
            Raise();
    }
    /// Reads the header of a photograph from an open file, which is then read on
    /// as the decoding needs it.
    void ReadHeader(int fd) {
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

    /// Checks what the header says against what a plane can take; raises EJpegError.
    void CheckHeader() const {
        if (cinfo_.num_components != 1 && cinfo_.num_components != 3)
            Raise("its colour space (" + std::to_string(cinfo_.num_components) +
                  " components) is not supported; only greyscale and colour photographs are");
        if (!IsPictureSize(cinfo_.image_width, cinfo_.image_height))
            Raise("the picture of " + SizeText(cinfo_.image_width, cinfo_.image_height) +
                  " pixels is larger than the " + std::to_string(kMaxPlanePixels) +
                  " pixels a plane can hold");
    }

    /// The working memory decoding will take beside the plane, once the header is read.
    std::uint64_t DecoderBytes() const {
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
    void Start() {
        if (!GuardStart())
            Raise();
    }
    void ReadScanline(JSAMPROW row) {
        if (!GuardReadScanline(row))
            Raise();
    }
    /// Passes over count rows without making pixels of them; their data is still
    /// read and checked, as long as the last row is not among them.
    void SkipScanlines(JDIMENSION count) {
        if (!GuardSkipScanlines(count))
            Raise();
    }
    void Finish() {
        if (!GuardFinish())
            Raise();
    }

    [[noreturn]] void Raise(const std::string& reason) const {
        throw EJpegError("Cannot decode " + QuotedName(fileName_) + ": " + reason);
    }

private:
    [[noreturn]] void Raise() const {
        if (err_.readError != 0)
            RaiseFileError("read", fileName_, err_.readError);
        Raise(err_.message);
    }

    bool Create() {
        if (setjmp(err_.jump))
            return false;
        jpeg_create_decompress(&cinfo_);
        return true;
    }
    // With data, the photograph is in memory; otherwise cinfo_.src is set already.
    bool GuardReadHeader(const std::uint8_t* data, std::size_t size) {
        if (setjmp(err_.jump))
            return false;
        if (data != nullptr || cinfo_.src == nullptr)
            jpeg_mem_src(&cinfo_, data, static_cast<unsigned long>(size));
        jpeg_read_header(&cinfo_, TRUE);
        err_.decoderBytes = DecoderBytes();
        return true;
    }

    // How many bytes the coded data after the header may take (see kMaxBlockBytes).
    std::uint64_t CodedDataBytes() const {
        return kSlackBytes +
               Blocks() * kMaxBlockBytes * (cinfo_.progressive_mode ? kProgressivePasses : 1);
    }
    // The blocks of 8 x 8 values of all components, once the header is read.
    std::uint64_t Blocks() const {
        std::uint64_t blocks = 0;
        for (int i = 0; i < cinfo_.num_components; ++i)
            blocks += std::uint64_t(cinfo_.comp_info[i].width_in_blocks) *
                      cinfo_.comp_info[i].height_in_blocks;
        return blocks;
    }
    bool GuardStart() {
        if (setjmp(err_.jump))
            return false;
        jpeg_start_decompress(&cinfo_);
        return true;
    }
    bool GuardReadScanline(JSAMPROW row) {
        if (setjmp(err_.jump))
            return false;
        jpeg_read_scanlines(&cinfo_, &row, 1);
        return true;
    }
    bool GuardSkipScanlines(JDIMENSION count) {
        if (setjmp(err_.jump))
            return false;
        jpeg_skip_scanlines(&cinfo_, count);
        return true;
    }
    bool GuardFinish() {
        if (setjmp(err_.jump))
            return false;
        jpeg_finish_decompress(&cinfo_);
        return true;
    }

    std::string fileName_;
    jpeg_decompress_struct cinfo_{};
    TJpegErrorManager err_{};
    TScanProgress progress_{};
    std::unique_ptr<TFileSource> source_;
    bool created_ = false;
};

// Whether rows can be skipped without changing the rows that are made: a file in
// one scan (a progressive file keeps its coefficients until the end anyway) whose
// colour components are not subsampled while the brightness is subsampled in one
// of the usual ways: 4:4:4, 4:2:0, 4:2:2, 4:4:0 or 4:1:1. Other layouts are rare
// enough to be decoded whole.
bool CanSkipRows(const jpeg_decompress_struct& info) {
    if (jpeg_has_multiple_scans(const_cast<jpeg_decompress_struct*>(&info)))
        return false;
    if (info.num_components == 1)
        return true;
    auto factors = [&info](int component, int h, int v) {
        return info.comp_info[component].h_samp_factor == h &&
               info.comp_info[component].v_samp_factor == v;
    };
    const bool usual = factors(0, 1, 1) || factors(0, 2, 2) || factors(0, 2, 1) ||
                       factors(0, 1, 2) || factors(0, 4, 1);
    return usual && factors(1, 1, 1) && factors(2, 1, 1);
}

// Decodes the photograph whose header readHeader reads into sink.
template <class TReadHeader>
void DecodeInto(TPictureRowSink& sink, const std::string& fileName, std::uint8_t channel,
                TReadHeader readHeader) {
    TJpegDecoder decoder(fileName);
    jpeg_decompress_struct& info = decoder.info();
    readHeader(decoder);
    decoder.CheckHeader();

    if (info.num_components == 3)
        info.out_color_space = JCS_EXT_RGBX; // the same values as RGB, in four-byte pixels
    decoder.Start();
    const auto width = static_cast<std::int32_t>(info.output_width);
    const auto height = static_cast<std::int32_t>(info.output_height);
    const bool grey = info.output_components == 1;
    // Rows are skipped a whole row of blocks at a time, and never the last one: a
    // skip to the bottom would end the decoding without reading the rest of the data.
    const std::int32_t group =
        CanSkipRows(info) ? info.max_v_samp_factor * info.min_DCT_scaled_size : 0;
    const std::int32_t lastGroup = group > 0 ? (height - 1) / group * group : 0;
    try {
        sink.Begin({width, height, 255});
        // A grey row that is not needed goes to rgbx too.
        std::vector<std::uint8_t> rgbx((grey ? 1 : 4) * std::size_t(width));
        std::int32_t row = 0;
        while (row < height) {
            if (group > 0 && row % group == 0) {
                std::int32_t skip = 0;
                while (row + skip < lastGroup && !sink.Needed(row + skip, group))
                    skip += group;
                if (skip > 0) {
                    decoder.SkipScanlines(JDIMENSION(skip));
                    row += skip;
                    continue;
                }
            }
            // Within a row of blocks that is made, a row that is not needed is still
            // read, but neither its channel nor its grey mix is taken.
            if (!sink.Needed(row, 1)) {
                decoder.ReadScanline(rgbx.data());
                ++row;
                continue;
            }
            std::uint8_t* values = sink.RowBuffer(row);
            if (grey) {
                decoder.ReadScanline(values);
            } else {
                decoder.ReadScanline(rgbx.data());
                if (channel <= kChannelBlue)
                    ChannelRow(rgbx.data(), values, width, channel);
                else
                    GreyRow(rgbx.data(), values, width);
            }
            if (std::uint16_t* deep = sink.DeepRowBuffer(row))
                for (std::int32_t col = 0; col < width; ++col)
                    deep[col] = std::uint16_t(257 * values[col]); // v·65535/255 exactly
            sink.RowDone(row++);
        }
    } catch (const std::bad_alloc&) {
        decoder.Raise(NoMemoryForPictureText(width, height));
    }
    decoder.Finish();
}

} // namespace

TPictureHeader ReadJpegHeader(const TInputFile& file, const std::string& fileName) {
    TJpegDecoder decoder(fileName);
    decoder.ReadHeader(file.Descriptor());
    decoder.CheckHeader();
    const jpeg_decompress_struct& info = decoder.info();
    TPictureHeader header;
    header.Format = TPictureFormat::Jpeg;
    header.Width = static_cast<std::int32_t>(info.image_width);
    header.Height = static_cast<std::int32_t>(info.image_height);
    header.Components = info.num_components;
    header.DecoderBytes = decoder.DecoderBytes();
    return header;
}

bool LoadPlaneFromJpeg(TPic& plane, const std::string& fileName, std::uint8_t channel) {
    if (NoFileAt(fileName))
        return false;
    TInputFile file(fileName);
    TPic decoded;
    TPlaneRowSink sink(decoded);
    DecodeInto(sink, fileName, channel,
               [&](TJpegDecoder& decoder) { decoder.ReadHeader(file.Descriptor()); });
    plane = std::move(decoded);
    return true;
}

void DecodeJpegRows(const TInputFile& file, const std::string& fileName, std::uint8_t channel,
                    TPictureRowSink& sink) {
    DecodeInto(sink, fileName, channel,
               [&](TJpegDecoder& decoder) { decoder.ReadHeader(file.Descriptor()); });
}

void DecodeJpegPlane(TPic& plane, const std::uint8_t* data, std::size_t size,
                     const std::string& name, std::uint8_t channel) {
    TPic decoded;
    TPlaneRowSink sink(decoded);
    DecodeInto(sink, name, channel, [&](TJpegDecoder& decoder) { decoder.ReadHeader(data, size); });
    plane = std::move(decoded);
}
