#include "pipeline/EvaluateSteps.h"

#include "base/Errors.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "files/FileUtil.h"
#include "input/ListFile.h"
#include "refine/Refine.h"

namespace evaluate_steps {

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

std::vector<TRefinedPoint> RefineWhole(const TPicEval& eval, const TEvaluateRequest& request) {
    return RefineCentres(
        {eval.Pics.Planes[0], eval.Pics.Planes[2], eval.Pics.DeepPlane(0), eval.Pics.DeepPlane(2)},
        eval.CodeMatrix, eval.Points, ThreadsFor(request.Threads), request.CheckStop);
}

std::vector<std::string> WholeSources(const TPicEval& eval, const TEvaluateRequest& request) {
    std::vector<std::string> sources = eval.Pics.SourceFiles();
    if (sources.empty() || sources.front() != request.Input)
        sources.insert(sources.begin(), request.Input);
    return sources;
}

void CheckOutcome(const TLoadOutcome& outcome) {
    if (outcome.Error)
        std::rethrow_exception(outcome.Error);
    if (!outcome.Usable)
        throw EStackError(outcome.Reason);
}

TEvalFileNames FileNames(const TEvaluateRequest& request) {
    return {request.Points, request.Bitmap, request.Table};
}

bool Refines(const TEvaluateRequest& request) {
    return !request.Table.empty() || !request.Report.empty() || request.Refine;
}

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

void CheckStopped(const TEvaluateRequest& request) {
    if (request.CheckStop)
        request.CheckStop();
}

bool LoadStreamed(TStreamEval& stream, const TEvaluateRequest& request,
                  const std::vector<std::string>& outputs, bool forTable) {
    std::optional<TLoadOutcome> outcome;
    if (IsPicSetHeader(request.Input)) {
        RefuseOverwrittenInputs(outputs, {request.Input});
        outcome = stream.LoadSet(request.Input, ExtractFilePath(request.Input), forTable);
        if (outcome)
            RefuseOverwrittenInputs(outputs, stream.SourceFiles());
    } else {
        outcome = stream.LoadList(request.Input, request.Channel, ListOptions(request), forTable,
                                  CheckList(request, outputs));
    }
    if (!outcome)
        return false;
    CheckOutcome(*outcome);
    return true;
}

} // namespace evaluate_steps
