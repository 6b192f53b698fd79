#pragma once
// The options of a sample stack: the size of its photographs, the dots and their
// light, the optics and the sensor, how the photographs are stored, and the camera
// that may photograph a target instead; with their checks.

#include "SampleCamera.h"
#include "TiffWriter.h"
#include "output/JpegWriter.h"

#include <array>
#include <cstdint>
#include <optional>

/// Pictures in a stack.
inline constexpr int kSamplePictureCount = 17;
/// Most dots a stack can number: 14 code pictures give 2^14 dot numbers.
inline constexpr int kSampleMaxDots = 16384;

/// How the photographs of a stack are stored.
enum class TSampleFormat { Jpeg, Png, Tiff };

struct TSampleOptions {
    int Width = 1280, Height = 960;
    double Spacing = 24;          ///< dot pitch of the regular grid, in pixels
    int MaxDots = kSampleMaxDots; ///< at most this many dots, and never more than 16384
    /// 0: dot n carries code 2n + 1. Otherwise only this many codes are used, dot n
    /// carrying 2 (n mod DistinctCodes) + 1, so that many dots share a code.
    int DistinctCodes = 0;
    double DotRadius = 0;     ///< projected disc radius in pixels; 0: 0.22 × Spacing
    double Blur = 1.0;        ///< Gaussian sigma of the optics, in pixels
    double Noise = 2.0;       ///< sensor noise sigma in grey levels, per picture and channel
    double Ambient = 25;      ///< dark level
    double Brightness = 210;  ///< projector light above the dark level at a dot's core
    double Vignetting = 0.25; ///< relative brightness loss in the corners, 0 … 0.99
    double Jitter = 0.3;      ///< dot centres move by up to this much off the grid, in pixels
    /// Each dot's light is scaled by a factor drawn from 1 ± GainSpread (0 … 0.9), as
    /// a projector's dots and a scene's surfaces differ in brightness.
    double GainSpread = 0;
    /// Dot numbers are dealt out to the grid positions in a random order instead of
    /// row by row, so that neighbouring dots carry unrelated codes.
    bool Shuffle = false;
    std::array<double, 3> Tint = {1, 1, 1};      ///< multipliers for red, green, blue
    bool Greyscale = false;                      ///< single-channel photographs instead of colour
    int Quality = 90;                            ///< JPEG quality 1 … 100
    TJpegChroma Chroma = TJpegChroma::Chroma420; ///< chroma sampling of colour JPEGs
    /// How the photographs are stored.
    TSampleFormat Format = TSampleFormat::Jpeg;
    int Depth = 8; ///< bits a sample of PNG and TIFF photographs: 8 or 16 (JPEG: 8)
    /// With Depth 16: the light is quantised to 0 … 2^SignificantBits − 1 and stored
    /// unscaled, as a camera of that many bits writes 16-bit files (1 … 16). Must be
    /// 16, the full range, with Depth 8.
    int SignificantBits = 16;
    TTiffCompression TiffCompression = TTiffCompression::Deflate;
    int TiffTile = 0; ///< > 0: TIFFs in square tiles of this side, a multiple of 16; 0: strips
    std::uint32_t Seed = 1;
    int Threads = 0; ///< pictures rendered and encoded at once; 0: one per core
    /// When given, the dots are the target's as this camera sees them: Spacing,
    /// DotRadius and Jitter do not apply, MaxDots limits the dot numbers on the target,
    /// and a dot's light is Brightness where its disc covers whole pixels.
    std::optional<TSampleCamera> Camera;
};

/// Raises std::invalid_argument naming the first option that is out of range.
void CheckSampleOptions(const TSampleOptions& options);

/// The disc radius in pixels: DotRadius, or 0.22 × Spacing when that is 0.
double SampleDotRadius(const TSampleOptions& options);

/// The largest value a photograph's sample holds: 255 at Depth 8, 2^SignificantBits − 1
/// at Depth 16.
std::uint32_t SampleMaxValue(const TSampleOptions& options);

namespace sample_detail {

/// Raises std::invalid_argument unless k is a picture of a stack (0 … 16).
void CheckPicture(int k);

} // namespace sample_detail
