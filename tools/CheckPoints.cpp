// kelvaron-check-points: compares a points file with the ground truth of the
// sample stack it was made from.
//
// Prints one line: dots found, mean and largest centre error, points without a dot.
// Exit status: 0 every dot found and no stray point, 1 otherwise or on a read
// error, 2 bad command line.

#include "SampleStack.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    std::string truthFile, pointsFile;
    CLI::App app{"Compares a points file with the ground truth of a sample stack."};
    app.add_option("TRUTH", truthFile, "ground-truth table written with the stack")->required();
    app.add_option("POINTS", pointsFile, "points file to check")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    try {
        const TTruthComparison c = CompareWithTruth(ReadSampleTruth(truthFile), pointsFile);
        char line[200];
        std::snprintf(line, sizeof line,
                      "%zu of %zu dots found, mean centre error %.3f px, largest %.3f px, "
                      "%zu points without a dot",
                      c.Found, c.Dots, c.MeanError, c.MaxError, c.Extra);
        std::cout << line << '\n';
        return c.Found == c.Dots && c.Extra == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "kelvaron-check-points: " << e.what() << '\n';
        return 1;
    }
}
