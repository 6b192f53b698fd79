#include "pipeline/EvaluateInput.h"

#include "files/AtomicFile.h"
#include "base/Clock.h"
#include "files/FileUtil.h"
#include "files/Interrupts.h"
#include "input/ListFile.h"
#include "base/Parallel.h"
#include "input/PicSet.h"
#include "output/PointBitmap.h"
#include "output/Report.h"
#include "pipeline/StreamEval.h"
#include "base/Text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <filesystem>

namespace {

// The photographs a list names, checked before any is decoded: the list can be
// read (EStackError), no output is one of its files (EUsageError), and it names a
// whole stack (EStackError).
std::vector<std::string> CheckList(const TEvaluateRequest& request,
                                   const std::vector<std::string>& outputs) {
    std::vector<std::string> names;
    std::string error;
    if (!ReadListFile(request.Input, false, ExtractFilePath(request.Input), names, error))
        throw EStackError(error);
    std::vector<std::string> inputs = names;
    inputs.push_back(request.Input);
    RefuseOverwrittenInputs(outputs, inputs);
    if (names.size() != std::size_t(TPicEval::kStackPlanes))
        throw EStackError("The list file " + QuotedName(request.Input) + " names " +
                          CountText(names.size(), "photograph") + "; a stack needs " +
                          std::to_string(TPicEval::kStackPlanes) + ".");
    return names;
}

// The load options of a list: progress as the request asks, and, where the request
// may stop the work, a check after each photograph. request must outlive the load.
TLoadOptions ListOptions(const TEvaluateRequest& request) {
    TLoadOptions options;
    options.BaseFolder = ExtractFilePath(request.Input);
    options.Threads = request.Threads;
    options.Bits = request.Bits;
    options.Progress = request.Progress;
    if (request.CheckStop)
        options.Progress = [&request](std::int32_t plane, const std::string& fileName) {
            request.CheckStop();
            if (request.Progress)
                request.Progress(plane, fileName);
        };
    return options;
}

// The refined centres of a whole stack's points.
std::vector<TRefinedPoint> RefineWhole(const TPicEval& eval, const TEvaluateRequest& request) {
    return RefineCentres(
        {eval.Pics.Planes[0], eval.Pics.Planes[2], eval.Pics.DeepPlane(0), eval.Pics.DeepPlane(2)},
        eval.CodeMatrix, eval.Points, ThreadsFor(request.Threads), request.CheckStop);
}

// The files a whole stack was loaded from, the input first.
std::vector<std::string> WholeSources(const TPicEval& eval, const TEvaluateRequest& request) {
    std::vector<std::string> sources = eval.Pics.SourceFiles();
    if (sources.empty() || sources.front() != request.Input)
        sources.insert(sources.begin(), request.Input);
    return sources;
}

// Raises what a load that did not give a whole stack reports.
void CheckOutcome(const TLoadOutcome& outcome) {
    if (outcome.Error)
        std::rethrow_exception(outcome.Error);
    if (!outcome.Usable)
        throw EStackError(outcome.Reason);
}

bool Refines(const TEvaluateRequest& request) {
    return !request.Table.empty() || !request.Report.empty() || request.Refine;
}

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

// The settings, threads and stop of a streamed evaluation.
void Configure(TStreamEval& stream, const TEvaluateRequest& request) {
    if (request.Settings.MinDif)
        stream.MinDif = *request.Settings.MinDif;
    if (request.Settings.Tolerance)
        stream.Tolerance = *request.Settings.Tolerance;
    stream.SuggestMinDif = !request.Settings.MinDif;
    stream.SuggestTolerance = !request.Settings.Tolerance;
    stream.Threads = request.Threads;
    stream.CheckStop = request.CheckStop;
    stream.KeepCodeMatrix = request.KeepCodes;
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
    std::optional<TLoadOutcome> outcome;
    if (IsPicSetHeader(request.Input)) {
        RefuseOverwrittenInputs(outputs, {request.Input});
        outcome = stream.LoadSet(request.Input, ExtractFilePath(request.Input), refine);
        if (outcome)
            RefuseOverwrittenInputs(outputs, stream.SourceFiles());
    } else {
        CheckList(request, outputs);
        outcome = stream.LoadList(request.Input, request.Channel, ListOptions(request), refine);
    }
    if (!outcome)
        return std::nullopt;
    CheckOutcome(*outcome);
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

bool IsPicSetHeader(const std::string& input) {
    std::string ext = input.substr(input.size() - std::min<std::size_t>(input.size(), 4));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".bbf" && ExtractFileName(input).size() >= 4;
}

std::vector<std::string> InputFiles(const std::string& input) {
    std::vector<std::string> files{input};
    std::string error;
    if (IsPicSetHeader(input)) {
        TPicSetHeader header;
        if (ReadPicSetHeader(input, ExtractFilePath(input), header, error))
            files.insert(files.end(), header.PlaneFiles.begin(), header.PlaneFiles.end());
    } else {
        std::vector<std::string> names;
        if (ReadListFile(input, false, ExtractFilePath(input), names, error))
            files.insert(files.end(), names.begin(), names.end());
    }
    return files;
}

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
    std::vector<std::string> files{request.Points};
    if (request.Bitmap)
        files.push_back(ChangeFileExt(request.Points, ".bmp"));
    if (!request.Table.empty())
        files.push_back(request.Table);
    if (!request.Report.empty())
        files.push_back(request.Report);
    return files;
}

TEvaluateResult EvaluateInput(const TEvaluateRequest& request) {
    const std::string problem =
        TPicEval::OutputProblem(request.Points, request.Bitmap, request.Table, {});
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

namespace {

void CheckStopped(const TEvaluateRequest& request) {
    if (request.CheckStop)
        request.CheckStop();
}

// What a streamed load holds, moved into an evaluation held in memory.
TEvaluation HeldFrom(TStreamEval& stream, bool refined) {
    TEvaluation held;
    held.Width = stream.Width;
    held.Height = stream.Height;
    held.MinDif = stream.MinDif;
    held.Tolerance = stream.Tolerance;
    held.Suggestion = stream.Suggestion;
    held.Lit = std::move(stream.Lit);
    held.Points = std::move(stream.Points);
    held.IsRefined = refined;
    if (refined)
        held.RefinedPoints = stream.Refined();
    held.Codes = std::move(stream.CodeMatrix);
    held.Sources = stream.SourceFiles();
    held.Timings = stream.Timings;
    return held;
}

// The whole stack's evaluation, into memory: as TPicEval::Evaluate computes it.
TEvaluation EvaluateWholeHeld(const TEvaluateRequest& request) {
    TPicEval eval("ST1");
    TEvaluation held;
    held.Suggestion = LoadInput(eval, request, {});
    CheckStopped(request);
    const auto start = std::chrono::steady_clock::now();
    eval.CalcMatrix();
    held.Timings.Matrix = SecondsSince(start);
    CheckStopped(request);
    const auto points = std::chrono::steady_clock::now();
    eval.CalcPoints(ThreadsFor(request.Threads));
    held.Timings.Points = SecondsSince(points);
    CheckStopped(request);
    if (request.Refine) {
        const auto table = std::chrono::steady_clock::now();
        held.IsRefined = true;
        held.RefinedPoints = RefineWhole(eval, request);
        held.Timings.Table = SecondsSince(table);
    }
    held.Width = eval.Width;
    held.Height = eval.Height;
    held.MinDif = eval.MinDif;
    held.Tolerance = eval.Tolerance;
    held.Lit = std::move(eval.Pics.Planes[2]);
    held.Points = std::move(eval.Points);
    if (request.KeepCodes)
        held.Codes = std::move(eval.CodeMatrix);
    held.Sources = WholeSources(eval, request);
    return held;
}

} // namespace

void TEvaluation::Write(const std::string& pointsFileName, bool withBitmap,
                        const std::string& tableFileName, int threads) const {
    const std::string problem =
        TPicEval::OutputProblem(pointsFileName, withBitmap, tableFileName, {});
    if (!problem.empty())
        throw EUsageError(problem);
    const std::string bitmapName = ChangeFileExt(pointsFileName, ".bmp");
    std::vector<std::string> outputs{pointsFileName};
    if (withBitmap)
        outputs.push_back(bitmapName);
    if (!tableFileName.empty())
        outputs.push_back(tableFileName);
    RefuseOverwrittenInputs(outputs, Sources);
    if (!tableFileName.empty() && !IsRefined)
        throw EUsageError("The point table " + QuotedName(tableFileName) +
                          " needs refined centres, and these points were not refined.");
    // As an evaluation writes them: the table's bytes first, so that a table that
    // cannot be written fails before any file is replaced, and the table in place last.
    std::optional<TAtomicFile> table;
    if (!tableFileName.empty()) {
        table.emplace(tableFileName);
        table->Write(PointTableText(Points, RefinedPoints, ThreadsFor(threads)));
    }
    Points.WritePoints(pointsFileName);
    if (withBitmap)
        WritePointBitmap(Lit, Width, Height, Points, bitmapName);
    if (table)
        table->Commit();
}

TEvaluation EvaluateHeld(const TEvaluateRequest& request) {
    if (!request.FullStack) {
        TStreamEval stream;
        Configure(stream, request);
        std::optional<TLoadOutcome> outcome;
        if (IsPicSetHeader(request.Input)) {
            outcome = stream.LoadSet(request.Input, ExtractFilePath(request.Input), request.Refine);
        } else {
            CheckList(request, {});
            outcome = stream.LoadList(request.Input, request.Channel, ListOptions(request),
                                      request.Refine);
        }
        if (outcome) {
            CheckOutcome(*outcome);
            return HeldFrom(stream, request.Refine);
        }
    }
    return EvaluateWholeHeld(request);
}

TEvaluation EvaluatePlanes(TPlaneArray planes, const TEvaluateRequest& request) {
    planes.Prepare();
    TStreamEval stream;
    Configure(stream, request);
    stream.LoadPlanes(planes, request.Refine);
    return HeldFrom(stream, request.Refine);
}

TSuggestion SuggestInput(const TEvaluateRequest& request) {
    TPicEval eval("ST1");
    TEvaluateRequest load = request;
    load.Settings = {TEvalDefaults::MinDif, TEvalDefaults::Tolerance}; // chosen below
    load.Refine = false;
    LoadInput(eval, load, {}, [](std::int32_t plane) {
        return plane == 0 || plane == 2 || plane == kLevelPictures[0] || plane == kLevelPictures[1];
    });
    CheckStopped(request);
    return SuggestSettings(eval, request.Settings, request.Threads);
}

TSuggestion SuggestPlanes(TPlaneArray planes, const TEvaluateRequest& request) {
    planes.Prepare();
    CheckStackPlanes(planes);
    std::array<TPic, 4> read; // planes 0 and 2, and the pictures the levels are counted in
    const std::array<std::int32_t, 4> index{0, 2, kLevelPictures[0], kLevelPictures[1]};
    for (std::size_t i = 0; i < read.size(); ++i) {
        CheckStopped(request);
        planes.CopyPlane(index[i], read[i], request.Threads);
    }
    if (planes.Width == 0 || planes.Height == 0)
        return ChooseSettings({}, request.Settings);
    return ChooseSettings(
        CountSettings(read[0], read[1], {&read[2], &read[3]}, request.Settings, request.Threads),
        request.Settings);
}

bool InputIsMissing(const std::string& input) {
    for (const std::string& file : InputFiles(input)) {
        std::error_code error;
        if (!std::filesystem::exists(file, error) && !error)
            return true;
    }
    return false;
}
