#include "pipeline/EvaluateInput.h"

#include "base/Clock.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "files/FileUtil.h"
#include "files/Interrupts.h"
#include "output/EvalFiles.h"
#include "output/Report.h"
#include "pipeline/EvaluateSteps.h"
#include "pipeline/StreamEval.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

using namespace evaluate_steps;

namespace {

// The report page of one evaluated stack, and what Inspect is to see.
void Finish(const TEvaluateRequest& request, const TEvaluateResult& result, const TPic& lit,
            const TUniquePoints& points, const std::vector<TRefinedPoint>& refined,
            std::chrono::steady_clock::time_point start) {
    if (!request.Report.empty()) {
        TReportRow row;
        row.Pose = request.ReportPose.empty() ? std::filesystem::path(request.Input).stem().string()
                                              : request.ReportPose;
        row.Input = request.Input;
        row.Status = "ok";
        row.Points = result.Points;
        row.Flagged = result.Flagged;
        row.MinDif = result.MinDif;
        row.Tolerance = result.Tolerance;
        row.Seconds = SecondsSince(start);
        const std::string section =
            ReportSection(row.Pose, lit, points, refined, ThreadsFor(request.Threads));
        WriteReport(request.Report, row.Pose, {row}, [&section](std::size_t) { return section; });
    }
    if (request.Inspect)
        request.Inspect(lit, points, refined);
}

// What an evaluation gave, from the evaluator that ran it (TStreamEval or TPicEval).
template <class TEvaluator>
void Settle(TEvaluateResult& result, const TEvaluator& evaluator,
            std::vector<std::string> sources) {
    result.Width = evaluator.Width;
    result.Height = evaluator.Height;
    result.Points = evaluator.Points.EntryCount;
    result.MinDif = evaluator.MinDif;
    result.Tolerance = evaluator.Tolerance;
    result.Timings = evaluator.Timings;
    result.Sources = std::move(sources);
}

void Summarise(TEvaluateResult& result, const std::vector<TRefinedPoint>& refined,
               bool wasRefined) {
    if (!wasRefined)
        return;
    result.Coverage = CoverageOf(refined);
    result.Flagged = std::int32_t(std::count_if(
        refined.begin(), refined.end(), [](const TRefinedPoint& p) { return p.Flags != 0; }));
}

// Evaluates without keeping the stack; nullopt, having written nothing, where the
// stack is to be loaded whole.
std::optional<TEvaluateResult> EvaluateStreamed(const TEvaluateRequest& request,
                                                const std::vector<std::string>& outputs) {
    const auto start = std::chrono::steady_clock::now();
    const bool refine = Refines(request);
    TStreamEval stream;
    Configure(stream, request);
    if (request.Bitmap)
        stream.BitmapFileName = ChangeFileExt(request.Points, ".bmp");
    if (!LoadStreamed(stream, request, outputs, refine))
        return std::nullopt;
    TEvaluateResult result;
    result.DecodeSeconds = SecondsSince(start);
    result.Suggestion = stream.Suggestion;
    SetInterruptActivity("evaluating " + QuotedName(request.Input));
    if (request.Writing)
        request.Writing();
    stream.Evaluate(request.Points, request.Bitmap, request.Table);
    Settle(result, stream, stream.SourceFiles());
    Summarise(result, stream.Refined(), refine);
    Finish(request, result, stream.Lit, stream.Points, stream.Refined(), start);
    return result;
}

TEvaluateResult EvaluateWhole(const TEvaluateRequest& request,
                              const std::vector<std::string>& outputs) {
    const auto start = std::chrono::steady_clock::now();
    TPicEval eval("ST1");
    TEvaluateResult result;
    result.Suggestion = LoadInput(eval, request, outputs);
    result.DecodeSeconds = SecondsSince(start);
    SetInterruptActivity("evaluating " + QuotedName(request.Input));
    TBitmap display(eval.Width, eval.Height);
    if (request.Writing)
        request.Writing();
    eval.Evaluate(request.Points, request.Bitmap, display, request.Table);
    if (Refines(request) && request.Table.empty())
        eval.Refined = RefineWhole(eval, request);
    Settle(result, eval, WholeSources(eval, request));
    Summarise(result, eval.Refined, Refines(request));
    Finish(request, result, eval.Pics.Planes[2], eval.Points, eval.Refined, start);
    return result;
}

} // namespace

void RefuseOverwrittenInputs(const std::vector<std::string>& outputs,
                             const std::vector<std::string>& inputs) {
    const std::string clash = OverwrittenInputText(outputs, inputs);
    if (!clash.empty())
        throw EUsageError(clash);
}

std::optional<TSuggestion> LoadInput(TPicEval& eval, const TEvaluateRequest& request,
                                     const std::vector<std::string>& outputs,
                                     std::function<bool(std::int32_t)> keep) {
    eval.SetTolerance(request.Settings.Tolerance.value_or(TEvalDefaults::Tolerance));
    eval.SetMinDif(request.Settings.MinDif.value_or(TEvalDefaults::MinDif));
    eval.Threads = request.Threads;
    TLoadOutcome outcome;
    if (IsPicSetHeader(request.Input)) {
        RefuseOverwrittenInputs(outputs, {request.Input});
        TLoadOptions options;
        options.Threads = request.Threads;
        outcome = eval.LoadSet(request.Input, ExtractFilePath(request.Input), options);
        if (eval.Pics.LastError().empty()) // the set itself loaded
            RefuseOverwrittenInputs(outputs, eval.Pics.SourceFiles());
    } else {
        CheckList(request, outputs);
        TLoadOptions options = ListOptions(request);
        if (!request.Settings.Automatic())
            options.Keep = std::move(keep); // the settings are chosen from every plane
        if (Refines(request))
            options.FullDepth = TPicEval::RefinementReads;
        outcome = eval.LoadList(request.Input, request.Channel, options);
    }
    CheckOutcome(outcome);
    if (!request.Settings.Automatic())
        return std::nullopt;
    const TSuggestion suggestion = SuggestSettings(eval, request.Settings, request.Threads);
    eval.SetMinDif(suggestion.MinDif);
    eval.SetTolerance(suggestion.Tolerance);
    return suggestion;
}

std::vector<std::string> OutputFiles(const TEvaluateRequest& request) {
    std::vector<std::string> files = FileNames(request).Files();
    if (!request.Report.empty())
        files.push_back(request.Report);
    return files;
}

TEvaluateResult EvaluateInput(const TEvaluateRequest& request) {
    const std::string problem = FileNames(request).Problem({});
    if (!problem.empty())
        throw EUsageError(problem);
    const std::vector<std::string> outputs = OutputFiles(request);
    if (!request.Report.empty())
        for (std::size_t i = 0; i + 1 < outputs.size(); ++i)
            if (NamesSameFile(request.Report, outputs[i]))
                throw EUsageError("The report " + QuotedName(request.Report) +
                                  " would replace the output " + QuotedName(outputs[i]) +
                                  "; choose another name.");
    SetInterruptActivity("loading " + QuotedName(request.Input));
    if (!request.FullStack)
        if (std::optional<TEvaluateResult> result = EvaluateStreamed(request, outputs))
            return *result;
    return EvaluateWhole(request, outputs);
}
