// PNG input: libpng reads the file in chunks through a callback, and each decoded
// row goes to the sink as it comes, so that a picture is never held whole (but
// for an interlaced one, whose rows are complete only after the last pass).

#include "input/PngInput.h"

#include "base/Errors.h"
#include "files/FileUtil.h"
#include "base/Text.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <png.h>
#include <unistd.h>
#include <vector>

namespace {

// Bytes read from the file at a time.
constexpr std::size_t kReadChunk = std::size_t(64) << 10;
// How far a PNG is read. The chunks before its picture data (text, profiles) may
// take kMaxHeaderBytes; the data itself may take kMaxDataShare times the bytes it
// stands for (stored blocks and chunk headers around tiny chunks) and kSlackBytes
// more for the chunks after it. A file that goes on beyond is refused once that
// much is read instead of being read to its end.
constexpr std::uint64_t kMaxHeaderBytes = std::uint64_t(64) << 20;
constexpr std::uint64_t kMaxDataShare = 16;
constexpr std::uint64_t kSlackBytes = std::uint64_t(16) << 20;
// Deflate makes at most 1032 bytes of one (a 258-byte match in two bits): data
// shorter than a picture's bytes over this can never fill it.
constexpr std::uint64_t kMaxInflation = 1032;
// Chunks libpng may hold in memory (profiles, text), and the work of inflating a
// compressed text chunk, are bounded by this.
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;
// libpng's working memory beside its rows: the inflate window and state.
constexpr std::uint64_t kInflateBytes = std::uint64_t(64) << 10;

// What the read callback and the error handler share with the decoder. Plain data:
// libpng jumps out of the callbacks on an error.
struct TPngInput {
    int fd = -1;
    std::uint64_t read = 0;     // bytes read from the file so far
    std::uint64_t maxBytes = 0; // how far it may be read
    std::size_t begin = 0, end = 0;
    int readError = 0;      // errno of a failed read, 0 otherwise
    char message[256] = {}; // why libpng stopped
    std::uint8_t buffer[kReadChunk];

    // Bytes of the file libpng has taken.
    std::uint64_t Taken() const { return read - (end - begin); }
};

void OnError(png_structp png, png_const_charp message) {
    auto* input = static_cast<TPngInput*>(png_get_error_ptr(png));
    if (input->message[0] == '\0')
        std::snprintf(input->message, sizeof input->message, "%s", message);
    png_longjmp(png, 1);
}

// libpng's warnings concern what the pixels do not depend on (an unknown profile,
// a discarded ancillary chunk).
void OnWarning(png_structp, png_const_charp) {}

void OnRead(png_structp png, png_bytep data, std::size_t length) {
    auto* input = static_cast<TPngInput*>(png_get_io_ptr(png));
    while (length > 0) {
        if (input->begin == input->end) {
            const ssize_t n = RetryOnInterrupt(
                [&] { return ::read(input->fd, input->buffer, sizeof input->buffer); });
            if (n < 0) {
                input->readError = errno;
                png_error(png, "the file cannot be read");
            }
            if (n == 0)
                png_error(png, "the file ends before its picture does");
            input->read += std::uint64_t(n);
            if (input->read > input->maxBytes) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "the file goes on beyond the %llu bytes its picture can take "
                              "(padding or damaged data)",
                              static_cast<unsigned long long>(input->maxBytes));
                png_error(png, text);
            }
            input->begin = 0;
            input->end = std::size_t(n);
        }
        const std::size_t part = std::min(length, input->end - input->begin);
        std::memcpy(data, input->buffer + input->begin, part);
        input->begin += part;
        data += part;
        length -= part;
    }
}

// libpng's reader and its information, freed together; also when the decoder's
// constructor raises after making them.
struct TPngHandles {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    TPngHandles() = default;
    TPngHandles(const TPngHandles&) = delete;
    TPngHandles& operator=(const TPngHandles&) = delete;
    ~TPngHandles() {
        if (Png)
            png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr);
    }
};

// Owns one libpng reader. The libpng calls that can fail run inside the Guard
// members: setjmp lives in a frame that holds no C++ object with a destructor.
class TPngDecoder {
public:
    TPngDecoder(const TInputFile& file, const std::string& fileName,
                const TPictureSettings& settings)
        : fileName_(fileName), fileSize_(file.Size()), settings_(settings),
          input_(std::make_unique<TPngInput>()) {
        input_->fd = file.Descriptor();
        input_->maxBytes = kMaxHeaderBytes;
        handles_.Png =
            png_create_read_struct(PNG_LIBPNG_VER_STRING, input_.get(), OnError, OnWarning);
        if (handles_.Png)
            handles_.Info = png_create_info_struct(handles_.Png);
        if (!handles_.Png || !handles_.Info)
            Raise("there is not enough memory for the PNG decoder");
        if (!GuardSetUp())
            Raise();
    }
    TPngDecoder(const TPngDecoder&) = delete;
    TPngDecoder& operator=(const TPngDecoder&) = delete;

    /// Reads the chunks up to the picture data, checks what they announce and
    /// sets up the rows (Header, Layout).
    void ReadHeader() {
        if (!GuardReadInfo())
            Raise();
        const std::int64_t width = width_, height = height_;
        if (!IsPictureSize(width, height))
            Raise("the picture of " + SizeText(width, height) + " pixels is larger than the " +
                  std::to_string(kMaxPlanePixels) + " pixels a plane can hold");
        const std::uint64_t pictureBytes =
            std::uint64_t(height) * ((std::uint64_t(width) * channels_ * bits_ + 7) / 8);
        const std::uint64_t left = fileSize_ > input_->Taken() ? fileSize_ - input_->Taken() : 0;
        if (left * kMaxInflation < pictureBytes)
            Raise("its " + CountText(left, "byte") +
                  " of picture data can never fill a picture of " + SizeText(width, height) +
                  " pixels");
        input_->maxBytes =
            input_->Taken() + kMaxDataShare * (pictureBytes + std::uint64_t(height)) + kSlackBytes;
    }

    TPictureHeader Header() const {
        TPictureHeader header;
        header.Format = TPictureFormat::Png;
        header.Width = std::int32_t(width_);
        header.Height = std::int32_t(height_);
        header.Components = colour_ ? 3 : 1;
        header.Bits = bits_;
        header.MaxValue = layout_.MaxValue;
        header.DecoderBytes = kInflateBytes + 3 * std::uint64_t(rowBytes_) +
                              (passes_ > 1 ? std::uint64_t(rowBytes_) * height_ : 0);
        return header;
    }

    const TSampleLayout& Layout() const { return layout_; }
    std::size_t RowBytes() const { return rowBytes_; }
    int Passes() const { return passes_; }

    void ReadRow(std::uint8_t* row) {
        if (!GuardReadRow(row))
            Raise();
    }
    /// Reads the chunks after the picture data, to the end of the file's picture.
    void Finish() {
        if (!GuardReadEnd())
            Raise();
    }

    [[noreturn]] void Raise(const std::string& reason) const {
        throw EPictureError("Cannot decode " + QuotedName(fileName_) + ": " + reason);
    }

private:
    [[noreturn]] void Raise() const {
        if (input_->readError != 0)
            RaiseFileError("read", fileName_, input_->readError);
        Raise(input_->message);
    }

    bool GuardSetUp() {
        if (setjmp(png_jmpbuf(handles_.Png)))
            return false;
        png_set_read_fn(handles_.Png, input_.get(), OnRead);
        // A bad checksum is damaged data, in any chunk. The chunks' checksums cover
        // every byte of the compressed picture, so the compressed stream's own
        // checksum of the inflated bytes, which costs a twentieth of the decoding,
        // adds nothing that the file's damage could escape.
        png_set_crc_action(handles_.Png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
        png_set_option(handles_.Png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
        png_set_chunk_malloc_max(handles_.Png, kMaxChunkBytes);
        // Text, colour profiles, suggested palettes and Exif data are passed over
        // (their bytes still read and checked): nothing here uses them, and libpng
        // takes such a chunk's claimed length into memory, and clears it, before
        // reading a byte of it, whatever its limit on chunks says, so that a file of
        // 416 bytes claiming 1.7 GB of text held the decoding for 18 s.
        static constexpr png_byte kPassedOver[] = {'t', 'E', 'X', 't', 0, 'z', 'T', 'X', 't', 0,
                                                   'i', 'T', 'X', 't', 0, 'i', 'C', 'C', 'P', 0,
                                                   's', 'P', 'L', 'T', 0, 'e', 'X', 'I', 'f', 0};
        png_set_keep_unknown_chunks(handles_.Png, PNG_HANDLE_CHUNK_NEVER, kPassedOver,
                                    int(sizeof kPassedOver / 5));
        return true;
    }

    bool GuardReadInfo() {
        if (setjmp(png_jmpbuf(handles_.Png)))
            return false;
        png_read_info(handles_.Png, handles_.Info);
        int colourType = 0, interlace = 0;
        png_get_IHDR(handles_.Png, handles_.Info, &width_, &height_, &bits_, &colourType,
                     &interlace, nullptr, nullptr);
        palette_ = colourType == PNG_COLOR_TYPE_PALETTE;
        colour_ = (colourType & PNG_COLOR_MASK_COLOR) != 0;
        channels_ = png_get_channels(handles_.Png, handles_.Info);
        // Samples as stored: a palette becomes its 8-bit colours, samples of fewer
        // than 8 bits one byte each with their own values.
        if (palette_)
            png_set_palette_to_rgb(handles_.Png);
        else if (bits_ < 8)
            png_set_packing(handles_.Png);
        passes_ = png_set_interlace_handling(handles_.Png);
        png_read_update_info(handles_.Png, handles_.Info);
        rowBytes_ = png_get_rowbytes(handles_.Png, handles_.Info);
        layout_.Samples = png_get_channels(handles_.Png, handles_.Info);
        layout_.ColourSamples = colour_ ? 3 : 1;
        layout_.Wide = png_get_bit_depth(handles_.Png, handles_.Info) == 16;
        // 16-bit samples stay big-endian as stored: the converter reads them so.
        layout_.Swapped = layout_.Wide && std::endian::native == std::endian::little;
        if (palette_)
            layout_.MaxValue = 255;
        else if (bits_ == 16 && settings_.Bits > 0)
            layout_.MaxValue = LargestSample(settings_.Bits);
        else
            layout_.MaxValue = LargestSample(bits_);
        return true;
    }

    bool GuardReadRow(std::uint8_t* row) {
        if (setjmp(png_jmpbuf(handles_.Png)))
            return false;
        png_read_row(handles_.Png, row, nullptr);
        return true;
    }

    bool GuardReadEnd() {
        if (setjmp(png_jmpbuf(handles_.Png)))
            return false;
        png_read_end(handles_.Png, nullptr);
        return true;
    }

    std::string fileName_;
    std::uint64_t fileSize_;
    TPictureSettings settings_;
    std::unique_ptr<TPngInput> input_;
    TPngHandles handles_;
    png_uint_32 width_ = 0, height_ = 0;
    int bits_ = 0;
    int channels_ = 0;
    bool palette_ = false;
    bool colour_ = false;
    int passes_ = 1;
    std::size_t rowBytes_ = 0;
    TSampleLayout layout_;
};

} // namespace

TPictureHeader ReadPngHeader(const TInputFile& file, const std::string& fileName,
                             const TPictureSettings& settings) {
    TPngDecoder decoder(file, fileName, settings);
    decoder.ReadHeader();
    return decoder.Header();
}

void DecodePngRows(const TInputFile& file, const std::string& fileName,
                   const TPictureSettings& settings, TPictureRowSink& sink) {
    TPngDecoder decoder(file, fileName, settings);
    decoder.ReadHeader();
    const TPictureHeader header = decoder.Header();
    const std::int32_t width = header.Width, height = header.Height;
    try {
        sink.Begin({width, height, decoder.Layout().MaxValue});
        TSampleConverter converter(decoder.Layout(), settings.Channel);
        auto hand = [&](std::int32_t row, const std::uint8_t* samples) {
            if (!sink.Needed(row, 1))
                return;
            converter.Convert(samples, width, sink.RowBuffer(row), sink.DeepRowBuffer(row));
            sink.RowDone(row);
        };
        if (decoder.Passes() == 1) {
            std::vector<std::uint8_t> samples(decoder.RowBytes());
            for (std::int32_t row = 0; row < height; ++row) {
                decoder.ReadRow(samples.data());
                hand(row, samples.data());
            }
        } else {
            // An interlaced picture's rows are whole only after its last pass.
            const std::size_t rowBytes = decoder.RowBytes();
            std::vector<std::uint8_t> picture(rowBytes * std::size_t(height));
            for (int pass = 0; pass < decoder.Passes(); ++pass)
                for (std::int32_t row = 0; row < height; ++row)
                    decoder.ReadRow(picture.data() + rowBytes * std::size_t(row));
            for (std::int32_t row = 0; row < height; ++row)
                hand(row, picture.data() + rowBytes * std::size_t(row));
        }
    } catch (const std::bad_alloc&) {
        decoder.Raise(NoMemoryForPictureText(width, height));
    }
    decoder.Finish();
}
