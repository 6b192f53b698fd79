// kelvaron-sweep-settings: how many dots of a sample stack each fixed pair of
// settings finds, against the defaults and the suggested pair.
//
// The stack is loaded once; for every mindif and tolerance of a grid the codes,
// points and centres are made as evaluate makes them and scored against the ground
// truth: a dot is right when a point has its code and a centre within 2 px of it, a
// point is wrong when its code is no dot's or its centre lies further off. The best
// pair has the most right dots, then the fewest wrong points. The coarse grid is
// searched again at every step around its best pairs.
//
// Prints one line: defaults, suggested and best fixed, each "right/dots wrong/points
// (mindif, tolerance)".

#include "pipeline/Evaluator.h"
#include "files/FileUtil.h"
#include "files/Interrupts.h"
#include "SampleScore.h"
#include "SampleTruth.h"
#include "pipeline/Suggest.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <set>

namespace {

struct TScore {
    int MinDif = 0, Tolerance = 0;
    TTruthComparison Result;
    // More right dots first, then fewer wrong points, then the smaller settings.
    bool operator<(const TScore& other) const {
        if (Result.Right != other.Result.Right)
            return Result.Right > other.Result.Right;
        if (Result.Wrong != other.Result.Wrong)
            return Result.Wrong < other.Result.Wrong;
        return std::pair(MinDif, Tolerance) < std::pair(other.MinDif, other.Tolerance);
    }
};

TScore Score(TPicEval& eval, const std::vector<TSampleDot>& truth, int minDif, int tolerance) {
    eval.SetMinDif(std::uint8_t(minDif));
    eval.SetTolerance(std::uint8_t(tolerance));
    eval.CalcMatrix();
    eval.Points.Reset();
    eval.Points.AddCodeMatrix(eval.CodeMatrix, 0);
    eval.Points.Trim();
    eval.Points.CalcCentres();
    return {minDif, tolerance, CompareWithTruth(truth, eval.Points)};
}

std::string Text(const TScore& score) {
    char text[120];
    std::snprintf(text, sizeof text, "%zu/%zu %zu/%zu (%d, %d)", score.Result.Right,
                  score.Result.Dots, score.Result.Wrong, score.Result.Points, score.MinDif,
                  score.Tolerance);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    InstallInterruptHandlers("kelvaron-sweep-settings");
    std::string list, truthFile, channelName = "grey";
    int step = 4;
    CLI::App app{"Scores fixed settings on a sample stack against its ground truth."};
    app.add_option("LIST", list, "list file of the stack")->required();
    app.add_option("TRUTH", truthFile, "its ground truth")->required();
    app.add_option("--channel", channelName, "red, green, blue or grey")->capture_default_str();
    app.add_option("--step", step, "step of the coarse grid")->capture_default_str();
    CLI11_PARSE(app, argc, argv);
    const std::map<std::string, std::uint8_t> channels = {{"red", kChannelRed},
                                                          {"green", kChannelGreen},
                                                          {"blue", kChannelBlue},
                                                          {"grey", kChannelGrey}};
    try {
        const std::vector<TSampleDot> truth = ReadSampleTruth(truthFile);
        TPicEval eval("ST1");
        TLoadOptions options;
        options.BaseFolder = ExtractFilePath(list);
        const TLoadOutcome outcome = eval.LoadList(list, channels.at(channelName), options);
        if (!outcome.Usable)
            throw std::runtime_error(outcome.Reason);

        const TScore defaults = Score(eval, truth, TEvalDefaults::MinDif, TEvalDefaults::Tolerance);
        const TSuggestion suggestion = SuggestSettings(eval);
        const TScore suggested = Score(eval, truth, suggestion.MinDif, suggestion.Tolerance);

        std::set<TScore> coarse;
        for (int minDif = 5; minDif <= 150; minDif += step)
            for (int tolerance = 2; tolerance <= 100; tolerance += step)
                coarse.insert(Score(eval, truth, minDif, tolerance));
        std::set<TScore> fine = coarse;
        std::set<std::pair<int, int>> tried;
        int rounds = 0;
        for (const TScore& best : coarse) {
            if (++rounds > 3)
                break;
            for (int minDif = std::max(5, best.MinDif - step);
                 minDif <= std::min(150, best.MinDif + step); ++minDif)
                for (int tolerance = std::max(2, best.Tolerance - step);
                     tolerance <= std::min(100, best.Tolerance + step); ++tolerance)
                    if (tried.emplace(minDif, tolerance).second)
                        fine.insert(Score(eval, truth, minDif, tolerance));
        }
        std::cout << "defaults " << Text(defaults) << "  suggested " << Text(suggested) << "  best "
                  << Text(*fine.begin()) << '\n';
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "kelvaron-sweep-settings: " << e.what() << '\n';
        return 1;
    }
}
