// JPEG input: decodes a photograph through libjpeg straight into a plane, one
// scanline at a time.

#include "Errors.h"
#include "FileUtil.h"
#include "GreyMix.h"
#include "PicHolder.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <new>

namespace {

// A progressive file with more scans than this is treated as hostile: each scan
// costs a pass over the whole coefficient buffer.
constexpr int kMaxScans = 500;
// libjpeg's own working memory (the coefficient buffer of a progressive file).
constexpr long kMaxDecoderMemory = 1L << 30;
// The largest photograph file read into memory.
constexpr std::size_t kMaxJpegFileBytes = std::size_t(1) << 30;

// libjpeg reports errors through these callbacks. They jump back to the guarded
// call (see Guard below) with the message kept, and the C++ side raises it.
struct TJpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
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

void OnProgress(j_common_ptr cinfo) {
    auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->input_scan_number <= kMaxScans)
        return;
    auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "the progressive file has more than %d scans",
                  kMaxScans);
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
        progress_.progress_monitor = OnProgress;
        if (!Create())
            Raise();
        created_ = true;
        cinfo_.progress = &progress_;
        cinfo_.mem->max_memory_to_use = kMaxDecoderMemory;
    }
    ~TJpegDecoder() {
        if (created_)
            jpeg_destroy_decompress(&cinfo_);
    }
    TJpegDecoder(const TJpegDecoder&) = delete;
    TJpegDecoder& operator=(const TJpegDecoder&) = delete;

    jpeg_decompress_struct& info() { return cinfo_; }

    void ReadHeader(const std::uint8_t* data, std::size_t size) {
        if (!GuardReadHeader(data, size))
            Raise();
    }
    void Start() {
        if (!GuardStart())
            Raise();
    }
    void ReadScanline(JSAMPROW row) {
        if (!GuardReadScanline(row))
            Raise();
    }
    void Finish() {
        if (!GuardFinish())
            Raise();
    }

    [[noreturn]] void Raise(const std::string& reason) const {
        throw EJpegError("Cannot decode \"" + fileName_ + "\": " + reason);
    }

private:
    [[noreturn]] void Raise() const { Raise(err_.message); }

    bool Create() {
        if (setjmp(err_.jump))
            return false;
        jpeg_create_decompress(&cinfo_);
        return true;
    }
    bool GuardReadHeader(const std::uint8_t* data, std::size_t size) {
        if (setjmp(err_.jump))
            return false;
        jpeg_mem_src(&cinfo_, data, static_cast<unsigned long>(size));
        jpeg_read_header(&cinfo_, TRUE);
        return true;
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
    bool GuardFinish() {
        if (setjmp(err_.jump))
            return false;
        jpeg_finish_decompress(&cinfo_);
        return true;
    }

    std::string fileName_;
    jpeg_decompress_struct cinfo_{};
    TJpegErrorManager err_{};
    jpeg_progress_mgr progress_{};
    bool created_ = false;
};

void DecodeInto(TPic& plane, const std::string& fileName, const std::vector<std::uint8_t>& file,
                std::uint8_t channel) {
    TJpegDecoder decoder(fileName);
    jpeg_decompress_struct& info = decoder.info();
    decoder.ReadHeader(file.data(), file.size());

    if (info.num_components != 1 && info.num_components != 3)
        decoder.Raise("its colour space (" + std::to_string(info.num_components) +
                      " components) is not supported; only greyscale and colour photographs are");
    if (std::int64_t(info.image_width) * info.image_height > kMaxPlanePixels)
        decoder.Raise("the picture of " + std::to_string(info.image_width) + " x " +
                      std::to_string(info.image_height) + " pixels is larger than the " +
                      std::to_string(kMaxPlanePixels) + " pixels a plane can hold");

    if (info.num_components == 3)
        info.out_color_space = JCS_EXT_RGBX; // the same values as RGB, in four-byte pixels
    decoder.Start();
    const auto width = static_cast<std::int32_t>(info.output_width);
    const auto height = static_cast<std::int32_t>(info.output_height);
    const bool grey = info.output_components == 1;
    try {
        plane.SetSize(width, height);
        std::vector<std::uint8_t> rgbx(grey ? 0 : 4 * std::size_t(width));
        for (std::int32_t row = 0; row < height; ++row) {
            if (grey) {
                decoder.ReadScanline(plane.Data[row]);
                continue;
            }
            decoder.ReadScanline(rgbx.data());
            if (channel <= kChannelBlue)
                ChannelRow(rgbx.data(), plane.Data[row], width, channel);
            else
                GreyRow(rgbx.data(), plane.Data[row], width);
        }
    } catch (const std::bad_alloc&) {
        decoder.Raise("not enough memory for a picture of " + std::to_string(width) + " x " +
                      std::to_string(height) + " pixels");
    }
    decoder.Finish();
}

} // namespace

bool LoadPlaneFromJpeg(TPic& plane, const std::string& fileName, std::uint8_t channel) {
    if (!FileExists(fileName))
        return false;
    std::vector<std::uint8_t> file = ReadWholeFile(fileName, kMaxJpegFileBytes);
    TPic decoded;
    DecodeInto(decoded, fileName, file, channel);
    plane = std::move(decoded);
    return true;
}
