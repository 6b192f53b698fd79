#pragma once
// What happens when the process is told to stop: the temporary files of writes
// under way are removed before it ends, so that an interrupted run leaves the
// former files as they were and nothing beside them.

#include <string>
#include <string_view>

/// Registers a temporary file for removal, should a signal end the process while
/// the object lives; target is the name the file will be put in place as, for the
/// line that tells what was interrupted. Registering and ending a registration are
/// thread-safe. Up to a few hundred files are registered at once; any beyond that
/// are still removed by a later save of the same file (see TAtomicFile).
class TTemporaryFileGuard {
public:
    TTemporaryFileGuard(const std::string& temporary, const std::string& target);
    ~TTemporaryFileGuard();
    TTemporaryFileGuard(const TTemporaryFileGuard&) = delete;
    TTemporaryFileGuard& operator=(const TTemporaryFileGuard&) = delete;

private:
    int slot_ = -1;
};

/// While one lives, a SIGINT, SIGTERM or SIGHUP is held back, and acted on as
/// InstallInterruptHandlers says once the last hold ends: for work that must be done
/// whole or not at all, such as putting a set of files in place. Keep a hold short.
class TInterruptHold {
public:
    TInterruptHold();
    ~TInterruptHold();
    TInterruptHold(const TInterruptHold&) = delete;
    TInterruptHold& operator=(const TInterruptHold&) = delete;
};

/// Handles SIGINT, SIGTERM and SIGHUP from now on: the registered temporary files
/// are removed, one line on stderr says what was interrupted, and the process ends
/// with 128 + the signal's number (130, 143, 129). SIGXFSZ is ignored, so that a
/// write beyond the file-size limit fails with "File too large" instead of ending
/// the process. programName starts the line.
void InstallInterruptHandlers(std::string_view programName);

/// What the process is doing, for that line ("decoding the pictures of "x""); an
/// empty text names nothing. Kept to a few hundred bytes.
void SetInterruptActivity(std::string_view activity);
