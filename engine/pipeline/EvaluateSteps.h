#pragma once
// The steps every evaluation of an input takes, whether into files or into memory:
// the checks before a load, the load options, the settings of a streamed load, the
// refinement of a whole stack. Included by the pipeline's evaluations alone.

#include "output/EvalFiles.h"
#include "pipeline/EvaluateInput.h"
#include "pipeline/StreamEval.h"

#include <string>
#include <vector>

namespace evaluate_steps {

/// The photographs a list names, checked before any is decoded: the list can be
/// read (EStackError), no output is one of its files (EUsageError), and it names a
/// whole stack (EStackError).
std::vector<std::string> CheckList(const TEvaluateRequest& request,
                                   const std::vector<std::string>& outputs);

/// The load options of a list: progress as the request asks, and, where the
/// request may stop the work, a check after each photograph. request must outlive
/// the load.
TLoadOptions ListOptions(const TEvaluateRequest& request);

/// The refined centres of a whole stack's points.
std::vector<TRefinedPoint> RefineWhole(const TPicEval& eval, const TEvaluateRequest& request);

/// The files a whole stack was loaded from, the input first.
std::vector<std::string> WholeSources(const TPicEval& eval, const TEvaluateRequest& request);

/// Raises what a load that did not give a whole stack reports.
void CheckOutcome(const TLoadOutcome& outcome);

/// The names of the files the request writes beside its report.
TEvalFileNames FileNames(const TEvaluateRequest& request);

/// Whether the request's points are refined: for a table, a report or Refine.
bool Refines(const TEvaluateRequest& request);

/// The settings, threads and stop of a streamed evaluation.
void Configure(TStreamEval& stream, const TEvaluateRequest& request);

/// Loads request.Input into stream (configured), folded as it streams, after the
/// checks a list takes before it is decoded (CheckList), refusing outputs that are
/// one of its files; forTable keeps what the refinement needs. False, having
/// written nothing, where the input is better loaded whole; raises what a load that
/// did not give a whole stack reports (CheckOutcome).
bool LoadStreamed(TStreamEval& stream, const TEvaluateRequest& request,
                  const std::vector<std::string>& outputs, bool forTable);

/// Raises what request.CheckStop raises, if set.
void CheckStopped(const TEvaluateRequest& request);

} // namespace evaluate_steps
