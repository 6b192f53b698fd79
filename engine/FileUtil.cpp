#include "FileUtil.h"

#include "Errors.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

[[noreturn]] void RaiseFileError(const char* what, const std::string& fileName, int error) {
    throw EFileError(std::string("Cannot ") + what + " \"" + fileName +
                     "\": " + std::strerror(error));
}

[[noreturn]] void RaiseFileError(const char* what, const std::string& fileName,
                                 const std::string& reason) {
    throw EFileError(std::string("Cannot ") + what + " \"" + fileName + "\": " + reason);
}

[[noreturn]] void RaiseNotRegular(const std::string& fileName, const struct stat& info) {
    RaiseFileError("read", fileName,
                   S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file");
}

// Opens a file for reading and checks that it is a regular file. Anything else is
// refused before it is opened, since opening a device can do things of its own
// (a terminal, a serial line, a watchdog); a file replaced by one in between is
// opened without waiting and refused all the same.
int OpenRegularForReading(const std::string& fileName, struct stat& info) {
    if (::stat(fileName.c_str(), &info) != 0)
        RaiseFileError("open", fileName, errno);
    if (!S_ISREG(info.st_mode))
        RaiseNotRegular(fileName, info);
    int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        RaiseFileError("open", fileName, errno);
    if (::fstat(fd, &info) != 0) {
        int error = errno;
        ::close(fd);
        RaiseFileError("read", fileName, error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        RaiseNotRegular(fileName, info);
    }
    return fd;
}

// Reads up to count bytes; returns fewer only at the end of the file.
std::size_t ReadUpTo(int fd, const std::string& fileName, std::uint8_t* data, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, data + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            RaiseFileError("read", fileName, errno);
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::vector<std::uint8_t> AllocateBuffer(const std::string& fileName, std::size_t size) {
    try {
        return std::vector<std::uint8_t>(size);
    } catch (const std::bad_alloc&) {
        RaiseFileError("read", fileName,
                       "not enough memory for " + std::to_string(size) + " bytes");
    }
}

std::string RandomSuffix() {
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::string suffix(8, 'x');
    for (char& c : suffix)
        c = kDigits[device() % (sizeof kDigits - 1)];
    return suffix;
}

} // namespace

TInputFile::TInputFile(const std::string& fileName) {
    struct stat info {};
    fd_ = OpenRegularForReading(fileName, info);
    size_ = static_cast<std::size_t>(info.st_size);
}

TInputFile::~TInputFile() {
    ::close(fd_);
}

bool NamesSameFile(const std::string& a, const std::string& b) {
    struct stat infoA {};
    struct stat infoB {};
    const bool existsA = ::stat(a.c_str(), &infoA) == 0;
    const bool existsB = ::stat(b.c_str(), &infoB) == 0;
    if (existsA && existsB)
        return infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
    if (existsA || existsB)
        return false;
    auto resolved = [](const std::string& name, std::error_code& error) {
        const std::filesystem::path path = std::filesystem::absolute(name, error);
        return error ? path : std::filesystem::weakly_canonical(path, error);
    };
    std::error_code errorA, errorB;
    const std::filesystem::path pathA = resolved(a, errorA);
    const std::filesystem::path pathB = resolved(b, errorB);
    if (errorA || errorB)
        return a == b;
    return pathA == pathB;
}

bool FileExists(const std::string& fileName) {
    struct stat info {};
    return !fileName.empty() && ::stat(fileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& fileName, std::size_t maxBytes) {
    TInputFile file(fileName);
    const std::size_t size = file.Size();
    if (size > maxBytes)
        RaiseFileError("read", fileName,
                       "it holds " + std::to_string(size) + " bytes, more than the " +
                           std::to_string(maxBytes) + " this kind of file may have");
    std::vector<std::uint8_t> bytes = AllocateBuffer(fileName, size);
    bytes.resize(ReadUpTo(file.Descriptor(), fileName, bytes.data(), size));
    // A file that grew after it was opened: its newer bytes are not read.
    return bytes;
}

std::vector<std::uint8_t> ReadFilePrefix(const std::string& fileName, std::size_t count) {
    TInputFile file(fileName);
    const std::size_t size = std::min(count, file.Size());
    std::vector<std::uint8_t> bytes = AllocateBuffer(fileName, size);
    bytes.resize(ReadUpTo(file.Descriptor(), fileName, bytes.data(), size));
    return bytes;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

std::size_t CountLines(std::string_view text) {
    std::size_t lines = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        ++lines;
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    return start < text.size() ? lines + 1 : lines;
}

std::vector<std::string> ReadTextLines(const std::string& fileName) {
    return SplitLines(TTextFile(fileName).Text());
}

std::string ExtractFilePath(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    std::size_t nameStart = ExtractFilePath(path).size();
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return path + ext;
    return path.substr(0, dot) + ext;
}

std::string ResolveFileName(const std::string& name, const std::string& folder) {
    if (name.empty() || name.front() == '/' || folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + '/' + name;
}

// ---------------------------------------------------------------------------

namespace {

// The file a write to fileName replaces: the file a symbolic link points to, not
// the link.
std::string ReplacedPath(const std::string& fileName) {
    struct stat info {};
    if (::lstat(fileName.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return fileName;
    std::string path = fileName;
    if (char* resolved = ::realpath(fileName.c_str(), nullptr)) {
        path = resolved;
        std::free(resolved);
    }
    return path;
}

// An existing target that is neither a regular file nor a folder (a device, a pipe)
// cannot be replaced and is written in place.
bool WrittenInPlace(const struct stat& info, bool exists) {
    return exists && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

} // namespace

bool WrittenAtomically(const std::string& fileName) {
    struct stat info {};
    const bool exists = ::stat(ReplacedPath(fileName).c_str(), &info) == 0;
    return !WrittenInPlace(info, exists);
}

TAtomicFile::TAtomicFile(std::string fileName)
    : target_(std::move(fileName)), realPath_(ReplacedPath(target_)) {
    struct stat info {};
    const bool exists = ::stat(realPath_.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode))
        RaiseFileError("create", target_, "it is a folder");
    if (WrittenInPlace(info, exists)) {
        fd_ = ::open(realPath_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd_ < 0)
            RaiseFileError("create", target_, errno);
        buffer_.reserve(1 << 20);
        return;
    }

    std::string folder = ExtractFilePath(realPath_);
    std::string name = ExtractFileName(realPath_).substr(0, 200);
    for (int attempt = 0; fd_ < 0; ++attempt) {
        tempPath_ = folder + "." + name + "." + RandomSuffix() + ".tmp";
        fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && (errno != EEXIST || attempt == 100)) {
            int error = errno;
            tempPath_.clear();
            RaiseFileError("create", target_, error);
        }
    }
    if (exists)
        ::fchmod(fd_, info.st_mode & 07777); // keep the replaced file's permissions
    buffer_.reserve(1 << 20);
}

TAtomicFile::~TAtomicFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!tempPath_.empty())
        ::unlink(tempPath_.c_str());
}

void TAtomicFile::Fail(const char* what, int error) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!tempPath_.empty())
        ::unlink(tempPath_.c_str());
    tempPath_.clear();
    RaiseFileError(what, target_, error);
}

void TAtomicFile::WriteRaw(const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd_, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Fail("write", errno);
        done += static_cast<std::size_t>(n);
    }
}

void TAtomicFile::Flush() {
    WriteRaw(buffer_.data(), buffer_.size());
    buffer_.clear();
}

void TAtomicFile::Write(const void* data, std::size_t size) {
    if (fd_ < 0)
        RaiseFileError("write", target_, EBADF);
    const char* bytes = static_cast<const char*>(data);
    if (buffer_.size() + size <= buffer_.capacity()) {
        buffer_.insert(buffer_.end(), bytes, bytes + size);
        return;
    }
    Flush();
    if (size >= buffer_.capacity())
        WriteRaw(bytes, size); // a large block goes out without a copy
    else
        buffer_.insert(buffer_.end(), bytes, bytes + size);
}

void TAtomicFile::Write(const std::vector<TBlock>& blocks) {
    if (fd_ < 0)
        RaiseFileError("write", target_, EBADF);
    Flush();
    std::vector<iovec> pending;
    pending.reserve(blocks.size());
    for (const TBlock& block : blocks)
        if (block.Size > 0)
            pending.push_back({const_cast<void*>(block.Data), block.Size});
    std::size_t first = 0;
    while (first < pending.size()) {
        const int count = static_cast<int>(std::min<std::size_t>(pending.size() - first, IOV_MAX));
        ssize_t n = ::writev(fd_, pending.data() + first, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Fail("write", errno);
        // Step over what was written; a partly written block goes on from where it stopped.
        auto written = static_cast<std::size_t>(n);
        while (first < pending.size() && written >= pending[first].iov_len)
            written -= pending[first++].iov_len;
        if (written > 0) {
            pending[first].iov_base = static_cast<char*>(pending[first].iov_base) + written;
            pending[first].iov_len -= written;
        }
    }
}

void TAtomicFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    if (fd_ < 0)
        RaiseFileError("write", target_, EBADF);
    Flush();
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Fail("write", errno);
        bytes += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

void TAtomicFile::Commit() {
    if (fd_ < 0)
        RaiseFileError("write", target_, EBADF);
    Flush();
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        Fail("write", errno);
    if (tempPath_.empty())
        return;
    if (::rename(tempPath_.c_str(), realPath_.c_str()) != 0)
        Fail("replace", errno);
    tempPath_.clear();
}

void WriteWholeFile(const std::string& fileName, const void* data, std::size_t size) {
    TAtomicFile file(fileName);
    file.Write(data, size);
    file.Commit();
}
