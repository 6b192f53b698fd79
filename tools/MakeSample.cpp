// kelvaron-make-sample: renders a synthetic sample stack (17 JPEG photographs, the
// list file naming them and the ground-truth table of the dots) into a folder.
//
// Prints one line: the list file, the number of dots and the picture size.
// Exit status: 0 done, 1 the stack could not be made, 2 bad command line.

#include "SampleStack.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    TSampleOptions options;
    std::string folder;
    std::string baseName = "sample";
    std::vector<double> tint;
    bool chroma444 = false;

    CLI::App app{"Renders a synthetic stack of 17 photographs of the coded dot pattern, with "
                 "its list file and a ground-truth table of the dot centres."};
    app.add_option("--out", folder, "Folder for the stack (created if missing)")->required();
    app.add_option("--name", baseName, "Base name of the files")->capture_default_str();
    app.add_option("--width", options.Width, "Picture width in pixels")
        ->capture_default_str()
        ->check(CLI::Range(1, 65500));
    app.add_option("--height", options.Height, "Picture height in pixels")
        ->capture_default_str()
        ->check(CLI::Range(1, 65500));
    app.add_option("--spacing", options.Spacing, "Dot pitch in pixels")
        ->capture_default_str()
        ->check(CLI::Range(4.0, 65500.0));
    app.add_option("--max-dots", options.MaxDots, "Most dots to lay out (at most 16384)")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--dot-radius", options.DotRadius, "Disc radius in pixels; 0: 0.22 x spacing")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--blur", options.Blur, "Gaussian blur sigma in pixels")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--noise", options.Noise, "Sensor noise sigma in grey levels")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--ambient", options.Ambient, "Dark level")->capture_default_str();
    app.add_option("--brightness", options.Brightness, "Projector light at a dot's core")
        ->capture_default_str();
    app.add_option("--vignetting", options.Vignetting, "Relative light loss in the corners")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 0.99));
    app.add_option("--jitter", options.Jitter, "Largest offset of a dot centre off the grid")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--gain-spread", options.GainSpread,
                   "Each dot's light varies by up to this share, 0 ... 0.9")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 0.9));
    app.add_flag("--shuffle", options.Shuffle,
                 "Deal the dot numbers out in a random order instead of row by row");
    app.add_option("--tint", tint, "Colour multipliers R,G,B (default 1,1,1)")
        ->delimiter(',')
        ->expected(3);
    app.add_flag("--grey-jpeg", options.Greyscale, "Write greyscale JPEGs");
    app.add_option("--quality", options.Quality, "JPEG quality")
        ->capture_default_str()
        ->check(CLI::Range(1, 100));
    app.add_flag("--chroma-444", chroma444, "Colour JPEGs without chroma subsampling");
    app.add_option("--seed", options.Seed, "Random seed")->capture_default_str();
    app.add_option("--threads", options.Threads, "Pictures made at once; 0: one per core")
        ->capture_default_str()
        ->check(CLI::Range(0, 4096));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }
    if (!tint.empty())
        options.Tint = {tint[0], tint[1], tint[2]};
    options.Subsample420 = !chroma444;

    try {
        const TSampleStack stack = WriteSampleStack(folder, baseName, options);
        std::cout << stack.ListFile << ' ' << stack.Dots.size() << " dots " << options.Width << 'x'
                  << options.Height << '\n';
    } catch (const std::exception& e) {
        std::cerr << "kelvaron-make-sample: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
