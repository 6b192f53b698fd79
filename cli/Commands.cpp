#include "Commands.h"

#include "FileUtil.h"
#include "PicHolder.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <iostream>
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

// Loads the stack named by args.Input into eval, resolving the relative names inside
// the list or header against its own folder. Raises TCliError unless the stack is
// complete: 17 pictures of one size.
void LoadStack(TPicEval& eval, const TStackArgs& args) {
    const auto start = std::chrono::steady_clock::now();
    eval.SetTolerance(args.Tolerance);
    eval.SetMinDif(args.MinDif);
    eval.Threads = args.Threads;
    const std::string folder = ExtractFilePath(args.Input);
    if (IsPicSetHeader(args.Input)) {
        if (!LoadPicSet(eval.Pics, args.Input, folder))
            throw TCliError(eval.Pics.LastError());
        eval.Pics.CheckSize(eval.Height, eval.Width);
    } else {
        TLoadOptions options;
        options.BaseFolder = folder;
        options.Threads = args.Threads;
        if (!args.Quiet)
            options.Progress = [](std::int32_t plane, const std::string& fileName) {
                std::cerr << "Decoded picture " << plane << ": " << fileName << '\n';
            };
        if (!eval.LoadPictures(args.Input, false, args.Channel, options) &&
            !eval.Pics.LastError().empty())
            throw TCliError(eval.Pics.LastError());
    }
    std::string reason;
    if (!eval.IsStackComplete(&reason))
        throw TCliError("\"" + args.Input + "\" does not give a complete stack: " + reason);
    if (args.Timings)
        std::cerr << "Timings: decode " << Seconds(std::chrono::steady_clock::now() - start)
                  << '\n';
}

std::string SizeText(const TPicEval& eval) {
    return std::to_string(eval.Width) + " x " + std::to_string(eval.Height);
}

} // namespace

std::string RunEvaluate(const TEvaluateArgs& args) {
    if (!args.Table.empty() && TPicEval::TableReplacesOutput(args.Points, args.Table))
        throw TCliUsageError("the point table \"" + args.Table +
                             "\" would replace the points file or its bitmap \"" +
                             ChangeFileExt(args.Points, ".bmp") + "\"; choose another name");
    TPicEval eval("ST1");
    LoadStack(eval, args.Stack);
    TBitmap display(eval.Width, eval.Height);
    eval.Evaluate(args.Points, !args.NoBitmap, display, args.Table);
    if (args.Stack.Timings) {
        std::cerr << "Timings: matrix " << Seconds(eval.Timings.Matrix) << ", points "
                  << Seconds(eval.Timings.Points);
        if (!args.Table.empty())
            std::cerr << ", table " << Seconds(eval.Timings.Table);
        std::cerr << ", files " << Seconds(eval.Timings.Files) << "; peak memory "
                  << PeakMemoryMiB() << " MiB\n";
    }
    std::string summary = std::to_string(eval.Points.EntryCount) + " points of a " +
                          SizeText(eval) + " stack written to " + args.Points;
    if (!args.NoBitmap)
        summary += ", marked picture to " + ChangeFileExt(args.Points, ".bmp");
    if (!args.Table.empty())
        summary += ", point table to " + args.Table;
    return summary;
}

std::string RunRender(const TRenderArgs& args) {
    TPicEval eval("ST1");
    LoadStack(eval, args.Stack);
    TBitmap out(eval.Width, eval.Height);
    std::string what;
    switch (args.View) {
    case TView::Plane:
        eval.ShowPicture(args.Plane, out);
        what = "picture " + std::to_string(args.Plane);
        break;
    case TView::Matrix:
        eval.ShowMatrix(args.Plane, out);
        what = "matrix view of picture " + std::to_string(args.Plane);
        break;
    case TView::Edges:
        eval.ShowEdges(out);
        what = "edges view";
        break;
    case TView::Codes:
        eval.ShowMatrix(2, out);
        eval.CalcMatrix();
        eval.ShowCodePoints(out);
        what = "code points";
        break;
    }
    out.SaveToFile(args.Out);
    return "Rendered the " + what + " (" + SizeText(eval) + ") to " + args.Out;
}

std::string RunSaveSet(const TSaveSetArgs& args) {
    TPicEval eval("ST1");
    LoadStack(eval, args.Stack);
    const std::string header = ChangeFileExt(args.Header, ".bbf");
    SavePicSet(eval.Pics, header, true);
    return "Saved " + std::to_string(eval.Pics.Count()) + " pictures of " + SizeText(eval) +
           " as " + header;
}
