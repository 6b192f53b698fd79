// Arbitrary bytes as a PNG photograph, read through the engine's picture input with
// the checks of PictureChecks.cpp. The first eight bytes are always the PNG
// signature: without it the bytes would be taken for a JPEG, and the fuzzer's time
// would go to another decoder. The picture's size comes from the IHDR chunk, which
// must be the first one.
//
// The decoder refuses a chunk whose checksum is wrong, and nearly every change the
// fuzzer makes inside a chunk would end there. So every whole chunk's checksum is
// made right, unless the input's first byte (which the signature replaces) is not
// the signature's own 0x89: such inputs keep their checksums as they are.

#include "FuzzSupport.h"
#include "PictureChecks.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <zlib.h>

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t BigEndian32(const std::uint8_t* bytes) {
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
           std::uint32_t(bytes[2]) << 8 | std::uint32_t(bytes[3]);
}

// Width × height as the IHDR chunk after the signature says; 0 without one.
std::uint64_t DeclaredPixels(const std::vector<std::uint8_t>& png) {
    if (png.size() < 24 || std::memcmp(png.data() + 12, "IHDR", 4) != 0)
        return 0;
    return std::uint64_t(BigEndian32(png.data() + 16)) * BigEndian32(png.data() + 20);
}

// Gives every chunk that ends inside the file the checksum of its type and data.
void FixChecksums(std::vector<std::uint8_t>& png) {
    std::size_t at = sizeof kSignature;
    while (png.size() - at >= 12) {
        const std::size_t length = BigEndian32(png.data() + at);
        if (length > png.size() - at - 12)
            return;
        const std::uint8_t* typeAndData = png.data() + at + 4;
        const auto crc = static_cast<std::uint32_t>(
            crc32(crc32(0, nullptr, 0), typeAndData, static_cast<uInt>(4 + length)));
        std::uint8_t* stored = png.data() + at + 8 + length;
        for (int k = 0; k < 4; ++k)
            stored[k] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
        at += 12 + length;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string file = ScratchFolder() + "/photograph.png";

    std::vector<std::uint8_t> png(data, data + size);
    png.resize(std::max(png.size(), sizeof kSignature));
    const bool keepChecksums = png[0] != kSignature[0];
    std::copy(std::begin(kSignature), std::end(kSignature), png.begin());
    if (!keepChecksums)
        FixChecksums(png);
    WriteScratchFile(file, png.data(), png.size());

    TDeclaredPicture declared;
    declared.Format = TPictureFormat::Png;
    declared.Pixels = DeclaredPixels(png);
    return CheckPictureFile(file, declared);
}
