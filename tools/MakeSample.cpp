// kelvaron-make-sample: renders a synthetic sample stack (17 photographs as JPEG, PNG
// or TIFF, the list file naming them and the ground-truth table of the dots) into a
// folder. With --camera, the dots are those of a planar target photographed from a
// pose, and the target places of the dots and the camera are written beside the
// truth.
//
// Prints one line: the list file, the number of dots and the picture size.
// Exit status: 0 done, 1 the stack could not be made, 2 bad command line.

#include "SampleOptions.h"
#include "SampleStack.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <exception>
#include <iostream>
#include <map>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    TSampleOptions options;
    std::string folder;
    std::string baseName = "sample";
    std::vector<double> tint;
    std::vector<double> camera;
    std::vector<double> pose;
    TSampleCamera view;
    bool chroma444 = false;
    bool chroma422 = false;
    bool greyJpeg = false;
    std::string format = "jpeg";
    std::string compression = "deflate";
    const std::map<std::string, TSampleFormat> formats = {
        {"jpeg", TSampleFormat::Jpeg}, {"png", TSampleFormat::Png}, {"tiff", TSampleFormat::Tiff}};
    const std::map<std::string, TTiffCompression> compressions = {
        {"none", TTiffCompression::None},
        {"lzw", TTiffCompression::Lzw},
        {"deflate", TTiffCompression::Deflate},
        {"packbits", TTiffCompression::PackBits}};

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
    app.add_option("--format", format, "Photographs as jpeg, png or tiff")
        ->capture_default_str()
        ->check(CLI::IsMember(formats));
    app.add_flag("--grey", options.Greyscale, "Single-channel photographs instead of colour");
    app.add_flag("--grey-jpeg", greyJpeg, "Greyscale JPEGs (--grey for JPEGs)");
    app.add_option("--depth", options.Depth, "Bits a sample of PNG and TIFF: 8 or 16")
        ->capture_default_str()
        ->check(CLI::IsMember({8, 16}));
    app.add_option("--significant-bits", options.SignificantBits,
                   "With --depth 16: values of this many bits, stored unscaled (a 12-bit camera "
                   "writes 0 ... 4095)")
        ->capture_default_str()
        ->check(CLI::Range(1, 16));
    app.add_option("--tiff-compression", compression,
                   "TIFF compression: none, lzw, deflate or packbits")
        ->capture_default_str()
        ->check(CLI::IsMember(compressions));
    app.add_option("--tiff-tile", options.TiffTile,
                   "TIFFs in square tiles of this side, a multiple of 16; 0: strips")
        ->capture_default_str()
        ->check(CLI::Range(0, 65488));
    app.add_option("--quality", options.Quality, "JPEG quality")
        ->capture_default_str()
        ->check(CLI::Range(1, 100));
    auto* full = app.add_flag("--chroma-444", chroma444, "Colour JPEGs without chroma subsampling");
    app.add_flag("--chroma-422", chroma422,
                 "Colour JPEGs with chroma halved across only (default: 4:2:0)")
        ->excludes(full);
    app.add_option("--seed", options.Seed, "Random seed")->capture_default_str();
    app.add_option("--threads", options.Threads, "Pictures made at once; 0: one per core")
        ->capture_default_str()
        ->check(CLI::Range(0, 4096));

    app.add_option("--camera", camera,
                   "Photograph a planar dot target with this camera: FX,FY,CX,CY in pixels, "
                   "optionally followed by the radial distortion K1,K2")
        ->delimiter(',')
        ->expected(4, 6);
    app.add_option("--pose", pose,
                   "Where the target lies as the camera sees it: rotation vector RX,RY,RZ in "
                   "radians, then translation TX,TY,TZ in target units (default 0,0,0,0,0,500)")
        ->delimiter(',')
        ->expected(6);
    app.add_option("--target-pitch", view.Target.Pitch, "Dot pitch on the target")
        ->capture_default_str();
    app.add_option("--target-dot-radius", view.Target.DotRadius, "Disc radius on the target")
        ->capture_default_str();
    app.add_option("--target-columns", view.Target.Columns, "Dot columns of the target")
        ->capture_default_str()
        ->check(CLI::Range(1, kSampleMaxDots));
    app.add_option("--target-rows", view.Target.Rows, "Dot rows of the target")
        ->capture_default_str()
        ->check(CLI::Range(1, kSampleMaxDots));
    app.add_option("--target-jitter", view.Target.Jitter,
                   "Largest offset of a dot centre off the target's grid, in target units")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);

    // Options of one format are refused with another, rather than left without effect.
    app.callback([&] {
        options.Format = formats.at(format);
        options.TiffCompression = compressions.at(compression);
        auto given = [&](const char* name) { return app.count(name) > 0; };
        auto only = [&](const char* name, TSampleFormat wanted, const char* formatName) {
            if (given(name) && options.Format != wanted)
                throw CLI::ValidationError(name, std::string("applies to ") + formatName +
                                                     " photographs only");
        };
        if (given("--grey-jpeg") && options.Format != TSampleFormat::Jpeg)
            throw CLI::ValidationError("--grey-jpeg", "applies to JPEG photographs; use --grey");
        only("--quality", TSampleFormat::Jpeg, "JPEG");
        only("--chroma-444", TSampleFormat::Jpeg, "JPEG");
        only("--chroma-422", TSampleFormat::Jpeg, "JPEG");
        only("--tiff-compression", TSampleFormat::Tiff, "TIFF");
        only("--tiff-tile", TSampleFormat::Tiff, "TIFF");
        if (options.Format == TSampleFormat::Jpeg && options.Depth != 8)
            throw CLI::ValidationError("--depth", "JPEG photographs have 8 bits a sample");
        if (given("--significant-bits") && options.Depth != 16)
            throw CLI::ValidationError("--significant-bits", "needs --depth 16");
        if (options.TiffTile % 16 != 0)
            throw CLI::ValidationError("--tiff-tile", "must be a multiple of 16");

        // The target's options need a camera; the picture's own layout does not apply.
        const bool withCamera = given("--camera");
        for (const char* name : {"--pose", "--target-pitch", "--target-dot-radius",
                                 "--target-columns", "--target-rows", "--target-jitter"})
            if (given(name) && !withCamera)
                throw CLI::ValidationError(name, "needs --camera");
        for (const char* name : {"--spacing", "--dot-radius", "--jitter"})
            if (given(name) && withCamera)
                throw CLI::ValidationError(name, "does not apply with --camera; see --target-*");
        if (!withCamera)
            return;
        if (camera.size() != 4 && camera.size() != 6)
            throw CLI::ValidationError("--camera", "takes FX,FY,CX,CY or FX,FY,CX,CY,K1,K2");
        if (!(camera[0] > 0 && camera[1] > 0))
            throw CLI::ValidationError("--camera", "focal lengths FX, FY must be positive");
        view.Intrinsics = {camera[0],
                           camera[1],
                           camera[2],
                           camera[3],
                           camera.size() == 6 ? camera[4] : 0.0,
                           camera.size() == 6 ? camera[5] : 0.0};
        if (!pose.empty()) {
            view.Pose.Rotation = {pose[0], pose[1], pose[2]};
            view.Pose.Translation = {pose[3], pose[4], pose[5]};
        }
        if (!(view.Target.Pitch > 0))
            throw CLI::ValidationError("--target-pitch", "must be positive");
        if (!(view.Target.DotRadius > 0))
            throw CLI::ValidationError("--target-dot-radius", "must be positive");
        if (!(view.Target.DotRadius <= view.Target.Pitch / 2))
            throw CLI::ValidationError("--target-dot-radius", "must be at most half the pitch");
        if (std::int64_t(view.Target.Columns) * view.Target.Rows > kSampleMaxDots)
            throw CLI::ValidationError("--target-columns",
                                       "times --target-rows must be at most 16384 dots");
        if (!(view.Target.Jitter <= view.Target.Pitch / 4))
            throw CLI::ValidationError("--target-jitter", "must be at most a quarter of the pitch");
        options.Camera = view;
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }
    if (!tint.empty())
        options.Tint = {tint[0], tint[1], tint[2]};
    options.Greyscale = options.Greyscale || greyJpeg;
    options.Chroma = chroma444   ? TJpegChroma::Chroma444
                     : chroma422 ? TJpegChroma::Chroma422
                                 : TJpegChroma::Chroma420;

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
