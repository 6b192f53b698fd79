#pragma once
// Files replaced as a whole: written to a hidden temporary file in the target's
// folder, flushed to disk and renamed over the target, so that a reader, a crash
// or a full disk meets either the former file or the new one, never a mix.

#include "files/Interrupts.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// A file written in one piece: the bytes go to a temporary file in the target's
/// folder, and Commit flushes it to disk, renames it over the target and flushes
/// the folder. A write that fails or is never committed leaves the former file
/// untouched and removes the temporary file; so does a SIGINT, SIGTERM or SIGHUP
/// once InstallInterruptHandlers has run. Temporary files are named
/// ".<name>.<process>-<random>.tmp"; those that an ended process left behind (a
/// kill -9, a power loss) are removed by the next write of the same file.
/// An existing target that is not a regular file (a device such as /dev/null or
/// /dev/full, a pipe) is written in place instead, since it cannot be replaced.
/// A regular target that the user may not write is refused ("the file is
/// write-protected"), even in a folder where it could be replaced.
class TAtomicFile {
public:
    explicit TAtomicFile(std::string fileName);
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    /// Appends bytes; raises EFileError when they cannot be written.
    void Write(const void* data, std::size_t size);
    void Write(std::string_view text) { Write(text.data(), text.size()); }

    /// Appends the blocks one after the other, straight from where they lie.
    struct TBlock {
        const void* Data;
        std::size_t Size;
    };
    void Write(const std::vector<TBlock>& blocks);

    /// Writes bytes over the part of the file at offset, which must have been
    /// written before; the end of the file stays where it is.
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size);

    /// Writes out what is buffered and asks the system to start putting it on disk,
    /// without waiting: a later Finish then finds most of it there.
    void StartWriteBack();

    /// Writes out what is buffered, flushes the file to disk and closes it; the
    /// temporary file stays until Commit or the end of the object. Raises EFileError.
    void Finish();

    /// Finish, then puts the file in place and flushes its folder; raises EFileError.
    void Commit();

    /// The name the caller asked for.
    const std::string& Target() const { return target_; }

private:
    friend class TAtomicFileSet;
    // Renames the finished temporary file over the target; the folder is not flushed.
    void PutInPlace();
    void CreateTemporary(bool exists, unsigned mode);
    void FlushBuffer();
    void WriteRaw(const char* data, std::size_t size);
    [[noreturn]] void Fail(const char* what, int error);
    void Discard() noexcept;

    std::string target_;   // the name the caller asked for, used in messages
    std::string realPath_; // the file actually replaced (a symbolic link resolved)
    std::string tempPath_; // empty when writing in place
    std::optional<TTemporaryFileGuard> guard_;
    int fd_ = -1;
    bool finished_ = false;
    std::vector<char> buffer_;
};

/// Files that are put in place together, such as a picture set: each is written
/// whole and flushed first; Commit then puts them in place. The last file added is
/// the set's key (its header): its former version is removed before any file is
/// put in place, and it is put in place last, so that a set caught halfway has no
/// key and is never taken for a whole one. Before Commit, a failure leaves every
/// former file as it was.
class TAtomicFileSet {
public:
    /// Starts the next file of the set.
    TAtomicFile& Add(std::string fileName);
    /// Writes out and flushes every file to disk without putting any in place, so
    /// that a Commit after it only renames; raises EFileError.
    void Finish();
    /// Finishes every file and puts the set in place; raises EFileError.
    void Commit();

private:
    std::vector<std::unique_ptr<TAtomicFile>> files_;
};

/// Whether a TAtomicFile for fileName would write a temporary file and put it in
/// place, rather than write an existing device or pipe in place.
bool WrittenAtomically(const std::string& fileName);

/// Whether the last component of fileName has the form of a TAtomicFile's
/// temporary file.
bool IsTemporaryFileName(const std::string& fileName);

/// Writes a whole file atomically (see TAtomicFile).
void WriteWholeFile(const std::string& fileName, const void* data, std::size_t size);
inline void WriteWholeFile(const std::string& fileName, std::string_view text) {
    WriteWholeFile(fileName, text.data(), text.size());
}
