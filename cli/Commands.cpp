#include "Commands.h"

#include "FileUtil.h"
#include "Interrupts.h"
#include "ListFile.h"
#include "PicSet.h"
#include "StreamEval.h"
#include "Text.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <optional>
#include <sys/resource.h>

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

bool IsPicSetHeader(const std::string& input) {
    std::string ext = input.substr(input.size() - std::min<std::size_t>(input.size(), 4));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".bbf" && ExtractFileName(input).size() >= 4;
}

// The files a run will write, given how many planes its stack has.
using TOutputs = std::function<std::vector<std::string>(std::size_t planes)>;

// Refuses a run whose outputs include one of its inputs, before anything is written.
void CheckOutputs(const TOutputs& outputs, std::size_t planes,
                  const std::vector<std::string>& inputs) {
    const std::string clash = OverwrittenInputText(outputs(planes), inputs);
    if (!clash.empty())
        throw TCliUsageError(clash);
}

// The checks of a JPEG list before any photograph is decoded: it can be read,
// no output is one of its files (TCliUsageError), and it names a whole stack.
void CheckList(const TStackArgs& args, const TOutputs& outputs) {
    std::vector<std::string> names;
    std::string error;
    if (!ReadListFile(args.Input, false, ExtractFilePath(args.Input), names, error))
        throw TCliError(error);
    std::vector<std::string> inputs = names;
    inputs.push_back(args.Input);
    CheckOutputs(outputs, names.size(), inputs);
    if (names.size() != std::size_t(TPicEval::kStackPlanes))
        throw TCliError("The list file " + QuotedName(args.Input) + " names " +
                        CountText(names.size(), "photograph") + "; a stack needs " +
                        std::to_string(TPicEval::kStackPlanes) + ".");
}

// How a list is loaded: relative names against its own folder, progress lines on
// stderr unless quiet, the values of the planes keep (all when empty), 16-bit
// samples as args.Bits says.
TLoadOptions ListOptions(const TStackArgs& args, std::function<bool(std::int32_t)> keep = {}) {
    TLoadOptions options;
    options.Keep = std::move(keep);
    options.BaseFolder = ExtractFilePath(args.Input);
    options.Threads = args.Threads;
    options.Bits = args.Bits;
    if (!args.Quiet)
        options.Progress = [](std::int32_t plane, const std::string& fileName) {
            std::cerr << "Decoded picture " << plane << ": " << ShownName(fileName) << '\n';
        };
    return options;
}

// Raises what a load that did not give a whole stack reports.
void CheckOutcome(const TLoadOutcome& outcome, const TStackArgs& args,
                  std::chrono::steady_clock::time_point start) {
    if (outcome.Error)
        std::rethrow_exception(outcome.Error);
    if (!outcome.Usable)
        throw TCliError(outcome.Reason);
    if (args.Timings)
        std::cerr << "Timings: decode " << Seconds(std::chrono::steady_clock::now() - start)
                  << '\n';
}

// Says on stderr which settings a run chose from the stack.
void ReportChosen(const TSuggestion& suggestion, const TStackArgs& args) {
    if (args.Request().Automatic())
        std::cerr << "Settings chosen from the stack: mindif " << int(suggestion.MinDif)
                  << ", tolerance " << int(suggestion.Tolerance) << '\n';
}

// Loads the stack named by args.Input into eval, resolving the relative names inside
// the list or header against its own folder. Raises TCliUsageError when an output
// is one of the input files, and TCliError unless the stack is complete (17
// pictures of one size). A list is checked before any photograph is decoded.
// Of a list, only the values of the planes keep (all when empty) are kept. Settings
// the arguments leave to be chosen are chosen from the stack, which then is read
// whole.
void LoadStack(TPicEval& eval, const TStackArgs& args, const TOutputs& outputs,
               std::function<bool(std::int32_t)> keep = {}, bool forTable = false) {
    const auto start = std::chrono::steady_clock::now();
    eval.SetTolerance(args.Tolerance);
    eval.SetMinDif(args.MinDif);
    eval.Threads = args.Threads;
    SetInterruptActivity("loading " + QuotedName(args.Input));
    const TSettingsRequest request = args.Request();
    if (request.Automatic())
        keep = {};
    TLoadOutcome outcome;
    if (IsPicSetHeader(args.Input)) {
        CheckOutputs(outputs, 0, {args.Input});
        TLoadOptions options;
        options.Threads = args.Threads;
        outcome = eval.LoadSet(args.Input, ExtractFilePath(args.Input), options);
        if (eval.Pics.LastError().empty()) // the set itself loaded
            CheckOutputs(outputs, eval.Pics.Planes.size(), eval.Pics.SourceFiles());
    } else {
        CheckList(args, outputs);
        TLoadOptions options = ListOptions(args, std::move(keep));
        if (forTable)
            options.FullDepth = TPicEval::RefinementReads;
        outcome = eval.LoadList(args.Input, args.Channel, options);
    }
    CheckOutcome(outcome, args, start);
    if (request.Automatic()) {
        const TSuggestion suggestion = SuggestSettings(eval, request, args.Threads);
        eval.SetMinDif(suggestion.MinDif);
        eval.SetTolerance(suggestion.Tolerance);
        ReportChosen(suggestion, args);
    }
}

// The points and their coverage after an evaluation that refined them, on stderr.
void ReportCoverage(const std::vector<TRefinedPoint>& refined) {
    std::cerr << "Coverage: " << CoverageText(CoverageOf(refined)) << '\n';
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
    return summary;
}

// Evaluates a JPEG list or a picture set without keeping its stack; nullopt, having
// written nothing, where the stack is to be loaded whole.
std::optional<std::string> EvaluateStreamed(const TEvaluateArgs& args, const TOutputs& outputs) {
    const auto start = std::chrono::steady_clock::now();
    const TStackArgs& stack = args.Stack;
    SetInterruptActivity("loading " + QuotedName(stack.Input));
    TStreamEval stream;
    stream.Tolerance = stack.Tolerance;
    stream.MinDif = stack.MinDif;
    stream.Threads = stack.Threads;
    stream.SuggestMinDif = stack.SuggestMinDif;
    stream.SuggestTolerance = stack.SuggestTolerance;
    if (!args.NoBitmap)
        stream.BitmapFileName = ChangeFileExt(args.Points, ".bmp");
    const bool forTable = !args.Table.empty();
    std::optional<TLoadOutcome> outcome;
    if (IsPicSetHeader(stack.Input)) {
        CheckOutputs(outputs, 0, {stack.Input});
        outcome = stream.LoadSet(stack.Input, ExtractFilePath(stack.Input), forTable);
        if (outcome)
            CheckOutputs(outputs, stream.SourceFiles().size() - 1, stream.SourceFiles());
    } else {
        CheckList(stack, outputs);
        outcome = stream.LoadList(stack.Input, stack.Channel, ListOptions(stack), forTable);
    }
    if (!outcome)
        return std::nullopt;
    CheckOutcome(*outcome, stack, start);
    if (stream.Suggestion)
        ReportChosen(*stream.Suggestion, stack);
    SetInterruptActivity("evaluating " + QuotedName(stack.Input));
    stream.Evaluate(args.Points, !args.NoBitmap, args.Table);
    if (forTable)
        ReportCoverage(stream.Refined());
    if (stack.Timings)
        ReportTimings(stream.Timings, forTable);
    return EvaluateSummary(args, stream.Points.EntryCount, stream.Width, stream.Height);
}

std::string StackSizeText(const TPicEval& eval) {
    return SizeText(eval.Width, eval.Height);
}

} // namespace

std::string RunEvaluate(const TEvaluateArgs& args) {
    const std::string problem =
        TPicEval::OutputProblem(args.Points, !args.NoBitmap, args.Table, {});
    if (!problem.empty())
        throw TCliUsageError(problem);
    const TOutputs outputs = [&args](std::size_t) {
        std::vector<std::string> files{args.Points};
        if (!args.NoBitmap)
            files.push_back(ChangeFileExt(args.Points, ".bmp"));
        if (!args.Table.empty())
            files.push_back(args.Table);
        return files;
    };
    if (!args.FullStack)
        if (std::optional<std::string> summary = EvaluateStreamed(args, outputs))
            return *summary;
    TPicEval eval("ST1");
    LoadStack(eval, args.Stack, outputs, {}, !args.Table.empty());
    SetInterruptActivity("evaluating " + QuotedName(args.Stack.Input));
    TBitmap display(eval.Width, eval.Height);
    eval.Evaluate(args.Points, !args.NoBitmap, display, args.Table);
    if (!args.Table.empty())
        ReportCoverage(eval.Refined);
    if (args.Stack.Timings)
        ReportTimings(eval.Timings, !args.Table.empty());
    return EvaluateSummary(args, eval.Points.EntryCount, eval.Width, eval.Height);
}

std::string RunRender(const TRenderArgs& args) {
    TPicEval eval("ST1");
    // The photographs the view does not show are read and checked, not decoded.
    LoadStack(
        eval, args.Stack, [&args](std::size_t) { return std::vector<std::string>{args.Out}; },
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
        eval.CalcMatrix(); // a fresh stack has no code matrix yet
        break;
    }
    ShowView(eval, args.View, args.Plane, out);
    out.SaveToFile(args.Out);
    return "Rendered the " + what + " (" + StackSizeText(eval) + ") to " + args.Out;
}

std::string RunSuggest(const TSuggestArgs& args) {
    TPicEval eval("ST1");
    TStackArgs stack = args.Stack;
    stack.SuggestMinDif = stack.SuggestTolerance = false; // chosen below, with the figures
    LoadStack(eval, stack, [](std::size_t) { return std::vector<std::string>{}; });
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
    const std::string header = ChangeFileExt(args.Header, ".bbf");
    TPicEval eval("ST1");
    LoadStack(eval, args.Stack,
              [&header](std::size_t planes) { return PicSetFileNames(header, planes); });
    SetInterruptActivity("saving the picture set " + QuotedName(header));
    SavePicSet(eval.Pics, header, true);
    return "Saved " + CountText(std::uint64_t(eval.Pics.Count()), "picture") + " of " +
           StackSizeText(eval) + " as " + header;
}
