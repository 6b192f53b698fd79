#pragma once
// Small file-system helpers: existence tests, whole-file reads, text lines and
// file-name parts (files written whole: AtomicFile.h). Failures raise EFileError naming the file.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// Raises EFileError "Cannot <what> "<file name>": <reason>", the name escaped as
/// QuotedName does; the second form takes the reason from an errno value.
[[noreturn]] void RaiseFileError(const char* what, const std::string& fileName,
                                 const std::string& reason);
[[noreturn]] void RaiseFileError(const char* what, const std::string& fileName, int error);

/// True when fileName names an existing file that is not a folder.
bool FileExists(const std::string& fileName);

/// True when fileName names no file to read: it is empty, names nothing, or names
/// a folder. Raises EFileError when the system cannot tell, such as for a loop of
/// symbolic links ("Too many levels of symbolic links") or a folder it may not search.
bool NoFileAt(const std::string& fileName);

/// True when both names stand for one file: the same existing file (device and
/// inode, links followed), or, for names of files that do not exist yet, the same
/// path once made absolute with links in its folders resolved.
bool NamesSameFile(const std::string& a, const std::string& b);

/// Empty when no existing file among outputs is one of inputs (device and inode,
/// links followed); otherwise a sentence naming the first such pair: "The output
/// "x" is the same file as the input "y"; choose another name."
std::string OverwrittenInputText(const std::vector<std::string>& outputs,
                                 const std::vector<std::string>& inputs);

/// Reads the whole file. Raises EFileError when it cannot be opened or read, is a
/// folder or another non-regular file, or holds more than maxBytes bytes.
std::vector<std::uint8_t> ReadWholeFile(const std::string& fileName,
                                        std::size_t maxBytes = std::size_t(1) << 30);

/// Reads the first count bytes of a file (fewer if it is shorter) without reading
/// the rest. Raises EFileError as ReadWholeFile does.
std::vector<std::uint8_t> ReadFilePrefix(const std::string& fileName, std::size_t count);

/// A regular file open for reading, closed when the object goes. Raises EFileError
/// naming the file when it cannot be opened, or is a folder or another kind of
/// non-regular file (a device, a pipe).
class TInputFile {
public:
    explicit TInputFile(const std::string& fileName);
    ~TInputFile();
    TInputFile(const TInputFile&) = delete;
    TInputFile& operator=(const TInputFile&) = delete;

    int Descriptor() const { return fd_; }
    /// The file's size when it was opened.
    std::size_t Size() const { return size_; }

private:
    int fd_ = -1;
    std::size_t size_ = 0;
};

/// Reads up to count bytes of file from offset on, fewer only where it ends; gives
/// how many. Raises EFileError naming fileName when reading fails.
std::size_t ReadAt(const TInputFile& file, const std::string& fileName, std::uint8_t* data,
                   std::size_t count, std::uint64_t offset);

/// Splits text into lines at CR LF, a lone LF or a lone CR. A break after the last
/// line adds no line; an empty line anywhere else counts as a line.
std::vector<std::string> SplitLines(std::string_view text);

/// The number of lines SplitLines would give, counted without building them, so
/// that a file of millions of short lines can be refused before it costs memory.
std::size_t CountLines(std::string_view text);

/// The largest text file (list, header, table) read: far beyond any real one.
inline constexpr std::size_t kMaxTextBytes = std::size_t(64) << 20;

/// The bytes of a text file of at most kMaxTextBytes, to be counted or split into
/// lines. Raises EFileError as ReadWholeFile does.
class TTextFile {
public:
    explicit TTextFile(const std::string& fileName)
        : bytes_(ReadWholeFile(fileName, kMaxTextBytes)) {}
    std::string_view Text() const {
        return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()};
    }

private:
    std::vector<std::uint8_t> bytes_;
};

/// Reads a text file (at most kMaxTextBytes) and splits it with SplitLines.
std::vector<std::string> ReadTextLines(const std::string& fileName);

/// The folder part of a path: everything up to and including the last '/'.
/// Empty for a bare file name.
std::string ExtractFilePath(const std::string& path);

/// The file-name part of a path: everything after the last '/'.
std::string ExtractFileName(const std::string& path);

/// Replaces the extension of the last path component (from its last '.' on) by
/// ext, or appends ext when that component has no '.'. out.txt → out.bmp, out → out.bmp.
std::string ChangeFileExt(const std::string& path, const std::string& ext);

/// name resolved against folder: a relative, non-empty name is joined to a
/// non-empty folder; anything else is returned as it is.
std::string ResolveFileName(const std::string& name, const std::string& folder);

/// Makes a system call again for as long as a signal interrupts it before it has
/// done anything (-1 with EINTR); gives its last result.
template <class TCall> auto RetryOnInterrupt(TCall call) {
    for (;;) {
        const auto result = call();
        if (!(result < 0 && errno == EINTR))
            return result;
    }
}

#include "files/AtomicFile.h"
