// The poses of a batch: their names, their files in the output folder, and the
// settings record that tells whether those are up to date.

#include "base/Format.h"
#include "files/FileUtil.h"
#include "pipeline/BatchDetail.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

const std::set<std::string> kCombinedStems = {"points", "summary", "report"};

std::string SettingText(const std::optional<std::uint8_t>& value) {
    return value ? std::to_string(int(*value)) : "auto";
}

// The time a file was last changed, in nanoseconds; nullopt when it is not there.
std::optional<std::int64_t> ChangeTime(const std::string& fileName) {
    struct stat info {};
    if (::stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

} // namespace

namespace batch_detail {

TPoseFiles::TPoseFiles(const std::string& folder, const std::string& pose,
                       const TBatchRequest& request) {
    const std::string stem = (fs::path(folder) / pose).string();
    Points = stem + ".txt";
    if (request.Pose.Bitmap)
        Bitmap = stem + ".bmp";
    if (request.Table)
        Table = stem + ".csv";
    if (request.Report)
        Report = stem + ".html";
    Settings = stem + ".settings";
}

std::vector<std::string> TPoseFiles::Outputs() const {
    std::vector<std::string> files{Points};
    for (const std::string* name : {&Bitmap, &Table, &Report})
        if (!name->empty())
            files.push_back(*name);
    return files;
}

std::string SettingsHeader(const std::string& input, const TBatchRequest& request) {
    std::error_code error;
    const fs::path absolute = fs::absolute(input, error).lexically_normal();
    const TEvaluateRequest& pose = request.Pose;
    return "input " + (error ? input : absolute.string()) + "\nchannel " +
           std::to_string(int(pose.Channel)) + "\nbits " + std::to_string(pose.Bits) + "\nmindif " +
           SettingText(pose.Settings.MinDif) + "\ntolerance " +
           SettingText(pose.Settings.Tolerance) + "\nbitmap " + (pose.Bitmap ? "yes" : "no") +
           "\ntable " + (request.Table ? "yes" : "no") + "\nreport " +
           (request.Report ? "yes" : "no") + "\n---\n";
}

std::string SettingsRecord(const std::string& header, const TBatchRow& row) {
    return header + "used-mindif " + std::to_string(row.MinDif) + "\nused-tolerance " +
           std::to_string(row.Tolerance) + "\npoints " + std::to_string(row.Points) + "\nflagged " +
           std::to_string(row.Flagged) + "\nseconds " + FormatFixed(row.Seconds, 3) + "\n";
}

// The row a settings record holds for its pose, when it was made with header.
std::optional<TBatchRow> ReadSettingsRecord(const std::string& fileName,
                                            const std::string& header) {
    std::string text;
    try {
        if (!FileExists(fileName))
            return std::nullopt;
        const std::vector<std::uint8_t> bytes = ReadWholeFile(fileName, 1 << 20);
        text.assign(bytes.begin(), bytes.end());
    } catch (const EFileError&) {
        return std::nullopt;
    }
    if (text.compare(0, header.size(), header) != 0)
        return std::nullopt;
    std::map<std::string, std::string> values;
    std::size_t at = header.size();
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        const std::size_t space = line.find(' ');
        if (space != std::string::npos)
            values[line.substr(0, space)] = line.substr(space + 1);
        at = end + 1;
    }
    TBatchRow row;
    try {
        row.MinDif = std::stoi(values.at("used-mindif"));
        row.Tolerance = std::stoi(values.at("used-tolerance"));
        row.Points = std::stoi(values.at("points"));
        row.Flagged = std::stoi(values.at("flagged"));
        row.Seconds = std::stod(values.at("seconds"));
    } catch (const std::exception&) {
        return std::nullopt; // damaged: the pose is redone
    }
    return row;
}

bool NewerThanInputs(const std::vector<std::string>& outputs,
                     const std::vector<std::string>& inputs) {
    std::int64_t newestInput = 0;
    for (const std::string& input : inputs) {
        const std::optional<std::int64_t> time = ChangeTime(input);
        if (!time)
            return false;
        newestInput = std::max(newestInput, *time);
    }
    for (const std::string& output : outputs) {
        const std::optional<std::int64_t> time = ChangeTime(output);
        if (!time || *time < newestInput)
            return false;
    }
    return true;
}

} // namespace batch_detail

std::vector<std::string> PoseNames(const std::vector<std::string>& inputs) {
    // Each input's stem, then its folders' names, innermost first.
    std::vector<std::vector<std::string>> parts;
    for (const std::string& input : inputs) {
        std::error_code error;
        fs::path path = fs::absolute(input, error).lexically_normal();
        if (error)
            path = fs::path(input).lexically_normal();
        std::vector<std::string> names{path.stem().string()};
        for (fs::path folder = path.parent_path(); folder.has_relative_path();
             folder = folder.parent_path())
            names.push_back(folder.filename().string());
        parts.push_back(std::move(names));
    }
    std::vector<std::size_t> depth(inputs.size(), 1);
    auto nameOf = [&](std::size_t i) {
        std::string name;
        for (std::size_t d = std::min(depth[i], parts[i].size()); d-- > 0;)
            name += (name.empty() ? "" : "-") + parts[i][d];
        if (depth[i] > parts[i].size())
            name = "pose-" + name;
        return name;
    };
    for (bool changed = true; changed;) {
        changed = false;
        std::map<std::string, std::vector<std::size_t>> byName;
        for (std::size_t i = 0; i < inputs.size(); ++i)
            byName[nameOf(i)].push_back(i);
        for (const auto& [name, members] : byName)
            if (members.size() > 1 || kCombinedStems.count(name) || name.empty())
                for (std::size_t i : members)
                    if (depth[i] <= parts[i].size()) {
                        ++depth[i];
                        changed = true;
                    }
    }
    std::vector<std::string> names;
    std::map<std::string, int> seen; // distinct files of one path, if any are left
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        std::string name = nameOf(i);
        if (const int count = seen[name]++; count > 0)
            name += "-" + std::to_string(count + 1);
        names.push_back(name);
    }
    return names;
}
