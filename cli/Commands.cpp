#include "Commands.h"

#include "base/Text.h"
#include "files/FileUtil.h"
#include "files/Interrupts.h"
#include "input/InputFiles.h"
#include "input/PicSet.h"
#include "pipeline/Batch.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

std::string Seconds(std::chrono::steady_clock::duration duration) {
    return Seconds(std::chrono::duration<double>(duration).count());
}

// The most memory the process has held at once, in MiB.
long PeakMemoryMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024; // kilobytes on Linux
}

// The request for args' input with its settings, progress lines on stderr unless
// quiet.
TEvaluateRequest StackRequest(const TStackArgs& args) {
    TEvaluateRequest request;
    request.Input = args.Input;
    request.Channel = args.Channel;
    request.Bits = args.Bits;
    request.Settings = args.Request();
    request.Threads = args.Threads;
    if (!args.Quiet)
        request.Progress = [](std::int32_t plane, const std::string& fileName) {
            std::cerr << "Decoded picture " << plane << ": " << ShownName(fileName) << '\n';
        };
    return request;
}

// Says on stderr which settings a run chose from the stack.
void ReportChosen(const TSuggestion& suggestion, const TStackArgs& args) {
    if (args.Request().Automatic())
        std::cerr << "Settings chosen from the stack: mindif " << int(suggestion.MinDif)
                  << ", tolerance " << int(suggestion.Tolerance) << '\n';
}

// Loads the stack named by args.Input into eval (see LoadInput), given the files
// the command will write; settings the arguments leave to be chosen are chosen.
void LoadStack(TPicEval& eval, const TStackArgs& args, const std::vector<std::string>& outputs,
               std::function<bool(std::int32_t)> keep = {}) {
    const auto start = std::chrono::steady_clock::now();
    SetInterruptActivity("loading " + QuotedName(args.Input));
    const std::optional<TSuggestion> suggestion =
        LoadInput(eval, StackRequest(args), outputs, std::move(keep));
    if (args.Timings)
        std::cerr << "Timings: decode " << Seconds(std::chrono::steady_clock::now() - start)
                  << '\n';
    if (suggestion)
        ReportChosen(*suggestion, args);
}

// The time of each stage of an evaluation and the peak memory, on stderr.
void ReportTimings(const TEvalTimings& timings, bool withTable) {
    std::cerr << "Timings: matrix " << Seconds(timings.Matrix) << ", points "
              << Seconds(timings.Points);
    if (withTable)
        std::cerr << ", table " << Seconds(timings.Table);
    std::cerr << ", files " << Seconds(timings.Files) << "; peak memory " << PeakMemoryMiB()
              << " MiB\n";
}

std::string EvaluateSummary(const TEvaluateArgs& args, std::int32_t points, std::int32_t width,
                            std::int32_t height) {
    std::string summary = std::to_string(points) + " points of a " + SizeText(width, height) +
                          " stack written to " + args.Points;
    if (!args.NoBitmap)
        summary += ", marked picture to " + ChangeFileExt(args.Points, ".bmp");
    if (!args.Table.empty())
        summary += ", point table to " + args.Table;
    if (!args.Report.empty())
        summary += ", report to " + args.Report;
    return summary;
}

std::string StackSizeText(const TPicEval& eval) {
    return SizeText(eval.Width, eval.Height);
}

} // namespace

std::string RunEvaluate(const TEvaluateArgs& args) {
    TEvaluateRequest request = StackRequest(args.Stack);
    request.Points = args.Points;
    request.Bitmap = !args.NoBitmap;
    request.Table = args.Table;
    request.Report = args.Report;
    request.FullStack = args.FullStack;
    const TEvaluateResult result = EvaluateInput(request);
    if (args.Stack.Timings)
        std::cerr << "Timings: decode " << Seconds(result.DecodeSeconds) << '\n';
    if (result.Suggestion)
        ReportChosen(*result.Suggestion, args.Stack);
    if (result.Coverage)
        std::cerr << "Coverage: " << CoverageText(*result.Coverage) << '\n';
    if (args.Stack.Timings)
        ReportTimings(result.Timings, !args.Table.empty());
    return EvaluateSummary(args, result.Points, result.Width, result.Height);
}

namespace {

// "1 min 05 s", "12 s".
std::string DurationText(double seconds) {
    const long whole = std::lround(std::max(0.0, seconds));
    char text[32];
    if (whole >= 60)
        std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld s", whole);
    return text;
}

// What a batch tells on stderr: each failure with evaluate's sentence; unless
// quiet, on a terminal one line kept up to date, elsewhere one line per pose.
class TBatchLines {
public:
    explicit TBatchLines(bool quiet) : quiet_(quiet), terminal_(::isatty(STDERR_FILENO) == 1) {}
    ~TBatchLines() {
        if (shown_)
            std::cerr << '\n';
    }

    void Tell(const TBatchProgress& progress) {
        const TBatchRow* row = progress.Finished;
        if (row && row->Status == "failed") {
            Clear();
            std::cerr << kProgram << ": " << row->Pose << " failed: " << row->Message << '\n';
        }
        if (quiet_)
            return;
        const std::string count =
            std::to_string(progress.Done) + " of " + CountText(progress.Total, "pose");
        if (terminal_) {
            std::string line = "Batch: " + count + " done";
            if (!progress.Current.empty())
                line += ", now " + ShownName(progress.Current);
            if (progress.Left >= 0 && progress.Done < progress.Total)
                line += ", about " + DurationText(progress.Left) + " left";
            std::cerr << '\r' << line << "\x1b[K" << std::flush;
            shown_ = true;
        } else if (row) {
            std::cerr << "Pose " << count << ": " << ShownName(row->Pose) << ' ' << row->Status;
            if (row->Status != "failed")
                std::cerr << ", " << CountText(std::uint64_t(row->Points), "point") << ", "
                          << Seconds(row->Seconds);
            std::cerr << '\n';
        }
    }

private:
    void Clear() {
        if (shown_)
            std::cerr << "\r\x1b[K";
    }
    bool quiet_, terminal_;
    bool shown_ = false; // a progress line stands on the terminal
};

} // namespace

std::string RunBatchCommand(const TBatchArgs& args, int& status) {
    TBatchRequest request;
    request.Inputs = args.Inputs;
    request.OutFolder = args.OutFolder;
    request.Pose = StackRequest(args.Stack);
    request.Pose.Progress = {}; // the batch tells its own
    request.Pose.Bitmap = !args.NoBitmap;
    request.Pose.FullStack = args.FullStack;
    request.Table = args.Table;
    request.Report = args.Report;
    request.Force = args.Force;
    request.PosesInFlight = args.PosesAtOnce;
    std::vector<TBatchRow> rows;
    {
        TBatchLines lines(args.Stack.Quiet);
        rows =
            RunBatch(request, [&lines](const TBatchProgress& progress) { lines.Tell(progress); });
    }
    std::size_t ok = 0, kept = 0, failed = 0;
    for (const TBatchRow& row : rows)
        (row.Status == "ok" ? ok : row.Status == "kept" ? kept : failed)++;
    status = failed > 0 ? 1 : 0;
    return CountText(rows.size(), "pose") + ": " + std::to_string(ok) + " ok, " +
           std::to_string(kept) + " kept, " + std::to_string(failed) + " failed; summary in " +
           (std::filesystem::path(args.OutFolder) / "summary.csv").string();
}

std::string RunRender(const TRenderArgs& args) {
    TPicEval eval("ST1");
    // The photographs the view does not show are read and checked, not decoded.
    LoadStack(eval, args.Stack, {args.Out},
              [&args](std::int32_t plane) { return ViewReads(args.View, args.Plane, plane); });
    SetInterruptActivity("rendering " + QuotedName(args.Out));
    TBitmap out(eval.Width, eval.Height);
    std::string what;
    switch (args.View) {
    case TView::Plane:
        what = "picture " + std::to_string(args.Plane);
        break;
    case TView::Matrix:
        what = "matrix view of picture " + std::to_string(args.Plane);
        break;
    case TView::Edges:
        what = "edges view";
        break;
    case TView::Codes:
        what = "code points";
        break;
    }
    RenderView(eval, args.View, args.Plane, out);
    out.SaveToFile(args.Out);
    return "Rendered the " + what + " (" + StackSizeText(eval) + ") to " + args.Out;
}

std::string RunSuggest(const TSuggestArgs& args) {
    TPicEval eval("ST1");
    TStackArgs stack = args.Stack;
    stack.SuggestMinDif = stack.SuggestTolerance = false; // chosen below, with the figures
    LoadStack(eval, stack, {});
    SetInterruptActivity("suggesting settings for " + QuotedName(stack.Input));
    const TSuggestion suggestion = SuggestSettings(eval, {}, stack.Threads);
    std::cerr << suggestion.MinDifReason() << '\n' << suggestion.ToleranceReason() << '\n';
    const TSettingsTrial chosen =
        TrySettings(eval, suggestion.MinDif, suggestion.Tolerance, stack.Threads);
    const TSettingsTrial defaults =
        TrySettings(eval, TEvalDefaults::MinDif, TEvalDefaults::Tolerance, stack.Threads);
    std::cerr << "Points: " << chosen.Points << " with mindif " << int(suggestion.MinDif)
              << " and tolerance " << int(suggestion.Tolerance) << ", " << defaults.Points
              << " with the defaults (mindif " << int(TEvalDefaults::MinDif) << ", tolerance "
              << int(TEvalDefaults::Tolerance) << ")\n"
              << "Coverage with the suggestion: " << CoverageText(chosen.Coverage) << '\n'
              << "Coverage with the defaults: " << CoverageText(defaults.Coverage) << '\n';
    return "mindif " + std::to_string(suggestion.MinDif) + "\ntolerance " +
           std::to_string(suggestion.Tolerance);
}

std::string RunSaveSet(const TSaveSetArgs& args) {
    const std::string header = PicSetHeaderName(args.Header);
    TPicEval eval("ST1");
    LoadStack(eval, args.Stack, PicSetFileNames(header, TPicEval::kStackPlanes));
    SetInterruptActivity("saving the picture set " + QuotedName(header));
    SavePicSet(eval.Pics, header, true);
    return "Saved " + CountText(std::uint64_t(eval.Pics.Count()), "picture") + " of " +
           StackSizeText(eval) + " as " + header;
}
