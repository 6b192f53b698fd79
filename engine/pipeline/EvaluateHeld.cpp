// Evaluations held in memory: of an input, or of planes an array holds; and the
// files they write when asked.

#include "base/Clock.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "files/FileUtil.h"
#include "output/EvalFiles.h"
#include "pipeline/EvaluateInput.h"
#include "pipeline/EvaluateSteps.h"
#include "pipeline/StreamEval.h"
#include "refine/Refine.h"

#include <array>
#include <chrono>

using namespace evaluate_steps;

namespace {

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
    const TEvalFileNames names{pointsFileName, withBitmap, tableFileName};
    const std::string problem = names.Problem(Sources);
    if (!problem.empty())
        throw EUsageError(problem);
    if (!tableFileName.empty() && !IsRefined)
        throw EUsageError("The point table " + QuotedName(tableFileName) +
                          " needs refined centres, and these points were not refined.");
    TEvalFileContent content;
    content.Width = Width;
    content.Height = Height;
    content.Lit = &Lit;
    content.Points = &Points;
    content.TableText = [&] { return PointTableText(Points, RefinedPoints, ThreadsFor(threads)); };
    WriteEvalFiles(names, content, Sources);
}

TEvaluation EvaluateHeld(const TEvaluateRequest& request) {
    if (!request.FullStack) {
        TStreamEval stream;
        Configure(stream, request);
        if (LoadStreamed(stream, request, {}, request.Refine))
            return HeldFrom(stream, request.Refine);
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
