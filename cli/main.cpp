// kelvaron-eval-cli: evaluates coded dot stacks without a window.
//
// Exit status: 0 success, 1 the input or an output file failed, 2 usage error.

#include "Commands.h"
#include "base/Errors.h"
#include "files/Interrupts.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <exception>
#include <iostream>
#include <map>

namespace {

const std::map<std::string, int> kChannels = {
    {"red", kChannelRed}, {"green", kChannelGreen}, {"blue", kChannelBlue}, {"grey", kChannelGrey}};

const std::map<std::string, TView> kViews = {{"plane", TView::Plane},
                                             {"matrix", TView::Matrix},
                                             {"edges", TView::Edges},
                                             {"codes", TView::Codes}};

// Numbers are read as decimal whatever they start with: CLI11 alone would take
// "010" for octal 8 and refuse "080". Leading zeros are dropped before the value
// is converted; anything but decimal digits is refused.
const CLI::Validator kDecimal(
    [](std::string& text) -> std::string {
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
            return "must be a whole decimal number, not \"" + text + "\"";
        text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
        return {};
    },
    "");

// A setting of 0 … 255, or "auto": chosen from the stack.
const CLI::Validator kSetting(
    [](std::string& text) -> std::string {
        std::string lower = text;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (lower == "auto") {
            text = lower;
            return {};
        }
        std::string problem = kDecimal(text);
        if (problem.empty() && (text.size() > 3 || std::stoi(text) > 255))
            problem = "must be 0 to 255 or auto, not " + text;
        return problem;
    },
    "0…255|auto");

// A file name the command writes: an empty one names no file.
const CLI::Validator kFileName(
    [](const std::string& text) -> std::string {
        return text.empty() ? "must name a file; it is empty" : std::string();
    },
    "FILE");

// Byte-sized settings are parsed as ints: a uint8_t would be read as a character.
struct TStackOptions {
    TStackArgs Args;
    int Channel = TEvalDefaults::Channel;
    std::string Tolerance = std::to_string(TEvalDefaults::Tolerance);
    std::string MinDif = std::to_string(TEvalDefaults::MinDif);

    TStackArgs Get() const {
        TStackArgs args = Args;
        args.Channel = std::uint8_t(Channel);
        args.SuggestTolerance = Tolerance == "auto";
        args.SuggestMinDif = MinDif == "auto";
        if (!args.SuggestTolerance)
            args.Tolerance = std::uint8_t(std::stoi(Tolerance));
        if (!args.SuggestMinDif)
            args.MinDif = std::uint8_t(std::stoi(MinDif));
        return args;
    }
};

// The options every stack-loading command takes.
// A batch takes its inputs itself (several of them); the others take one INPUT.
void AddStackOptions(CLI::App& command, TStackOptions& options, bool withSettings,
                     bool withInput = true) {
    if (withInput)
        command
            .add_option("INPUT", options.Args.Input,
                        "list file of photographs (JPEG, PNG, TIFF), or picture-set header (*.bbf)")
            ->required();
    command.add_option("--channel", options.Channel, "channel kept from colour photographs")
        ->transform(CLI::CheckedTransformer(kChannels, CLI::ignore_case))
        ->default_str("grey");
    if (withSettings) {
        command
            .add_option("--tolerance", options.Tolerance,
                        "subtracted from picture 2 for the threshold; auto: chosen from the "
                        "stack, as suggest does")
            ->transform(kSetting)
            ->capture_default_str();
        command
            .add_option("--mindif", options.MinDif,
                        "how far picture 2 must exceed picture 0 on a dot; auto: chosen from "
                        "the stack, as suggest does")
            ->transform(kSetting)
            ->capture_default_str();
    }
    command
        .add_option("--bits", options.Args.Bits,
                    "16-bit photographs hold values of this many bits, unscaled (a 12-bit "
                    "camera: 12)")
        ->transform(kDecimal)
        ->check(CLI::Range(1, 16));
    command.add_flag("-q,--quiet", options.Args.Quiet, "no progress lines on stderr");
    command.add_option("--threads", options.Args.Threads, "threads to use; 0: one per core")
        ->transform(kDecimal)
        ->check(CLI::Range(0, 1024))
        ->capture_default_str();
    if (withInput) // a batch gives each pose's time in its summary
        command.add_flag("--timings", options.Args.Timings,
                         "the time of each stage (decode, matrix, points, files) on stderr");
}

} // namespace

int main(int argc, char** argv) {
    InstallInterruptHandlers(kProgram);
    CLI::App app{"Evaluates a stack of 17 photographs of a coded dot pattern: dark and bright "
                 "reference, all dots lit, 14 code pictures.",
                 kProgram};
    app.require_subcommand(1);

    TEvaluateArgs evaluate;
    TStackOptions evaluateStack;
    CLI::App* evaluateCommand = app.add_subcommand(
        "evaluate", "decode every pixel, write the points file and the marked picture");
    AddStackOptions(*evaluateCommand, evaluateStack, true);
    evaluateCommand->add_option("POINTS", evaluate.Points, "points file to write")
        ->required()
        ->check(kFileName);
    evaluateCommand->add_flag("--no-bitmap", evaluate.NoBitmap,
                              "do not write the marked picture (POINTS with extension .bmp)");
    evaluateCommand->add_flag("--full-stack", evaluate.FullStack,
                              "load all 17 pictures whole, as the window does, instead of "
                              "folding each into the codes as it comes");
    evaluateCommand
        ->add_option(
            "--table", evaluate.Table,
            "also write a CSV table of every point with its refined centre and quality figures")
        ->check(kFileName);

    TBatchArgs batch;
    TStackOptions batchStack;
    CLI::App* batchCommand = app.add_subcommand(
        "batch", "evaluate many stacks (poses) into one folder: each pose's files as evaluate "
                 "writes them, points.csv with every pose's points, summary.csv");
    batchCommand
        ->add_option("INPUT", batch.Inputs,
                     "list files of photographs (JPEG, PNG, TIFF) or picture-set headers (*.bbf)")
        ->required();
    AddStackOptions(*batchCommand, batchStack, true, false);
    batchCommand->add_option("--out", batch.OutFolder, "folder the files go to (made when missing)")
        ->required()
        ->check(kFileName);
    batchCommand->add_flag("--no-bitmap", batch.NoBitmap, "do not write the marked pictures");
    batchCommand->add_flag("--table", batch.Table,
                           "also write each pose's point table (POSE.csv) and put its columns "
                           "in points.csv");
    batchCommand->add_flag("--report", batch.Report,
                           "also write report.html: every pose's picture with its points, and "
                           "plots, in one page");
    batchCommand->add_flag("--force", batch.Force, "redo the poses that are up to date");
    batchCommand
        ->add_option("--poses-at-once", batch.PosesAtOnce,
                     "poses evaluated side by side; 0: one per thread, as memory allows")
        ->transform(kDecimal)
        ->check(CLI::Range(0, kMaxPosesInFlight))
        ->capture_default_str();
    batchCommand->add_flag("--full-stack", batch.FullStack,
                           "load all 17 pictures of each pose whole (the results are the same)");

    evaluateCommand
        ->add_option("--report", evaluate.Report,
                     "also write an HTML page: the picture with every point marked, and plots")
        ->check(kFileName);

    TRenderArgs render;
    TStackOptions renderStack;
    int plane = 2;
    CLI::App* renderCommand =
        app.add_subcommand("render", "draw one view of the stack into a 24-bit BMP");
    renderCommand->add_option("VIEW", render.View, "plane, matrix, edges or codes")
        ->required()
        ->transform(CLI::CheckedTransformer(kViews, CLI::ignore_case));
    AddStackOptions(*renderCommand, renderStack, true);
    renderCommand->add_option("OUT", render.Out, "BMP file to write")->required()->check(kFileName);
    renderCommand->add_option("--plane", plane, "picture shown by the plane and matrix views")
        ->transform(kDecimal)
        ->check(CLI::Range(0, 16))
        ->capture_default_str();

    TSuggestArgs suggest;
    TStackOptions suggestStack;
    CLI::App* suggestCommand = app.add_subcommand(
        "suggest", "choose mindif and tolerance from the stack: prints \"mindif N\" and "
                   "\"tolerance N\", and on stderr why and the points each setting gives");
    AddStackOptions(*suggestCommand, suggestStack, false);

    TSaveSetArgs saveSet;
    TStackOptions saveSetStack;
    CLI::App* saveSetCommand = app.add_subcommand(
        "save-set", "store the decoded stack as a picture set: a header (*.bbf) and plane files");
    AddStackOptions(*saveSetCommand, saveSetStack, false);
    saveSetCommand->add_option("HEADER", saveSet.Header, "header name; its extension becomes .bbf")
        ->required()
        ->check(kFileName);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // The message, then the usage of the command it concerns.
        std::cerr << kProgram << ": " << e.what() << "\n\n";
        const std::vector<CLI::App*> chosen = app.get_subcommands();
        std::cerr << (chosen.empty() ? app.help() : chosen.back()->help());
        return 2;
    }

    std::string doing = "to save the picture set";
    if (*evaluateCommand || *batchCommand)
        doing = "to evaluate the stack";
    else if (*suggestCommand)
        doing = "to suggest settings";
    else if (*renderCommand)
        doing = "to render the view";

    try {
        std::string summary;
        if (*evaluateCommand) {
            evaluate.Stack = evaluateStack.Get();
            summary = RunEvaluate(evaluate);
        } else if (*batchCommand) {
            batch.Stack = batchStack.Get();
            int status = 0;
            summary = RunBatchCommand(batch, status);
            std::cout << summary << '\n';
            return status;
        } else if (*renderCommand) {
            render.Stack = renderStack.Get();
            render.Plane = std::uint8_t(plane);
            summary = RunRender(render);
        } else if (*suggestCommand) {
            suggest.Stack = suggestStack.Get();
            summary = RunSuggest(suggest);
        } else {
            saveSet.Stack = saveSetStack.Get();
            summary = RunSaveSet(saveSet);
        }
        std::cout << summary << '\n';
        return 0;
    } catch (const TCliUsageError& e) {
        std::cerr << kProgram << ": " << e.what() << '\n';
        return 2;
    } catch (const std::bad_alloc& e) {
        std::cerr << kProgram << ": " << OutOfMemoryText(e, doing) << '\n';
        return 1;
    } catch (const std::exception& e) {
        std::cerr << kProgram << ": " << e.what() << '\n';
        return 1;
    }
}
