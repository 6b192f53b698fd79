#pragma once
// The command-line tool's commands. Each loads a stack and calls the same engine
// operations as the window; failures come back as TCliError with the message to
// print.

#include "pipeline/Batch.h"
#include "pipeline/EvaluateInput.h"
#include "pipeline/Evaluator.h"
#include "pipeline/Suggest.h"
#include "output/Views.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

/// The tool's name, which starts each line it prints about a failure.
inline constexpr const char* kProgram = "kelvaron-eval-cli";

/// A failure the tool reports with exit status 1.
class TCliError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Settings shared by the commands that load a stack.
struct TStackArgs {
    std::string Input; ///< a list file of photographs or a picture-set header (*.bbf)
    std::uint8_t Channel = TEvalDefaults::Channel; ///< 0 red, 1 green, 2 blue, 3 grey
    /// 16-bit photographs hold values of this many bits (1 … 16); 0: all 16, or a
    /// TIFF's MaxSampleValue.
    int Bits = 0;
    std::uint8_t Tolerance = TEvalDefaults::Tolerance;
    std::uint8_t MinDif = TEvalDefaults::MinDif;
    bool SuggestTolerance = false; ///< chosen from the stack instead (--tolerance auto)
    bool SuggestMinDif = false;    ///< likewise (--mindif auto)
    bool Quiet = false;            ///< no progress lines on stderr
    int Threads = 0;               ///< 0: one per core
    bool Timings = false;          ///< the time of each stage on stderr

    /// The settings given; the others are to be chosen from the stack.
    TSettingsRequest Request() const {
        return TSettingsRequest::Given(MinDif, SuggestMinDif, Tolerance, SuggestTolerance);
    }
};

struct TEvaluateArgs {
    TStackArgs Stack;
    std::string Points;
    bool NoBitmap = false;
    std::string Table;  ///< the point table (CSV) to write as well; empty: none
    std::string Report; ///< the report page (HTML) to write as well; empty: none
    /// Load every picture whole first, as the window does, instead of folding each
    /// into the codes as it comes (the results are the same).
    bool FullStack = false;
};

/// A command line whose files cannot go together; the tool reports it with exit
/// status 2 before it reads or writes anything.
using TCliUsageError = EUsageError;

struct TBatchArgs {
    TStackArgs Stack; ///< the settings of every pose; its Input is not used
    std::vector<std::string> Inputs;
    std::string OutFolder;
    bool NoBitmap = false;
    bool Table = false;
    bool Report = false;
    bool Force = false;
    bool FullStack = false;
    int PosesAtOnce = 0; ///< 0: chosen by the batch
};

struct TRenderArgs {
    TStackArgs Stack;
    TView View = TView::Plane;
    std::string Out;
    std::uint8_t Plane = 2;
};

struct TSuggestArgs {
    TStackArgs Stack;
};

struct TSaveSetArgs {
    TStackArgs Stack;
    std::string Header;
};

/// Each returns the one-line summary for stdout; raises TCliError (or an engine
/// error) on failure, having written no output file when the input did not load.
std::string RunEvaluate(const TEvaluateArgs& args);
/// Runs a batch; status becomes 0 when every pose is ok or kept, 1 when one failed.
/// Failures and (unless quiet) progress go to stderr.
std::string RunBatchCommand(const TBatchArgs& args, int& status);
std::string RunRender(const TRenderArgs& args);
std::string RunSuggest(const TSuggestArgs& args);
std::string RunSaveSet(const TSaveSetArgs& args);
