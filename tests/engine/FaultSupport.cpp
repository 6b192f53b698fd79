#include "FaultSupport.h"

#include "base/Errors.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

TFileSizeLimit::TFileSizeLimit(rlim_t bytes) {
    if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0)
        return;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (::sigaction(SIGXFSZ, &ignore, &savedAction_) != 0)
        return;
    rlimit limited = saved_;
    limited.rlim_cur = saved_.rlim_max == RLIM_INFINITY ? bytes : std::min(bytes, saved_.rlim_max);
    if (::setrlimit(RLIMIT_FSIZE, &limited) != 0) {
        ::sigaction(SIGXFSZ, &savedAction_, nullptr);
        return;
    }
    active_ = true;
}

TFileSizeLimit::~TFileSizeLimit() {
    if (!active_)
        return;
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::sigaction(SIGXFSZ, &savedAction_, nullptr);
}

TOutcome Attempt(const std::function<void()>& action, std::optional<rlim_t> sizeLimit) {
    std::optional<TFileSizeLimit> limit;
    if (sizeLimit) {
        limit.emplace(*sizeLimit);
        if (!limit->Active())
            return {false, "the file-size limit could not be set"};
    }
    try {
        action();
    } catch (const EFileError& e) {
        return {true, e.what()};
    } catch (const std::exception& e) {
        return {false, std::string("raised another error: ") + e.what()};
    }
    return {false, "reported success"};
}

std::string ReadWhole(const std::string& path) {
    std::string bytes(fs::file_size(path), '\0');
    std::ifstream in(path, std::ios::binary);
    in.read(bytes.data(), std::streamsize(bytes.size()));
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return bytes;
}

TSnapshot Snapshot(const std::string& folder) {
    TSnapshot entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).string();
        if (entry.is_symlink())
            entries[name] = "link to " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            entries[name] = "folder";
        else
            entries[name] = "file " + ReadWhole(entry.path().string());
    }
    return entries;
}

std::vector<std::string> Differences(const TSnapshot& before, const TSnapshot& after) {
    std::vector<std::string> changes;
    for (const auto& [name, what] : before) {
        auto found = after.find(name);
        if (found == after.end())
            changes.push_back(name + " vanished");
        else if (found->second != what)
            changes.push_back(name + " changed");
    }
    for (const auto& [name, what] : after)
        if (!before.contains(name))
            changes.push_back(name + " appeared");
    return changes;
}
