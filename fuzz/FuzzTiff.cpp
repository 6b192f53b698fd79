// Arbitrary bytes as a TIFF photograph, read through the engine's picture input
// with the checks of PictureChecks.cpp. The first four bytes are always a TIFF's
// byte order and magic number ("MM" when the input starts with 'M', else "II";
// BigTIFF's 43 when the input has it, else 42): without them the bytes would be
// taken for a JPEG, and the fuzzer's time would go to another decoder. The
// picture's size comes from the first image directory as libtiff reads it.

#include "FuzzSupport.h"
#include "PictureChecks.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <tiffio.h>
#include <vector>

namespace {

// The largest block libtiff may allocate at once while it reads the directory, as
// the engine allows it.
constexpr tmsize_t kMaxLibtiffBlock = tmsize_t(256) << 20;

// The input as libtiff reads it.
struct TMemorySource {
    const std::vector<std::uint8_t>* Bytes = nullptr;
    std::uint64_t Offset = 0;
};

tmsize_t OnRead(thandle_t handle, void* data, tmsize_t size) {
    auto& source = *static_cast<TMemorySource*>(handle);
    const std::uint64_t total = source.Bytes->size();
    const std::uint64_t start = std::min(source.Offset, total);
    const std::uint64_t count = std::min<std::uint64_t>(std::uint64_t(size), total - start);
    std::memcpy(data, source.Bytes->data() + start, std::size_t(count));
    source.Offset = start + count;
    return tmsize_t(count);
}

tmsize_t OnWrite(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t OnSeek(thandle_t handle, toff_t offset, int whence) {
    auto& source = *static_cast<TMemorySource*>(handle);
    if (whence == SEEK_CUR)
        offset += source.Offset;
    else if (whence == SEEK_END)
        offset += source.Bytes->size();
    source.Offset = offset;
    return offset;
}

int OnClose(thandle_t) {
    return 0;
}

toff_t OnSize(thandle_t handle) {
    return static_cast<TMemorySource*>(handle)->Bytes->size();
}

int OnMap(thandle_t, void**, toff_t*) {
    return 0;
}

void OnUnmap(thandle_t, void*, toff_t) {}

// libtiff's complaints are the engine's business; here they would only be noise.
int OnMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// The picture's size from the first image directory; 0 pixels when libtiff cannot
// read one. Tiles that reach beyond the picture do not count: what they may cost
// beyond the picture's own size is for the engine to bound, and a finding where it
// does not.
TDeclaredPicture Declared(const std::vector<std::uint8_t>& tiff) {
    TDeclaredPicture declared;
    declared.Format = TPictureFormat::Tiff;
    TMemorySource source{&tiff, 0};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        Finding("libtiff cannot allocate its options");
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, OnMessage, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxLibtiffBlock);
    TIFF* tif = TIFFClientOpenExt("photograph.tif", "rm", &source, OnRead, OnWrite, OnSeek, OnClose,
                                  OnSize, OnMap, OnUnmap, options);
    TIFFOpenOptionsFree(options);
    if (!tif)
        return declared;
    std::uint32_t width = 0, height = 0;
    if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) &&
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height))
        declared.Pixels = std::uint64_t(width) * height;
    TIFFClose(tif);
    return declared;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string file = ScratchFolder() + "/photograph.tif";

    std::vector<std::uint8_t> tiff(data, data + size);
    tiff.resize(std::max<std::size_t>(tiff.size(), 8));
    const bool motorola = tiff[0] == 'M';
    const int magic = motorola ? tiff[2] << 8 | tiff[3] : tiff[2] | tiff[3] << 8;
    const std::uint8_t version = magic == 43 ? 43 : 42;
    tiff[0] = tiff[1] = motorola ? 'M' : 'I';
    tiff[2] = motorola ? 0 : version;
    tiff[3] = motorola ? version : 0;
    WriteScratchFile(file, tiff.data(), tiff.size());

    return CheckPictureFile(file, Declared(tiff));
}
