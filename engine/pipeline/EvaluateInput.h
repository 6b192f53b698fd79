#pragma once
// Evaluating one input, a list file of photographs or a picture set, from its name
// to its files: every check that can be made before anything is decoded, then the
// stack folded as it streams where it can be, or loaded whole where it must be.

#include "base/Errors.h"
#include "input/InputFiles.h"
#include "input/PlaneArray.h"
#include "pipeline/Evaluator.h"
#include "pipeline/Suggest.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

/// Raises EUsageError when one of outputs is the same file as one of inputs.
void RefuseOverwrittenInputs(const std::vector<std::string>& outputs,
                             const std::vector<std::string>& inputs);

/// What to evaluate, with which settings, into which files.
struct TEvaluateRequest {
    std::string Input; ///< a list file of photographs or a picture-set header (*.bbf)
    std::uint8_t Channel = TEvalDefaults::Channel;
    /// 16-bit photographs hold values of this many bits (1 … 16); 0: all 16, or a
    /// TIFF's MaxSampleValue.
    int Bits = 0;
    /// The settings given; those left out are chosen from the stack.
    TSettingsRequest Settings = {TEvalDefaults::MinDif, TEvalDefaults::Tolerance};
    int Threads = 0;    ///< 0: one per core
    std::string Points; ///< the points file
    bool Bitmap = true; ///< the marked picture too, as Points with the extension ".bmp"
    std::string Table;  ///< the point table (CSV) as well; empty: none
    /// Load every picture whole first, as the window does, instead of folding each
    /// into the codes as it comes (the results are the same).
    bool FullStack = false;
    /// A report page to write as well (WriteReport: the picture with its points and
    /// the plots), after the other files; empty: none. The points are then refined.
    std::string Report;
    /// The pose's name on the report; empty: the input's name without its folder
    /// and extension.
    std::string ReportPose;
    /// The points are refined even without a table or a report, for Inspect.
    bool Refine = false;
    /// Called after the evaluation, with the picture of all dots lit, the points and
    /// (with a Table or Refine) their refined centres, while they are still held.
    std::function<void(const TPic& lit, const TUniquePoints& points,
                       const std::vector<TRefinedPoint>& refined)>
        Inspect;
    /// Called once the stack is in hand, just before the first file is written.
    std::function<void()> Writing;
    /// Called from the decoding threads after each photograph of a list is decoded.
    std::function<void(std::int32_t plane, const std::string& fileName)> Progress;
    /// An evaluation held in memory (EvaluateHeld, EvaluatePlanes) keeps the code
    /// matrix too.
    bool KeepCodes = false;
    /// Called now and then while the stack is loaded and evaluated, on any of the
    /// threads, by the streamed loads, the evaluations held in memory and a batch
    /// (by a whole stack's load only after each photograph of a list); raises
    /// (EStopped) to stop the work, which then raises that before any file is
    /// written.
    std::function<void()> CheckStop;
};

/// What an evaluation gave.
struct TEvaluateResult {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t Points = 0;
    std::uint8_t MinDif = 0;    ///< used
    std::uint8_t Tolerance = 0; ///< used
    /// The figures of the settings chosen from the stack, when any were.
    std::optional<TSuggestion> Suggestion;
    /// Of the refined points, when they were refined (a Table or Refine).
    std::optional<TCoverage> Coverage;
    std::int32_t Flagged = 0; ///< refined points with any flag
    double DecodeSeconds = 0; ///< the load, from the first check to a stack in hand
    TEvalTimings Timings;
    /// The input and the files it names, as they were read.
    std::vector<std::string> Sources;
};

/// The files a request writes: the points file, its bitmap, the table, the report.
std::vector<std::string> OutputFiles(const TEvaluateRequest& request);

/// Loads request.Input whole into eval (its settings and threads from the
/// request), with the checks EvaluateInput makes against outputs, as the window
/// loads a stack; of a list, only the values of the planes keep takes are kept (all
/// when empty, or when settings are to be chosen). Settings left out of the request
/// are chosen from the stack and set in eval; their figures are returned.
std::optional<TSuggestion> LoadInput(TPicEval& eval, const TEvaluateRequest& request,
                                     const std::vector<std::string>& outputs,
                                     std::function<bool(std::int32_t)> keep = {});

/// Evaluates request.Input into its files as the command line's evaluate does.
/// Raises EUsageError before anything is read when the outputs cannot go together
/// or one of them is an input file; EStackError when the input does not make a
/// stack of 17 pictures of one size; EFileError, EPictureError or EOutOfMemory as
/// loading and writing raise them. Files are written only once the stack is whole.
TEvaluateResult EvaluateInput(const TEvaluateRequest& request);

/// An evaluation held in memory: what the files of evaluate are made of, for a
/// caller that looks at the points and writes the files when it chooses.
struct TEvaluation {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint8_t MinDif = 0;    ///< used
    std::uint8_t Tolerance = 0; ///< used
    /// The figures of the settings chosen from the stack, when any were.
    std::optional<TSuggestion> Suggestion;
    TPic Lit;             ///< picture 2, which the marked picture shows
    TUniquePoints Points; ///< with their centres
    /// Whether the points were refined (TEvaluateRequest::Refine): RefinedPoints
    /// then holds one entry per point.
    bool IsRefined = false;
    std::vector<TRefinedPoint> RefinedPoints;
    TCode Codes; ///< the code matrix, when asked for (KeepCodes); else 0 × 0
    /// The input and the files it names; empty for planes in memory.
    std::vector<std::string> Sources;
    TEvalTimings Timings;

    /// Writes the points file, the marked picture (withBitmap, named as the points
    /// file with the extension ".bmp") and the point table (a tableFileName, which
    /// needs refined points) with the bytes evaluate writes for the same stack and
    /// settings, each file put in place whole, the table last. Raises EUsageError for
    /// outputs that cannot go together or replace an input, and for a table of
    /// points not refined; EFileError when a file cannot be written.
    void Write(const std::string& pointsFileName, bool withBitmap, const std::string& tableFileName,
               int threads = 0) const;
};

/// Evaluates request.Input as EvaluateInput does (the same checks, the same load,
/// streamed where it can be), but into memory: no file is written, and Points,
/// Bitmap, Table, Report, Writing and Inspect are not looked at. The points are
/// refined when request.Refine; the code matrix is kept when request.KeepCodes.
/// Raises what EvaluateInput raises, and what request.CheckStop raises.
TEvaluation EvaluateHeld(const TEvaluateRequest& request);

/// The same for 17 planes held in memory (request.Input, Channel and Bits are not
/// looked at; 16-bit samples as planes.MaxValue says). Raises EStackError for
/// another number of planes or planes without pixels, std::invalid_argument for
/// an array that cannot be read (TPlaneArray::Prepare), EOutOfMemory.
TEvaluation EvaluatePlanes(TPlaneArray planes, const TEvaluateRequest& request);

/// The settings chosen from the stack of request.Input (or fixed by
/// request.Settings), as the command line's suggest chooses them.
TSuggestion SuggestInput(const TEvaluateRequest& request);

/// The same for 17 planes held in memory.
TSuggestion SuggestPlanes(TPlaneArray planes, const TEvaluateRequest& request);
