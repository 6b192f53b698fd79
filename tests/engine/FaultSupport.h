#pragma once
// What the tests of failing writes share: a file-size limit for this process, an
// attempt whose outcome is returned rather than printed, and snapshots of a folder
// to tell what a failure changed.

#include <functional>
#include <map>
#include <optional>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <vector>

/// Until the object goes, no file this process writes may grow beyond `bytes`: a
/// write past the limit fails with EFBIG (SIGXFSZ, which would end the process, is
/// ignored meanwhile). Only the soft limit changes, so that it can be put back
/// without privileges.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes);
    ~TFileSizeLimit();
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

    bool Active() const { return active_; }

private:
    rlimit saved_{};
    struct sigaction savedAction_ {};
    bool active_ = false;
};

/// How an attempt ended.
struct TOutcome {
    bool FileError = false; ///< an EFileError was raised
    std::string Message;    ///< its text, or what happened instead
};

/// Runs the action, under a file-size limit when one is given, and catches what it
/// raises. Nothing may be printed while the limit holds (the test log may itself
/// be a file beyond it), so the outcome is only returned here.
TOutcome Attempt(const std::function<void()>& action, std::optional<rlim_t> sizeLimit);

/// The bytes of a file. Raises std::runtime_error when it cannot be read.
std::string ReadWhole(const std::string& path);

/// Everything in a folder, its subfolders included: relative name → what it is
/// (a file with its bytes, a folder, or a link with its target).
using TSnapshot = std::map<std::string, std::string>;

TSnapshot Snapshot(const std::string& folder);

/// The names that differ between two snapshots, each with how (contents are not
/// printed: some are megabytes long).
std::vector<std::string> Differences(const TSnapshot& before, const TSnapshot& after);
