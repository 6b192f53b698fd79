#pragma once
// Many stacks ("poses") in one run: each evaluated into its own files in one
// folder as a single evaluation would write them, then one table of every pose's
// points, a summary and (when asked for) a report page.

#include "pipeline/EvaluateInput.h"
#include "output/Report.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/// What a batch does with each of its inputs.
struct TBatchRequest {
    std::vector<std::string> Inputs; ///< list files or picture-set headers, in order
    std::string OutFolder;           ///< made when missing
    /// Channel, bits, settings, threads, FullStack and Bitmap of every pose; its
    /// file names and Writing are the batch's own.
    TEvaluateRequest Pose;
    bool Table = false;  ///< POSE.csv for each pose, and its columns in points.csv
    bool Report = false; ///< POSE.html for each pose, and report.html
    bool Force = false;  ///< redo poses that are up to date
    /// Poses evaluated at once; 0: as many as suit the cores and memory (BatchShares).
    int PosesInFlight = 0;
};

/// One pose's line of the summary, as the report shows it too: Status "ok", "kept"
/// (up to date, not redone) or "failed" with evaluate's sentence in Message;
/// Flagged −1 when the points were not refined; Seconds of the evaluation, for a
/// kept pose of the one that made its files.
using TBatchRow = TReportRow;

/// How far a batch has come, told after each pose is started or finished.
struct TBatchProgress {
    std::size_t Done = 0;  ///< poses finished (kept ones included)
    std::size_t Total = 0; ///< poses of the batch
    /// The pose just finished, or nullptr when one was just started.
    const TBatchRow* Finished = nullptr;
    std::string Current; ///< the pose last started and not yet finished; empty: none
    /// Seconds since the batch began, and an estimate of those still to come (−1:
    /// none yet).
    double Elapsed = 0;
    double Left = -1;
};

/// The poses' names: each input's file name without its extension, the names of
/// its folders put in front ("left-pose03") where two would be the same, until they
/// differ; names of the combined files' stems ("points", "summary", "report") are
/// lengthened likewise, or get "pose-" in front. Inputs must be distinct files.
std::vector<std::string> PoseNames(const std::vector<std::string>& inputs);

/// The most poses a batch evaluates at once.
inline constexpr int kMaxPosesInFlight = 8;

/// How a batch shares the machine.
struct TBatchShares {
    int Poses = 1;   ///< evaluated at once
    int Threads = 1; ///< each
};

/// The shares a batch takes: request.PosesInFlight poses, or one per thread the
/// batch may use (request.Pose.Threads, 0: one per core) and one more, for the time
/// a pose waits for its files to reach the disk (at most kMaxPosesInFlight and the
/// inputs' number), as long as that many poses of pixels pixels each fit into half
/// the memory the system has left; the threads shared out among the poses. A pose
/// decoded on one thread while another refines and writes spends less time waiting
/// for its own threads than one spread over all cores.
TBatchShares BatchShares(const TBatchRequest& request, std::uint64_t pixels);

/// Runs the batch: every pose that is not up to date (its files there, newer than
/// each file of its input, made with the same settings, as POSE.settings records)
/// is evaluated, the others are kept; a pose that fails is told in its row and the
/// batch goes on. Then points.csv, summary.csv and (Report) report.html are put in
/// place together. Raises EUsageError before anything is written for no inputs, an
/// input given twice, or an output that would replace an input; EFileError when the
/// folder or the combined files cannot be written; EStopped, once the poses under
/// way are done and before the combined files, when request.Pose.CheckStop raises
/// it (it is called before each pose and while one loads). progress is called under a lock
/// from the threads that run poses.
std::vector<TBatchRow> RunBatch(const TBatchRequest& request,
                                const std::function<void(const TBatchProgress&)>& progress = {});

/// The text of summary.csv for rows.
std::string BatchSummaryText(const std::vector<TBatchRow>& rows);
