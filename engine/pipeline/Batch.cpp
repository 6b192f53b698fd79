#include "pipeline/Batch.h"

#include "files/AtomicFile.h"
#include "base/Clock.h"
#include "base/Errors.h"
#include "files/FileUtil.h"
#include "base/Format.h"
#include "files/Interrupts.h"
#include "base/Memory.h"
#include "base/Parallel.h"
#include "input/PicSet.h"
#include "input/PictureInput.h"
#include "output/Report.h"
#include "base/Text.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

// A CSV field: quoted, with quotes doubled, where it holds a separator, a quote
// or a line end.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

const std::set<std::string> kCombinedStems = {"points", "summary", "report"};

// One pose's files in the output folder.
struct TPoseFiles {
    std::string Points, Bitmap, Table, Report, Settings;

    TPoseFiles(const std::string& folder, const std::string& pose, const TBatchRequest& request) {
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
    // Every file but the settings record.
    std::vector<std::string> Outputs() const {
        std::vector<std::string> files{Points};
        for (const std::string* name : {&Bitmap, &Table, &Report})
            if (!name->empty())
                files.push_back(*name);
        return files;
    }
};

std::string SettingText(const std::optional<std::uint8_t>& value) {
    return value ? std::to_string(int(*value)) : "auto";
}

// What a pose's settings record says about how its files were made: the lines
// that must match for the files to be kept.
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

// The time a file was last changed, in nanoseconds; nullopt when it is not there.
std::optional<std::int64_t> ChangeTime(const std::string& fileName) {
    struct stat info {};
    if (::stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

// Whether every output is there and no older than any input.
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

// The pixels of a picture of the stack whose files (InputFiles) are given: the
// picture-set header's size, or a list's picture 2; 0 when they cannot be told.
std::uint64_t StackPixels(const std::vector<std::string>& files) {
    try {
        if (IsPicSetHeader(files.front())) {
            TPicSetHeader header;
            std::string error;
            if (ReadPicSetHeader(files.front(), ExtractFilePath(files.front()), header, error))
                return std::uint64_t(header.Width) * std::uint64_t(header.Height);
        } else if (files.size() > 3) {
            const TPictureHeader header = ReadPictureHeader(files[3], {});
            return std::uint64_t(header.Width) * std::uint64_t(header.Height);
        }
    } catch (const std::exception&) {
        // the pose itself will say what is wrong
    }
    return 0;
}

// The message of an exception a pose's evaluation raised, as evaluate says it.
std::string FailureText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc& e) {
        return OutOfMemoryText(e, "to evaluate the stack");
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "The stack could not be evaluated.";
    }
}

// points.csv: a header, then each pose's rows with its name in front: the lines of
// its point table, or those of its points file as "code,dot,x,y,pixels".
void WritePointsTable(TAtomicFile& file, const std::vector<TBatchRow>& rows,
                      const std::vector<TPoseFiles>& files, bool table) {
    file.Write(std::string("pose,") + (table ? kPointTableHeader : "code,dot,x,y,pixels") + "\n");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].Status == "failed")
            continue;
        const std::string name = table ? files[i].Table : files[i].Points;
        const std::vector<std::uint8_t> bytes = ReadWholeFile(name);
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const std::string prefix = CsvField(rows[i].Pose) + ",";
        std::string out;
        out.reserve(text.size() + text.size() / 8);
        std::size_t at = table ? std::min(text.find('\n'), text.size()) + 1 : 0; // past the header
        while (at < text.size()) {
            std::size_t end = std::min(text.find('\n', at), text.size());
            std::string_view line = text.substr(at, end - at);
            at = end + 1;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (line.empty())
                continue;
            out += prefix;
            if (table) {
                out += line;
            } else { // "code x y pixels"
                const std::size_t a = line.find(' ');
                const std::size_t b = line.find(' ', a + 1);
                const std::size_t c = line.find(' ', b + 1);
                if (a == std::string_view::npos || b == std::string_view::npos ||
                    c == std::string_view::npos)
                    throw EFileError("The points file " + QuotedName(name) +
                                     " has a line that is not \"code x y pixels\".");
                const std::string code(line.substr(0, a));
                out += code + ',' + std::to_string((std::stol(code) - 1) / 2) + ',';
                out.append(line.substr(a + 1, b - a - 1)).append(",");
                out.append(line.substr(b + 1, c - b - 1)).append(",");
                out.append(line.substr(c + 1));
            }
            out += '\n';
        }
        file.Write(out);
    }
}

// Runs the poses, keeps what progress needs and tells it.
class TBatchRun {
public:
    TBatchRun(const TBatchRequest& request,
              const std::function<void(const TBatchProgress&)>& progress)
        : request_(request), progress_(progress) {}

    std::vector<TBatchRow> Run();

private:
    TBatchRow RunPose(std::size_t index);
    void Tell(const TBatchRow* finished, const std::string& started);

    const TBatchRequest& request_;
    const std::function<void(const TBatchProgress&)>& progress_;
    TBatchShares shares_; // once the inputs are read
    std::vector<std::string> names_;
    std::vector<TPoseFiles> files_;
    std::vector<std::vector<std::string>> inputs_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::mutex lock_;
    std::size_t done_ = 0, toRun_ = 0, run_ = 0;
    std::vector<std::string> current_;
};

void TBatchRun::Tell(const TBatchRow* finished, const std::string& started) {
    std::lock_guard hold(lock_);
    if (finished) {
        ++done_;
        if (finished->Status != "kept")
            ++run_;
        std::erase(current_, finished->Pose);
    } else {
        current_.push_back(started);
    }
    if (!progress_)
        return;
    TBatchProgress state;
    state.Done = done_;
    state.Total = names_.size();
    state.Finished = finished;
    state.Current = current_.empty() ? std::string() : current_.back();
    state.Elapsed = SecondsSince(start_);
    if (run_ > 0)
        state.Left = state.Elapsed / double(run_) * double(toRun_ - run_);
    progress_(state);
}

TBatchRow TBatchRun::RunPose(std::size_t index) {
    const auto start = std::chrono::steady_clock::now();
    const TPoseFiles& files = files_[index];
    TBatchRow row;
    row.Pose = names_[index];
    row.Input = request_.Inputs[index];
    TEvaluateRequest pose = request_.Pose;
    pose.Input = row.Input;
    pose.Threads = shares_.Threads;
    pose.Points = files.Points;
    pose.Table = files.Table;
    pose.Report = files.Report;
    pose.ReportPose = row.Pose;
    // From the first file written to the settings record, the pose's files are
    // written whole or not at all: a signal waits, and a rerun redoes a pose whose
    // record is gone.
    std::optional<TInterruptHold> writing;
    pose.Writing = [&] {
        writing.emplace();
        if (::unlink(files.Settings.c_str()) != 0 && errno != ENOENT)
            RaiseFileError("remove", files.Settings, errno);
    };
    try {
        const TEvaluateResult result = EvaluateInput(pose);
        row.Status = "ok";
        row.Points = result.Points;
        row.Flagged = result.Coverage ? result.Flagged : -1;
        row.MinDif = result.MinDif;
        row.Tolerance = result.Tolerance;
        row.Seconds = SecondsSince(start);
        WriteWholeFile(files.Settings, SettingsRecord(SettingsHeader(row.Input, request_), row));
    } catch (const EStopped&) {
        throw; // the batch stops; it is no failure of the pose
    } catch (...) {
        TBatchRow failed;
        failed.Pose = row.Pose;
        failed.Input = row.Input;
        failed.Status = "failed";
        row = failed;
        row.Message = FailureText(std::current_exception());
        row.Seconds = SecondsSince(start);
    }
    return row;
}

std::vector<TBatchRow> TBatchRun::Run() {
    const std::vector<std::string>& inputs = request_.Inputs;
    if (inputs.empty())
        throw EUsageError("A batch needs at least one input.");
    for (std::size_t i = 0; i < inputs.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (NamesSameFile(inputs[i], inputs[j]))
                throw EUsageError("The input " + QuotedName(inputs[i]) +
                                  " is the same file as the input " + QuotedName(inputs[j]) +
                                  "; give each stack once.");
    names_ = PoseNames(inputs);
    const std::string& folder = request_.OutFolder;
    std::vector<std::string> outputs;
    for (const std::string& name : names_) {
        files_.emplace_back(folder, name, request_);
        const std::vector<std::string> pose = files_.back().Outputs();
        outputs.insert(outputs.end(), pose.begin(), pose.end());
        outputs.push_back(files_.back().Settings);
    }
    for (const char* combined : {"points.csv", "summary.csv", "report.html"})
        outputs.push_back((fs::path(folder) / combined).string());
    std::vector<std::string> allInputs;
    for (const std::string& input : inputs) {
        inputs_.push_back(InputFiles(input));
        allInputs.insert(allInputs.end(), inputs_.back().begin(), inputs_.back().end());
    }
    RefuseOverwrittenInputs(outputs, allInputs);
    shares_ = BatchShares(request_, StackPixels(inputs_.front())); // judged by the first pose

    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        RaiseFileError("create the folder", folder, error.message());

    // The poses up to date are kept; the others are run, several at once.
    std::vector<TBatchRow> rows(inputs.size());
    std::vector<std::size_t> pending;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!request_.Force && NewerThanInputs(files_[i].Outputs(), inputs_[i]))
            if (std::optional<TBatchRow> kept =
                    ReadSettingsRecord(files_[i].Settings, SettingsHeader(inputs[i], request_))) {
                rows[i] = *kept;
                rows[i].Pose = names_[i];
                rows[i].Input = inputs[i];
                rows[i].Status = "kept";
                continue;
            }
        pending.push_back(i);
    }
    toRun_ = pending.size();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].Status == "kept")
            Tell(&rows[i], {});
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stopped{false};
    auto work = [&] {
        try {
            for (std::size_t k; !stopped && (k = next.fetch_add(1)) < pending.size();) {
                if (request_.Pose.CheckStop)
                    request_.Pose.CheckStop();
                const std::size_t i = pending[k];
                Tell(nullptr, names_[i]);
                rows[i] = RunPose(i);
                Tell(&rows[i], {});
            }
        } catch (const EStopped&) {
            stopped = true;
        }
    };
    {
        std::vector<std::jthread> workers;
        for (int w = 1; w < std::min<int>(shares_.Poses, int(pending.size())); ++w)
            workers.emplace_back(work);
        work();
    }
    if (stopped) // the poses done are whole; the combined files stay the former ones
        throw EStopped();

    // The combined files, put in place together once all are written.
    SetInterruptActivity("writing the combined files in " + QuotedName(folder));
    TAtomicFileSet combined;
    WritePointsTable(combined.Add((fs::path(folder) / "points.csv").string()), rows, files_,
                     request_.Table);
    if (request_.Report)
        WriteReport(combined.Add((fs::path(folder) / "report.html").string()),
                    "Batch of " + CountText(rows.size(), "pose"), rows,
                    [&](std::size_t i) -> std::string {
                        if (rows[i].Status == "failed")
                            return {};
                        const std::vector<std::uint8_t> page = ReadWholeFile(files_[i].Report);
                        return ReportSectionOf(std::string_view(
                            reinterpret_cast<const char*>(page.data()), page.size()));
                    });
    // The summary goes in place last: the set's key.
    combined.Add((fs::path(folder) / "summary.csv").string()).Write(BatchSummaryText(rows));
    combined.Finish();
    const TInterruptHold hold; // the renames are not cut short
    combined.Commit();
    return rows;
}

} // namespace

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

TBatchShares BatchShares(const TBatchRequest& request, std::uint64_t pixels) {
    const int threads = ThreadsFor(request.Pose.Threads); // for the whole batch
    TBatchShares shares;
    shares.Poses = request.PosesInFlight > 0 ? request.PosesInFlight
                                             : std::clamp(threads > 1 ? threads + 1 : 1, 1,
                                                          std::max(1, int(request.Inputs.size())));
    shares.Poses = std::min(shares.Poses, kMaxPosesInFlight);
    // As many as memory allows: a pose takes under 8 bytes a pixel with the table's
    // full depth, and some beside.
    if (request.PosesInFlight <= 0) {
        const std::uint64_t pose = 8 * pixels + (std::uint64_t(64) << 20);
        const std::uint64_t usable = MemoryBudget().Usable();
        while (shares.Poses > 1 && std::uint64_t(shares.Poses) * pose > usable / 2)
            --shares.Poses;
    }
    shares.Threads = std::max(1, threads / shares.Poses);
    return shares;
}

std::vector<TBatchRow> RunBatch(const TBatchRequest& request,
                                const std::function<void(const TBatchProgress&)>& progress) {
    return TBatchRun(request, progress).Run();
}

std::string BatchSummaryText(const std::vector<TBatchRow>& rows) {
    std::string text = "pose,input,status,points,flagged,mindif,tolerance,seconds,message\n";
    auto known = [](int value) { return value < 0 ? std::string() : std::to_string(value); };
    for (const TBatchRow& row : rows)
        text += CsvField(row.Pose) + ',' + CsvField(row.Input) + ',' + row.Status + ',' +
                std::to_string(row.Points) + ',' + known(row.Flagged) + ',' + known(row.MinDif) +
                ',' + known(row.Tolerance) + ',' + FormatFixed(row.Seconds, 3) + ',' +
                CsvField(row.Message) + '\n';
    return text;
}
