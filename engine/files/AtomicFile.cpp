#include "files/AtomicFile.h"

#include "base/Errors.h"
#include "files/FileUtil.h"
#include "base/Text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <set>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr std::size_t kBufferBytes = std::size_t(1) << 20;
// Temporary names keep this much of the target's name, well inside a name's limit.
constexpr std::size_t kMaxNamePart = 200;
constexpr std::size_t kRandomPart = 6;
constexpr std::string_view kTemporaryEnd = ".tmp";

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

std::string RandomPart() {
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::string part(kRandomPart, 'x');
    for (char& c : part)
        c = kDigits[device() % (sizeof kDigits - 1)];
    return part;
}

std::string FolderOf(const std::string& path) {
    const std::string folder = ExtractFilePath(path);
    return folder.empty() ? std::string("./") : folder;
}

// Reads ".<name>.<process>-<random>.tmp": the name part and the process number.
bool ParseTemporaryName(std::string_view file, std::string_view& name, long& process) {
    if (file.size() < 1 + 1 + 1 + 1 + kRandomPart + kTemporaryEnd.size() || file.front() != '.' ||
        !file.ends_with(kTemporaryEnd))
        return false;
    file.remove_prefix(1);
    file.remove_suffix(kTemporaryEnd.size());
    const std::size_t dash = file.size() - kRandomPart - 1;
    if (file[dash] != '-' ||
        !std::all_of(file.begin() + std::ptrdiff_t(dash) + 1, file.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }))
        return false;
    const std::size_t dot = file.rfind('.', dash);
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == dash || dash - dot > 10)
        return false;
    process = 0;
    for (std::size_t i = dot + 1; i < dash; ++i) {
        if (file[i] < '0' || file[i] > '9')
            return false;
        process = process * 10 + (file[i] - '0');
    }
    name = file.substr(0, dot);
    return true;
}

// Removes the temporary files of name in folder that processes which have ended
// left behind. A live process's files are its own business.
void RemoveStaleTemporaries(const std::string& folder, std::string_view name) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        std::string_view found;
        long process = 0;
        if (!ParseTemporaryName(entry->d_name, found, process) || found != name)
            continue;
        if (::kill(static_cast<pid_t>(process), 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

// Flushes a folder's entries (a rename, a removal) to disk.
void SyncFolder(const std::string& folder, const std::string& target) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return; // a folder we may write but not read: the rename stands all the same
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0 && error != EINVAL && error != EROFS)
        RaiseFileError("write", target, error);
}

// The reason a temporary file could not be made in folder, naming the folder when
// it is what the user may not write.
[[noreturn]] void RaiseCannotCreate(const std::string& target, const std::string& folder,
                                    int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        RaiseFileError("create", target,
                       "the folder " + QuotedName(folder) + " cannot be written (" +
                           std::strerror(error) + ")");
    case ENOENT:
        RaiseFileError("create", target, "the folder " + QuotedName(folder) + " does not exist");
    default:
        RaiseFileError("create", target, error);
    }
}

} // namespace

bool WrittenAtomically(const std::string& fileName) {
    struct stat info {};
    const bool exists = ::stat(ReplacedPath(fileName).c_str(), &info) == 0;
    return !WrittenInPlace(info, exists);
}

bool IsTemporaryFileName(const std::string& fileName) {
    std::string_view name;
    long process = 0;
    return ParseTemporaryName(ExtractFileName(fileName), name, process);
}

TAtomicFile::TAtomicFile(std::string fileName)
    : target_(std::move(fileName)), realPath_(ReplacedPath(target_)) {
    if (target_.empty())
        RaiseFileError("create", target_, "the name is empty");
    struct stat info {};
    const bool exists = ::stat(realPath_.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode))
        RaiseFileError("create", target_, "it is a folder");
    buffer_.reserve(kBufferBytes);
    if (WrittenInPlace(info, exists)) {
        fd_ = ::open(realPath_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0)
            RaiseFileError("create", target_, errno);
        return;
    }
    // Renaming would replace a file the user may not write: the folder allows it,
    // but the file's own protection says no. Root passes every access test, so the
    // mode's write bits count too.
    if (exists && ((info.st_mode & 0222) == 0 ||
                   ::faccessat(AT_FDCWD, realPath_.c_str(), W_OK, AT_EACCESS) != 0))
        RaiseFileError("replace", target_, "the file is write-protected");
    CreateTemporary(exists, info.st_mode & 07777);
}

void TAtomicFile::CreateTemporary(bool exists, unsigned mode) {
    const std::string folder = FolderOf(realPath_);
    const std::string name = ExtractFileName(realPath_).substr(0, kMaxNamePart);
    RemoveStaleTemporaries(folder, name);
    const std::string stem =
        ExtractFilePath(realPath_) + "." + name + "." + std::to_string(::getpid()) + "-";
    for (int attempt = 0; fd_ < 0; ++attempt) {
        tempPath_ = stem + RandomPart() + std::string(kTemporaryEnd);
        // Registered before it exists: a signal right after the file is made finds it.
        guard_.emplace(tempPath_, target_);
        fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && (errno != EEXIST || attempt == 100)) {
            const int error = errno;
            tempPath_.clear();
            guard_.reset();
            RaiseCannotCreate(target_, folder, error);
        }
    }
    if (exists)
        ::fchmod(fd_, mode); // keep the replaced file's permissions
}

TAtomicFile::~TAtomicFile() {
    Discard();
}

void TAtomicFile::Discard() noexcept {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!tempPath_.empty())
        ::unlink(tempPath_.c_str());
    tempPath_.clear();
    guard_.reset();
}

void TAtomicFile::Fail(const char* what, int error) {
    Discard();
    RaiseFileError(what, target_, error);
}

void TAtomicFile::WriteRaw(const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = RetryOnInterrupt([&] { return ::write(fd_, data + done, size - done); });
        if (n < 0)
            Fail("write", errno);
        done += static_cast<std::size_t>(n);
    }
}

void TAtomicFile::FlushBuffer() {
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
    FlushBuffer();
    if (size >= buffer_.capacity())
        WriteRaw(bytes, size); // a large block goes out without a copy
    else
        buffer_.insert(buffer_.end(), bytes, bytes + size);
}

void TAtomicFile::Write(const std::vector<TBlock>& blocks) {
    if (fd_ < 0)
        RaiseFileError("write", target_, EBADF);
    FlushBuffer();
    std::vector<iovec> pending;
    pending.reserve(blocks.size());
    for (const TBlock& block : blocks)
        if (block.Size > 0)
            pending.push_back({const_cast<void*>(block.Data), block.Size});
    std::size_t first = 0;
    while (first < pending.size()) {
        const int count = static_cast<int>(std::min<std::size_t>(pending.size() - first, IOV_MAX));
        const ssize_t n =
            RetryOnInterrupt([&] { return ::writev(fd_, pending.data() + first, count); });
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
    FlushBuffer();
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = RetryOnInterrupt(
            [&] { return ::pwrite(fd_, bytes, size, static_cast<off_t>(offset)); });
        if (n < 0)
            Fail("write", errno);
        bytes += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

void TAtomicFile::StartWriteBack() {
    if (fd_ < 0 || finished_)
        return;
    FlushBuffer();
    // Only a hint: the flush that counts is Finish's.
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void TAtomicFile::Finish() {
    if (finished_)
        return;
    if (fd_ < 0)
        RaiseFileError("write", target_, EBADF);
    FlushBuffer();
    buffer_ = {};
    // A device or a pipe written in place may not take a flush to disk.
    if (::fsync(fd_) != 0 && !(tempPath_.empty() && (errno == EINVAL || errno == EROFS)))
        Fail("write", errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR)
        Fail("write", errno);
    finished_ = true;
}

void TAtomicFile::PutInPlace() {
    if (tempPath_.empty())
        return;
    if (::rename(tempPath_.c_str(), realPath_.c_str()) != 0)
        Fail("replace", errno);
    tempPath_.clear();
    guard_.reset();
}

void TAtomicFile::Commit() {
    Finish();
    if (tempPath_.empty())
        return;
    PutInPlace();
    SyncFolder(FolderOf(realPath_), target_);
}

TAtomicFile& TAtomicFileSet::Add(std::string fileName) {
    // The file written before is complete: the disk can take it while this one is made.
    if (!files_.empty())
        files_.back()->StartWriteBack();
    return *files_.emplace_back(std::make_unique<TAtomicFile>(std::move(fileName)));
}

void TAtomicFileSet::Finish() {
    for (const auto& file : files_)
        file->Finish();
}

void TAtomicFileSet::Commit() {
    if (files_.empty())
        return;
    Finish();
    TAtomicFile& key = *files_.back();
    std::set<std::string> folders;
    for (const auto& file : files_)
        folders.insert(FolderOf(file->realPath_));
    if (!key.tempPath_.empty() && ::unlink(key.realPath_.c_str()) != 0 && errno != ENOENT)
        RaiseFileError("replace", key.target_, errno);
    for (std::size_t i = 0; i + 1 < files_.size(); ++i)
        files_[i]->PutInPlace();
    // The others are on disk before the key names them.
    for (const std::string& folder : folders)
        SyncFolder(folder, key.target_);
    key.PutInPlace();
    SyncFolder(FolderOf(key.realPath_), key.target_);
}

void WriteWholeFile(const std::string& fileName, const void* data, std::size_t size) {
    TAtomicFile file(fileName);
    file.Write(data, size);
    file.Commit();
}
