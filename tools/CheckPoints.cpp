// kelvaron-check-points: compares a points file with the ground truth of the
// sample stack it was made from.
//
// Prints two lines: dots found, mean and largest centre error, centres more than
// half a pixel off, points without a dot; then the dots found right (centre within
// 2 px) and the points that are wrong. With --table, a point table's refined
// centres are scored as well, on a second line beside its plain ones.
// Exit status: 0 every dot found and no stray point, 1 otherwise or on a read
// error, 2 bad command line.

#include "SampleScore.h"
#include "SampleTruth.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    std::string truthFile, pointsFile, tableFile;
    CLI::App app{"Compares a points file with the ground truth of a sample stack."};
    app.add_option("TRUTH", truthFile, "ground-truth table written with the stack")->required();
    app.add_option("POINTS", pointsFile, "points file to check")->required();
    app.add_option("--table", tableFile,
                   "point table (evaluate --table) whose refined centres to score as well");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    try {
        const std::vector<TSampleDot> truth = ReadSampleTruth(truthFile);
        const TTruthComparison c = CompareWithTruth(truth, pointsFile);
        char line[300];
        std::snprintf(line, sizeof line,
                      "%zu of %zu dots found, mean centre error %.3f px, largest %.3f px, "
                      "%zu above %.1f px, %zu points without a dot",
                      c.Found, c.Dots, c.MeanError, c.MaxError, c.Far, kFarError, c.Extra);
        std::cout << line << '\n';
        std::snprintf(line, sizeof line,
                      "%zu of %zu dots right (their code, centre within %.0f px), %zu of %zu "
                      "points wrong (no dot's code, or further off)",
                      c.Right, c.Dots, kRightError, c.Wrong, c.Points);
        std::cout << line << '\n';
        if (!tableFile.empty()) {
            const TTableComparison t = CompareTableWithTruth(truth, tableFile);
            std::snprintf(line, sizeof line,
                          "refined: %zu of %zu dots found, mean centre error %.4f px, largest "
                          "%.4f px, %zu above %.1f px (plain in the table: mean %.4f px, "
                          "largest %.4f px, %zu above %.1f px)",
                          t.Refined.Found, t.Refined.Dots, t.Refined.MeanError, t.Refined.MaxError,
                          t.Refined.Far, kFarError, t.Plain.MeanError, t.Plain.MaxError,
                          t.Plain.Far, kFarError);
            std::cout << line << '\n';
        }
        return c.Found == c.Dots && c.Extra == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "kelvaron-check-points: " << e.what() << '\n';
        return 1;
    }
}
