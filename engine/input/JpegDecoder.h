#pragma once
// One libjpeg decompressor, for the JPEG input of engine/input: its header read
// from memory or from an open file read in chunks, checked against what a plane
// can take, and its scanlines made or passed over; every failure raised as an
// error that names the photograph.

#include "input/JpegErrors.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <jpeglib.h>
#include <memory>
#include <string>

namespace jpeg_detail {

struct TFileSource;

/// Owns one decompressor. The libjpeg calls that can fail run inside the Guard
/// members: setjmp lives in a frame that holds no C++ object with a destructor,
/// so the jump back from an error skips nothing that needs cleaning up.
class TJpegDecoder {
public:
    /// fileName stands for the photograph in messages.
    explicit TJpegDecoder(const std::string& fileName);
    ~TJpegDecoder();
    TJpegDecoder(const TJpegDecoder&) = delete;
    TJpegDecoder& operator=(const TJpegDecoder&) = delete;

    jpeg_decompress_struct& info() { return cinfo_; }

    /// Reads the header of a photograph held in memory.
    void ReadHeader(const std::uint8_t* data, std::size_t size);
    /// Reads the header of a photograph from an open file, which is then read on
    /// as the decoding needs it.
    void ReadHeader(int fd);

    /// Checks what the header says against what a plane can take; raises EJpegError.
    void CheckHeader() const;

    /// The working memory decoding will take beside the plane, once the header is read.
    std::uint64_t DecoderBytes() const;
    void Start();
    void ReadScanline(JSAMPROW row);
    /// Passes over count rows without making pixels of them; their data is still
    /// read and checked, as long as the last row is not among them.
    void SkipScanlines(JDIMENSION count);
    void Finish();

    /// Raises EJpegError: "Cannot decode "name": reason".
    [[noreturn]] void Raise(const std::string& reason) const;

private:
    [[noreturn]] void Raise() const;

    bool Create();
    // With data, the photograph is in memory; otherwise cinfo_.src is set already.
    bool GuardReadHeader(const std::uint8_t* data, std::size_t size);
    // How many bytes the coded data after the header may take (see kMaxBlockBytes).
    std::uint64_t CodedDataBytes() const;
    // The blocks of 8 x 8 values of all components, once the header is read.
    std::uint64_t Blocks() const;
    bool GuardStart();
    bool GuardReadScanline(JSAMPROW row);
    bool GuardSkipScanlines(JDIMENSION count);
    bool GuardFinish();

    std::string fileName_;
    jpeg_decompress_struct cinfo_{};
    TJpegErrorManager err_{};
    TScanProgress progress_{};
    std::unique_ptr<TFileSource> source_;
    bool created_ = false;
};

} // namespace jpeg_detail
