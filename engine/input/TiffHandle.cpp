// The libtiff handle: positioned reads of the open file, no memory map, and
// libtiff's errors kept for the message instead of going to stderr.

#include "input/TiffHandle.h"

#include "base/Errors.h"
#include "base/Text.h"
#include "files/FileUtil.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <unistd.h>

using tiff_detail::TTiffSource;

namespace {

// The largest block libtiff may allocate at once (a strip's or a tile's data).
constexpr tmsize_t kMaxLibtiffBlock = tmsize_t(256) << 20;
// What libtiff reads ahead of a long strip's rows, beside the rows themselves.
tmsize_t OnRead(thandle_t handle, void* data, tmsize_t size) {
    auto* source = static_cast<TTiffSource*>(handle);
    std::size_t done = 0;
    while (done < std::size_t(size)) {
        const ssize_t n = RetryOnInterrupt([&] {
            return ::pread(source->fd, static_cast<char*>(data) + done, std::size_t(size) - done,
                           off_t(source->offset + done));
        });
        if (n < 0) {
            source->readError = errno;
            return -1;
        }
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    source->offset += done;
    return tmsize_t(done);
}

tmsize_t OnWrite(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t OnSeek(thandle_t handle, toff_t offset, int whence) {
    auto* source = static_cast<TTiffSource*>(handle);
    if (whence == SEEK_CUR)
        offset += source->offset;
    else if (whence == SEEK_END)
        offset += source->size;
    source->offset = offset;
    return offset;
}

int OnClose(thandle_t) {
    return 0;
}

toff_t OnSize(thandle_t handle) {
    return static_cast<TTiffSource*>(handle)->size;
}

int OnMap(thandle_t, void**, toff_t*) {
    return 0;
}

void OnUnmap(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* source = static_cast<TTiffSource*>(user);
    if (source->error.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        source->error = text;
        // Some messages begin with the file's name, which the caller's text names.
        const std::string prefix = source->name + ": ";
        if (source->error.compare(0, prefix.size(), prefix) == 0)
            source->error.erase(0, prefix.size());
    }
    return 1; // handled: nothing goes to stderr
}

// Warnings concern tags the pixels do not depend on.
int OnWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

} // namespace

namespace tiff_detail {

[[noreturn]] void RaiseDamaged(const std::string& fileName, const std::string& reason) {
    throw EPictureError("Cannot decode " + QuotedName(fileName) + ": " + reason);
}

TTiff::TTiff(const TInputFile& file, const std::string& fileName) : fileName_(fileName) {
    source_.name = fileName;
    source_.fd = file.Descriptor();
    source_.size = file.Size();
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &source_);
    TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxLibtiffBlock);
    // "m": no memory map, so that a file cut short while it is read gives an
    // error instead of a signal.
    tif_ = TIFFClientOpenExt(fileName.c_str(), "rm", &source_, OnRead, OnWrite, OnSeek, OnClose,
                             OnSize, OnMap, OnUnmap, options);
    TIFFOpenOptionsFree(options);
    if (!tif_)
        RaiseLast("it is not a TIFF that can be read");
}

TTiff::~TTiff() {
    if (tif_)
        TIFFClose(tif_);
}

void TTiff::RaiseLast(const std::string& reason) const {
    if (source_.readError != 0)
        RaiseFileError("read", fileName_, source_.readError);
    RaiseDamaged(fileName_, source_.error.empty() ? reason : source_.error);
}

} // namespace tiff_detail
