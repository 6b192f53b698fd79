// A batch's run: the poses evaluated several at once, each into its own files, then the
// combined files; how the batch shares the machine.

#include "pipeline/Batch.h"

#include "base/Clock.h"
#include "base/Errors.h"
#include "base/Memory.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "files/AtomicFile.h"
#include "files/FileUtil.h"
#include "files/Interrupts.h"
#include "input/PicSet.h"
#include "input/PictureInput.h"
#include "pipeline/BatchDetail.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

using namespace batch_detail;

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
    WriteCombinedFiles(folder, request_, rows, files_);
    return rows;
}

} // namespace

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
