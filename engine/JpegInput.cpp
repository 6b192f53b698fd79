// JPEG input: decodes a photograph through libjpeg straight into a plane, one
// scanline at a time, and the grey mix of a colour pixel.

#include "Errors.h"
#include "FileUtil.h"
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

// Turns one decoded RGB scanline into plane values of the chosen channel.
void ConvertRow(const std::uint8_t* rgb, std::uint8_t* out, std::int32_t width,
                std::uint8_t channel) {
    if (channel <= kChannelBlue) {
        for (std::int32_t c = 0; c < width; ++c)
            out[c] = rgb[3 * c + channel];
        return;
    }
    for (std::int32_t c = 0; c < width; ++c)
        out[c] = GreyValue(rgb[3 * c], rgb[3 * c + 1], rgb[3 * c + 2]);
}

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

    decoder.Start();
    const auto width = static_cast<std::int32_t>(info.output_width);
    const auto height = static_cast<std::int32_t>(info.output_height);
    const bool grey = info.output_components == 1;
    try {
        plane.SetSize(width, height);
        std::vector<std::uint8_t> rgb(grey ? 0 : 3 * std::size_t(width));
        for (std::int32_t row = 0; row < height; ++row) {
            if (grey) {
                decoder.ReadScanline(plane.Data[row]);
                continue;
            }
            decoder.ReadScanline(rgb.data());
            ConvertRow(rgb.data(), plane.Data[row], width, channel);
        }
    } catch (const std::bad_alloc&) {
        decoder.Raise("not enough memory for a picture of " + std::to_string(width) + " x " +
                      std::to_string(height) + " pixels");
    }
    decoder.Finish();
}

// The grey mix in the arithmetic of an x87 extended float (64-bit significand,
// round to nearest even after each step), emulated with integers so that it gives
// the same result on every machine. Only needed when the decimal mix lies exactly
// halfway between two integers; elsewhere the decimal value decides.
__extension__ typedef unsigned __int128 TUInt128;

// A positive value Mant × 2^Exp; Mant has its top bit set (or is 0 for zero).
struct TExtended {
    std::uint64_t Mant = 0;
    int Exp = 0;
};

// Rounds x × 2^exp to a 64-bit significand, ties to even.
TExtended Normalize(TUInt128 x, int exp) {
    if (x == 0)
        return {};
    int bits = 128 - (static_cast<std::uint64_t>(x >> 64) != 0
                          ? __builtin_clzll(static_cast<std::uint64_t>(x >> 64))
                          : 64 + __builtin_clzll(static_cast<std::uint64_t>(x)));
    if (bits <= 64)
        return {static_cast<std::uint64_t>(x << (64 - bits)), exp - (64 - bits)};
    int shift = bits - 64;
    TUInt128 kept = x >> shift;
    TUInt128 rest = x & ((TUInt128(1) << shift) - 1);
    TUInt128 half = TUInt128(1) << (shift - 1);
    if (rest > half || (rest == half && (kept & 1) != 0))
        ++kept;
    exp += shift;
    if ((kept >> 64) != 0) { // rounding carried into a 65th bit
        kept >>= 1;
        ++exp;
    }
    return {static_cast<std::uint64_t>(kept), exp};
}

TExtended Multiply(std::uint8_t v, TExtended c) {
    return Normalize(TUInt128(v) * c.Mant, c.Exp);
}

TExtended Add(TExtended a, TExtended b) {
    if (a.Mant == 0)
        return b;
    if (b.Mant == 0)
        return a;
    if (a.Exp < b.Exp)
        std::swap(a, b);
    // The operands are within a few octaves of each other, so the exact sum fits.
    int shift = a.Exp - b.Exp;
    return Normalize((TUInt128(a.Mant) << shift) + b.Mant, b.Exp);
}

// Rounds a value of at most 255.5 to the nearest integer, ties to even.
std::uint8_t RoundToEven(TExtended s) {
    if (s.Mant == 0)
        return 0;
    int shift = -s.Exp; // positive: the value is below 2^64
    if (shift > 126)
        return 0;
    TUInt128 m = s.Mant;
    TUInt128 kept = m >> shift;
    TUInt128 rest = m & ((TUInt128(1) << shift) - 1);
    TUInt128 half = TUInt128(1) << (shift - 1);
    if (rest > half || (rest == half && (kept & 1) != 0))
        ++kept;
    return static_cast<std::uint8_t>(kept);
}

std::uint8_t GreyValueExtended(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    // The extended values nearest to 0.3, 0.59 and 0.11.
    constexpr TExtended k03{0x999999999999999AULL, -2 - 63};
    constexpr TExtended k059{0x970A3D70A3D70A3DULL, -1 - 63};
    constexpr TExtended k011{0xE147AE147AE147AEULL, -4 - 63};
    return RoundToEven(Add(Add(Multiply(r, k03), Multiply(g, k059)), Multiply(b, k011)));
}

} // namespace

std::uint8_t GreyValue(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    // 100 × the decimal mix. Unless it ends in exactly .50 it lies at least 0.01 from a
    // half, far beyond the error of the extended arithmetic, and rounds the same.
    unsigned n = 30u * red + 59u * green + 11u * blue;
    unsigned whole = n / 100;
    unsigned hundredths = n % 100;
    if (hundredths != 50)
        return static_cast<std::uint8_t>(whole + (hundredths > 50 ? 1 : 0));
    return GreyValueExtended(red, green, blue);
}

std::uint8_t GreyValue(const TPixelTriple& pixel) {
    return GreyValue(pixel.Red, pixel.Green, pixel.Blue);
}

bool LoadPlaneFromJpeg(TPic& plane, const std::string& fileName, std::uint8_t channel) {
    if (!FileExists(fileName))
        return false;
    std::vector<std::uint8_t> file = ReadWholeFile(fileName, kMaxJpegFileBytes);
    TPic decoded;
    DecodeInto(decoded, fileName, file, channel);
    plane = std::move(decoded);
    return true;
}
