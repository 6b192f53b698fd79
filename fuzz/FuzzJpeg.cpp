// Arbitrary bytes as a photograph. Only EJpegError and EFileError may come out of
// the decoder; anything else, a crash or a sanitizer report is a finding.
//
// A small picture is decoded three times: from memory for the red channel and the
// grey mix, and from a file for the grey mix, which must give what the decoding
// from memory gave. A picture of more than kCheckedPixels pixels is decoded once,
// and one of more than kDecodedPixels is not decoded at all unless it lies beyond
// the decoder's own limit: under the sanitizers and the coverage counters a
// picture of hundreds of megapixels takes longer than the fuzzer's time limit,
// which says nothing about the decoder. Sizes beyond the limit must be refused
// before anything is allocated, and are always tried.

#include "base/Errors.h"
#include "FuzzSupport.h"
#include "PicHolder.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>

namespace {

constexpr std::uint64_t kCheckedPixels = std::uint64_t(1) << 20;
constexpr std::uint64_t kDecodedPixels = std::uint64_t(1) << 24;

struct THeaderError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void OnHeaderError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<THeaderError*>(cinfo->err)->jump, 1);
}

void OnHeaderMessage(j_common_ptr, int) {}

// The picture size the header declares as libjpeg reads it; 0 when it cannot
// read the header.
std::uint64_t DeclaredPixels(const std::uint8_t* data, std::size_t size) {
    jpeg_decompress_struct cinfo{};
    THeaderError err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnHeaderError;
    err.pub.emit_message = OnHeaderMessage;
    jpeg_create_decompress(&cinfo);
    std::uint64_t pixels = 0;
    if (setjmp(err.jump) == 0) {
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
        if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK)
            pixels = std::uint64_t(cinfo.image_width) * cinfo.image_height;
    }
    jpeg_destroy_decompress(&cinfo);
    return pixels;
}

// Decodes into plane; false when the decoder refused the input as it should.
template <class TDecode> bool Decoded(TPic& plane, TDecode decode) {
    try {
        decode();
    } catch (const EJpegError&) {
        return false;
    } catch (const EFileError&) {
        return false;
    }
    if (plane.Width <= 0 || plane.Height <= 0 ||
        std::int64_t(plane.Width) * plane.Height > kMaxPlanePixels ||
        plane.Data.size() != std::size_t(plane.Width) * std::size_t(plane.Height))
        Finding("a decoded plane of " + std::to_string(plane.Width) + " x " +
                std::to_string(plane.Height) + " holds " + std::to_string(plane.Data.size()) +
                " bytes");
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string file = ScratchFolder() + "/photograph.jpg";

    const std::uint64_t pixels = DeclaredPixels(data, size);
    const bool beyondLimit = pixels > std::uint64_t(kMaxPlanePixels);
    if (pixels > kDecodedPixels && !beyondLimit)
        return -1; // not added to the corpus

    TPic grey;
    const bool fromMemory =
        Decoded(grey, [&] { DecodeJpegPlane(grey, data, size, "fuzz.jpg", kChannelGrey); });
    if (fromMemory && beyondLimit)
        Finding("a picture of " + std::to_string(pixels) + " pixels was decoded");
    if (pixels > kCheckedPixels && !beyondLimit)
        return 0;

    {
        TPic red;
        const bool redDecoded =
            Decoded(red, [&] { DecodeJpegPlane(red, data, size, "fuzz.jpg", kChannelRed); });
        if (redDecoded != fromMemory)
            Finding("the photograph decodes for one channel but not for another");
    }

    // The same bytes read from a file go through the decoder's own file reading.
    WriteScratchFile(file, data, size);
    TPic fromFile;
    const bool fromDisk = Decoded(fromFile, [&] {
        if (!LoadPlaneFromJpeg(fromFile, file, kChannelGrey))
            Finding("the scratch photograph was not found");
    });
    if (fromMemory != fromDisk)
        Finding(std::string("the photograph decodes ") + (fromMemory ? "" : "not ") +
                "from memory but " + (fromDisk ? "" : "not ") + "from a file");
    if (fromMemory && (grey.Width != fromFile.Width || grey.Height != fromFile.Height ||
                       std::memcmp(grey.Data.data(), fromFile.Data.data(), grey.Data.size()) != 0))
        Finding("the photograph decodes differently from memory and from a file");
    return 0;
}
