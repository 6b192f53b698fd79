#pragma once
// Synthetic sample stacks: the 17 photographs a camera would take of the coded dot
// pattern (JPEG, PNG or TIFF, 8 or 16 bits a sample), with a list file naming them
// and a ground-truth table of the dots.
//
// Picture 0 is the dark reference (ambient light only), picture 1 the bright
// reference (projector white everywhere), picture 2 shows every dot, and picture k
// (3 … 16) shows the dots whose code has bit k − 2 set. Dot n carries code 2n + 1:
// bit 0 says "lit in picture 2", bits 1 … 14 are the bits of n.

#include "JpegWriter.h"
#include "PictureWriter.h"
#include "Points.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

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
};

/// One dot of the pattern. Pixel (column, row) covers [column − 0.5, column + 0.5] ×
/// [row − 0.5, row + 0.5], so X and Y are in the units of a pixel's column and row.
struct TSampleDot {
    int Number;
    int Code;        ///< 2 × Number + 1 for the dots LayoutSampleDots makes (see DistinctCodes)
    double X;        ///< column of the centre
    double Y;        ///< row of the centre
    double Gain = 1; ///< the dot's light relative to options.Brightness
};

struct TSampleStack {
    std::string ListFile;                 ///< path of the 19-line list file
    std::string TruthFile;                ///< path of the ground-truth table
    std::vector<std::string> Photographs; ///< the 17 photograph paths, in plane order
    std::vector<TSampleDot> Dots;
};

/// Raises std::invalid_argument naming the first option that is out of range.
void CheckSampleOptions(const TSampleOptions& options);

/// The disc radius in pixels: DotRadius, or 0.22 × Spacing when that is 0.
double SampleDotRadius(const TSampleOptions& options);

/// The dots on a regular grid, numbered row by row from the top left (or in a random
/// order with Shuffle), centred in the picture with a margin of at least one pitch
/// and room for the blur. When the grid has more cells than may be numbered, the
/// rows from the top are filled and the filled block is centred. Centres are
/// jittered and gains spread with the seed.
std::vector<TSampleDot> LayoutSampleDots(const TSampleOptions& options);

/// True when the dot is lit in picture k: never in 0, always in 1, and in k ≥ 2 when
/// bit k − 2 of its code is set.
bool SampleDotLit(const TSampleDot& dot, int k);

/// Renders picture k (0 … 16) as Width × Height pixels, row after row, three bytes
/// (red, green, blue) each or one grey byte when options.Greyscale. The result
/// depends only on the options (Seed included, Threads excluded), the dots and k;
/// they are those of 8-bit photographs, whatever options.Depth says. Raises
/// std::invalid_argument for bad options, a bad k or a dot with a negative code or a
/// centre that is not a finite number.
std::vector<std::uint8_t> RenderSamplePicture(const TSampleOptions& options,
                                              const std::vector<TSampleDot>& dots, int k);

/// The largest value a photograph's sample holds: 255 at Depth 8, 2^SignificantBits − 1
/// at Depth 16.
std::uint32_t SampleMaxValue(const TSampleOptions& options);

/// Renders picture k as RenderSamplePicture does, from the same light and noise, but
/// at a finer step: the light in grey levels (noise included) that RenderSamplePicture
/// rounds to a byte becomes round(level × M / 255), clamped to 0 … M, with
/// M = 2^SignificantBits − 1 whatever options.Depth says. These are the values of
/// 16-bit photographs.
std::vector<std::uint16_t> RenderSamplePicture16(const TSampleOptions& options,
                                                 const std::vector<TSampleDot>& dots, int k);

/// The photograph file name of picture k: <baseName>_00.jpg … <baseName>_16.jpg, with
/// the extension .png or .tif for those formats.
std::string SamplePictureName(const std::string& baseName, int k,
                              TSampleFormat format = TSampleFormat::Jpeg);

/// Renders and writes a stack into folder (created if missing): <baseName>_00.jpg …
/// <baseName>_16.jpg (or .png, .tif), <baseName>_truth.csv and, last, the list file
/// <baseName>.txt. The list file names the photographs without a folder, relative to
/// its own. PNG and TIFF photographs are grey or RGB, Depth bits a sample.
/// Raises std::invalid_argument for bad options or a base name that is empty or
/// holds a '/', and EFileError when a file or the folder cannot be written.
TSampleStack WriteSampleStack(const std::string& folder, const std::string& baseName,
                              const TSampleOptions& options);

/// The ground-truth table: the line "dot,code,x,y", then one line per dot with x and
/// y to three decimals, '.' as the decimal separator whatever the locale; LF endings.
std::string FormatSampleTruth(const std::vector<TSampleDot>& dots);

/// Reads a table written by FormatSampleTruth. Raises EFileError when the file
/// cannot be read or a line is malformed (the message names file and line).
std::vector<TSampleDot> ReadSampleTruth(const std::string& fileName);

/// How a points file compares with the ground truth of its stack.
struct TTruthComparison {
    std::size_t Dots = 0;  ///< dots in the truth
    std::size_t Found = 0; ///< dots whose code the points file has
    std::size_t Extra = 0; ///< points whose code no dot carries
    double MeanError = 0;  ///< mean distance of found centres from the true ones, pixels
    double MaxError = 0;   ///< the largest such distance
    std::size_t Far = 0;   ///< found centres more than kFarError pixels from the true ones
    /// Dots found with their centre within kRightError pixels of the true one.
    std::size_t Right = 0;
    /// Points that are no dot's: a code no dot carries (Extra) or a centre more than
    /// kRightError pixels from its dot.
    std::size_t Wrong = 0;
    std::size_t Points = 0; ///< points compared (Found + Extra)
};

/// A centre this far from the true one, in pixels, counts as far off.
inline constexpr double kFarError = 0.5;
/// A found centre at most this far from the true one, in pixels, finds its dot.
inline constexpr double kRightError = 2.0;

/// The plain and the refined centres of a point table, each compared with the truth.
struct TTableComparison {
    TTruthComparison Plain;
    TTruthComparison Refined;
};

/// Matches the lines of a points file ("code x y count") with the dots by code.
/// Raises EFileError when the file cannot be read or a line is malformed.
TTruthComparison CompareWithTruth(const std::vector<TSampleDot>& truth,
                                  const std::string& pointsFile);

/// The same comparison for a point list in memory, its centres as computed.
TTruthComparison CompareWithTruth(const std::vector<TSampleDot>& truth,
                                  const TUniquePoints& points);

/// Matches the rows of a point table (kelvaron-eval-cli evaluate --table) with the
/// dots by code, for its plain centres (x, y) and its refined ones. Raises EFileError
/// when the file cannot be read, its header does not start with the table's columns
/// or a row is malformed.
TTableComparison CompareTableWithTruth(const std::vector<TSampleDot>& truth,
                                       const std::string& tableFile);
