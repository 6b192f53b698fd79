#include "files/FileUtil.h"

#include "base/Errors.h"
#include "base/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

void RaiseFileError(const char* what, const std::string& fileName, int error) {
    RaiseFileError(what, fileName, std::strerror(error));
}

void RaiseFileError(const char* what, const std::string& fileName, const std::string& reason) {
    throw EFileError(std::string("Cannot ") + what + " " + QuotedName(fileName) + ": " + reason);
}

namespace {

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

// Calls read(done), which reads on from byte done of count, until count bytes are
// in or the file ends; gives how many are in.
template <class TRead>
std::size_t ReadLoop(const std::string& fileName, std::size_t count, TRead read) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = RetryOnInterrupt([&] { return read(done); });
        if (n < 0)
            RaiseFileError("read", fileName, errno);
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

// Reads up to count bytes; returns fewer only at the end of the file.
std::size_t ReadUpTo(int fd, const std::string& fileName, std::uint8_t* data, std::size_t count) {
    return ReadLoop(fileName, count,
                    [&](std::size_t done) { return ::read(fd, data + done, count - done); });
}

std::vector<std::uint8_t> AllocateBuffer(const std::string& fileName, std::size_t size) {
    try {
        return std::vector<std::uint8_t>(size);
    } catch (const std::bad_alloc&) {
        RaiseFileError("read", fileName,
                       "not enough memory for " + std::to_string(size) + " bytes");
    }
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

std::string OverwrittenInputText(const std::vector<std::string>& outputs,
                                 const std::vector<std::string>& inputs) {
    // Each input is looked at once, however many outputs there are.
    std::map<std::pair<dev_t, ino_t>, const std::string*> existing;
    for (const std::string& input : inputs) {
        struct stat info {};
        if (::stat(input.c_str(), &info) == 0)
            existing.emplace(std::pair(info.st_dev, info.st_ino), &input);
    }
    for (const std::string& output : outputs) {
        struct stat info {};
        if (::stat(output.c_str(), &info) != 0)
            continue;
        const auto found = existing.find(std::pair(info.st_dev, info.st_ino));
        if (found != existing.end())
            return "The output " + QuotedName(output) + " is the same file as the input " +
                   QuotedName(*found->second) + "; choose another name.";
    }
    return {};
}

bool NoFileAt(const std::string& fileName) {
    if (fileName.empty())
        return true;
    struct stat info {};
    if (::stat(fileName.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    if (errno == ENOENT || errno == ENOTDIR)
        return true;
    RaiseFileError("open", fileName, errno);
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

namespace {

// Calls line(text of the line) for every line of text, as SplitLines defines them.
template <class TLine> void ForEachLine(std::string_view text, TLine line) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        line(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        line(text.substr(start));
}

} // namespace

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    ForEachLine(text, [&lines](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

std::size_t CountLines(std::string_view text) {
    std::size_t lines = 0;
    ForEachLine(text, [&lines](std::string_view) { ++lines; });
    return lines;
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

std::size_t ReadAt(const TInputFile& file, const std::string& fileName, std::uint8_t* data,
                   std::size_t count, std::uint64_t offset) {
    return ReadLoop(fileName, count, [&](std::size_t done) {
        return ::pread(file.Descriptor(), data + done, count - done, off_t(offset + done));
    });
}
