// Writing a sample stack: the photographs rendered and encoded side by side, the
// truth, with a camera the target table and the camera, and last the list file.

#include "SampleStack.h"

#include "PngWriter.h"
#include "SampleRender.h"
#include "SampleTruth.h"
#include "TiffWriter.h"
#include "base/Errors.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "files/AtomicFile.h"
#include "files/FileUtil.h"
#include "output/JpegWriter.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>

using namespace sample_detail;

namespace {

// Renders and writes photograph k of a stack.
void WritePhotograph(const std::string& path, const TRenderer& renderer, int k,
                     const TSampleOptions& options) {
    const int components = renderer.Components();
    if (options.Format == TSampleFormat::Jpeg) {
        TJpegWriteOptions jpeg;
        jpeg.Quality = options.Quality;
        jpeg.Chroma = options.Chroma;
        WriteJpegRows(
            path, options.Width, options.Height, components,
            [&](int first, int count, std::uint8_t* rows) {
                renderer.RenderRows(k, first, count, rows, Quantize);
            },
            kBandRows, jpeg);
        return;
    }
    const TPictureShape shape{options.Width, options.Height, components, options.Depth, {}};
    const TFineQuantizer fine(SampleMaxValue(options));
    const TSampleRowSource source = [&](int first, int count, std::uint32_t* samples) {
        if (options.Depth == 8)
            renderer.RenderRows(k, first, count, samples, Quantize);
        else
            renderer.RenderRows(k, first, count, samples, fine);
    };
    if (options.Format == TSampleFormat::Png) {
        TPngWriteOptions png;
        png.Colour = components == 1 ? TPngColour::Grey : TPngColour::Rgb;
        WritePngRows(path, shape, source, kBandRows, png);
        return;
    }
    TTiffWriteOptions tiff;
    tiff.Photometric = components == 1 ? TTiffPhotometric::MinIsBlack : TTiffPhotometric::Rgb;
    tiff.Compression = options.TiffCompression;
    tiff.TileWidth = tiff.TileHeight = options.TiffTile;
    WriteTiffRows(path, shape, source, kBandRows, tiff);
}

} // namespace

std::string SamplePictureName(const std::string& baseName, int k, TSampleFormat format) {
    CheckPicture(k);
    const char* extension = format == TSampleFormat::Png    ? ".png"
                            : format == TSampleFormat::Tiff ? ".tif"
                                                            : ".jpg";
    return baseName + (k < 10 ? "_0" : "_") + std::to_string(k) + extension;
}

TSampleStack WriteSampleStack(const std::string& folder, const std::string& baseName,
                              const TSampleOptions& options) {
    CheckSampleOptions(options);
    if (baseName.empty() || baseName.find('/') != std::string::npos)
        throw std::invalid_argument("sample base name \"" + baseName +
                                    "\" must be a file name without a folder");
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec)
            throw EFileError("Cannot create folder \"" + folder + "\": " + ec.message());
    }

    TSampleStack stack;
    stack.Dots = LayoutSampleDots(options);
    stack.ListFile = ResolveFileName(baseName + ".txt", folder);
    stack.TruthFile = ResolveFileName(baseName + "_truth.csv", folder);
    std::string list = "Kelvaron sample stack\r\n" + SizeText(options.Width, options.Height) +
                       " pixels, " + std::to_string(stack.Dots.size()) + " dots, seed " +
                       std::to_string(options.Seed) + "\r\n";
    for (int k = 0; k < kSamplePictureCount; ++k) {
        const std::string name = SamplePictureName(baseName, k, options.Format);
        stack.Photographs.push_back(ResolveFileName(name, folder));
        list += name + "\r\n";
    }

    const TRenderer renderer(options, stack.Dots);
    ForEachIndex(kSamplePictureCount, ThreadsFor(options.Threads), [&](std::int32_t k) {
        const std::string& path = stack.Photographs[k];
        try {
            WritePhotograph(path, renderer, k, options);
        } catch (const EFileError&) {
            throw;
        } catch (const std::exception& e) {
            // The PNG and TIFF writers name the file themselves.
            if (options.Format != TSampleFormat::Jpeg)
                throw EFileError(e.what());
            throw EFileError("Cannot write \"" + path + "\": " + e.what());
        }
    });
    WriteWholeFile(stack.TruthFile, FormatSampleTruth(stack.Dots, options.Camera ? 6 : 3));
    if (options.Camera) {
        stack.TargetFile = ResolveFileName(baseName + "_target.csv", folder);
        stack.CameraFile = ResolveFileName(baseName + "_camera.json", folder);
        WriteWholeFile(stack.TargetFile, FormatSampleTargetTable(stack.Dots));
        WriteWholeFile(stack.CameraFile, FormatSampleCamera(options, stack.Dots.size()));
    }
    WriteWholeFile(stack.ListFile, list); // last: a stack with a list file is complete
    return stack;
}
