#pragma once
// Running the command-line tool as a process of its own, under resource limits and
// signals, with its exit status, its messages, its peak memory and its time.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <utility>
#include <vector>

/// A resource limit (setrlimit) the tool runs under.
struct TLimit {
    int Resource;
    rlim_t Value;
};

/// How a run of the tool ended.
struct TOutcome {
    int ExitCode = -1;  ///< -1 when a signal ended the process
    int Signal = 0;     ///< the signal that ended it, if one did
    std::string Err;    ///< what it wrote to stderr
    long PeakKiB = 0;   ///< its peak resident memory
    double Seconds = 0; ///< from its start to its end
};

/// Runs the tool with arguments in folder, under limits; with a signal, sends it
/// after delay (unless the tool has ended by then).
TOutcome RunTool(const std::vector<std::string>& arguments, const std::string& folder,
                 const std::vector<TLimit>& limits = {},
                 std::optional<std::pair<int, std::chrono::microseconds>> signal = {});

/// The number of lines of text.
std::size_t Lines(const std::string& text);

/// The temporary files a save left in folder (IsTemporaryFileName).
std::vector<std::string> TemporaryFiles(const std::string& folder);
