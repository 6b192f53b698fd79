#pragma once
// Synthetic sample stacks: the 17 photographs a camera would take of the coded dot
// pattern (JPEG, PNG or TIFF, 8 or 16 bits a sample), with a list file naming them
// and a ground-truth table of the dots.
//
// Picture 0 is the dark reference (ambient light only), picture 1 the bright
// reference (projector white everywhere), picture 2 shows every dot, and picture k
// (3 … 16) shows the dots whose code has bit k − 2 set. Dot n carries code 2n + 1:
// bit 0 says "lit in picture 2", bits 1 … 14 are the bits of n.
//
// The dots are either laid out on a grid in the picture itself, or they are the
// discs of a planar target that a pinhole camera with radial distortion sees from a
// pose (TSampleOptions::Camera): then every pixel is traced back onto the target, so
// the discs appear as ellipses whose size follows the depth, and the ground truth
// holds each dot's projected centre, its place on the target and the camera.

#include "output/JpegWriter.h"
#include "PictureWriter.h"
#include "decode/Points.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// Pictures in a stack.
inline constexpr int kSamplePictureCount = 17;
/// Most dots a stack can number: 14 code pictures give 2^14 dot numbers.
inline constexpr int kSampleMaxDots = 16384;

/// How the photographs of a stack are stored.
enum class TSampleFormat { Jpeg, Png, Tiff };

/// A pinhole camera with radial distortion, in the pixel units of TSampleDot. A point
/// (X, Y, Z) of the camera's frame (Z > 0 in front, X along the rows, Y down the
/// columns) has the normalised coordinates x = X / Z, y = Y / Z; the lens moves them
/// to x d, y d with d = 1 + K1 r² + K2 r⁴, r² = x² + y², and the point lands on
/// column Fx x d + Cx, row Fy y d + Cy.
struct TSampleIntrinsics {
    double Fx = 1200;  ///< focal length in pixel widths
    double Fy = 1200;  ///< focal length in pixel heights
    double Cx = 639.5; ///< column of the principal point
    double Cy = 479.5; ///< row of the principal point
    double K1 = 0;     ///< radial distortion, r² term
    double K2 = 0;     ///< radial distortion, r⁴ term
};

/// Where the target lies as the camera sees it: the target point P = (u, v, 0) of its
/// own frame is at R P + Translation in the camera's, R the rotation of the vector
/// Rotation (its direction the axis, its length the angle in radians).
struct TSamplePose {
    std::array<double, 3> Rotation = {0, 0, 0};
    std::array<double, 3> Translation = {0, 0, 500}; ///< in the target's units
};

/// A planar target of discs on a regular grid, in units of its own (millimetres, say).
/// The grid position at column c and row r carries dot number r × Columns + c and lies
/// at u = (c − (Columns − 1) / 2) Pitch, v = (r − (Rows − 1) / 2) Pitch, the grid
/// centred on the target's origin.
struct TSampleTarget {
    double Pitch = 10;      ///< distance of neighbouring dots
    double DotRadius = 2.2; ///< disc radius; below half the pitch
    int Columns = 48;       ///< grid columns, at least 1
    int Rows = 36;          ///< grid rows; Columns × Rows at most 16384
    /// Dot centres move by up to this much off the grid on the target (0 … Pitch / 4).
    double Jitter = 0;
};

/// The camera that photographs a target, and from where.
struct TSampleCamera {
    TSampleIntrinsics Intrinsics;
    TSamplePose Pose;
    TSampleTarget Target;
};

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

/// One dot of the pattern. Pixel (column, row) covers [column − 0.5, column + 0.5] ×
/// [row − 0.5, row + 0.5], so X and Y are in the units of a pixel's column and row.
struct TSampleDot {
    int Number;
    int Code;           ///< 2 × Number + 1 for the dots LayoutSampleDots makes (see DistinctCodes)
    double X;           ///< column of the centre
    double Y;           ///< row of the centre
    double Gain = 1;    ///< the dot's light relative to options.Brightness
    double TargetX = 0; ///< with a camera: the centre on the target, in its units
    double TargetY = 0; ///< with a camera: the centre on the target, in its units
};

struct TSampleStack {
    std::string ListFile;   ///< path of the 19-line list file
    std::string TruthFile;  ///< path of the ground-truth table
    std::string TargetFile; ///< with a camera: the dots' places on the target, else empty
    std::string CameraFile; ///< with a camera: its intrinsics and pose, else empty
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
///
/// With a camera: the target's dots (the first MaxDots grid positions, jittered on
/// the target, numbered and shuffled likewise) whose whole image, blur included, lies
/// inside the picture, at their projected centres, in grid order. Dots partly
/// behind the camera or beyond the reach of the distortion model are left out.
/// Raises std::invalid_argument when a dot in view would span more than
/// kSampleMaxDotImage pixels.
std::vector<TSampleDot> LayoutSampleDots(const TSampleOptions& options);

/// With a camera, the widest a dot's image may be, in pixels.
inline constexpr int kSampleMaxDotImage = 256;

/// A point on the picture (column, row), on the target (u, v) or in normalised
/// camera coordinates.
struct TSampleXY {
    double X = 0;
    double Y = 0;
};

/// A TSampleCamera's formulas: target points to pixels and pixels back to the target.
class TSampleProjection {
public:
    /// Raises std::invalid_argument when the focal lengths are not positive, a value
    /// is not finite or the camera lies in the target's plane.
    explicit TSampleProjection(const TSampleCamera& camera);

    /// The pixel of target point (u, v); none when it is not in front of the camera or
    /// its undistorted radius reaches FoldRadius().
    std::optional<TSampleXY> ToImage(double u, double v) const;

    /// The target point seen at pixel (x, y): the undistorted ray intersected with the
    /// target's plane; none when the ray meets the plane behind the camera or the
    /// pixel lies beyond the distortion's fold.
    std::optional<TSampleXY> ToTarget(double x, double y) const;

    /// Normalised coordinates moved by the lens.
    TSampleXY Distort(TSampleXY undistorted) const;

    /// The undistorted normalised coordinates whose distorted ones are given, the one
    /// whose radius lies below FoldRadius(); none when there is none.
    std::optional<TSampleXY> Undistort(TSampleXY distorted) const;

    /// The undistorted radius at which the distorted radius r (1 + K1 r² + K2 r⁴)
    /// stops growing; infinity when it grows forever.
    double FoldRadius() const { return foldRadius_; }

    /// The distorted radius at FoldRadius(): the largest a picture may reach.
    double FoldDistortedRadius() const { return foldDistorted_; }

    /// The rotation of the pose, row by row.
    const std::array<double, 9>& Rotation() const { return rotation_; }

private:
    TSampleIntrinsics in_;
    std::array<double, 9> rotation_{};
    std::array<double, 3> translation_{};
    std::array<double, 9> fromPlane_{}; // (x, y, 1) undistorted → target (u, v, 1) times 1/Z
    double foldRadius_ = 0;
    double foldDistorted_ = 0;
};

/// The rotation matrix of a rotation vector (axis times angle in radians), row by row.
std::array<double, 9> SampleRotationMatrix(const std::array<double, 3>& rotation);

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
/// <baseName>_16.jpg (or .png, .tif), <baseName>_truth.csv, with a camera also
/// <baseName>_target.csv (FormatSampleTargetTable) and <baseName>_camera.json
/// (FormatSampleCamera), and, last, the list file <baseName>.txt. The list file names
/// the photographs without a folder, relative to its own. PNG and TIFF photographs
/// are grey or RGB, Depth bits a sample.
/// Raises std::invalid_argument for bad options or a base name that is empty or
/// holds a '/', and EFileError when a file or the folder cannot be written.
TSampleStack WriteSampleStack(const std::string& folder, const std::string& baseName,
                              const TSampleOptions& options);

/// The ground-truth table: the line "dot,code,x,y", then one line per dot with x and
/// y to `decimals` decimals (three for a stack without a camera, six with one), '.'
/// as the decimal separator whatever the locale; LF endings.
std::string FormatSampleTruth(const std::vector<TSampleDot>& dots, int decimals = 3);

/// The dots' places on the target: the line "dot,code,target_x,target_y", then one
/// line per dot, the coordinates in the target's units, written so that they read
/// back to the same doubles; LF endings.
std::string FormatSampleTargetTable(const std::vector<TSampleDot>& dots);

/// The camera as a JSON object: "width", "height", "fx", "fy", "cx", "cy", "k1",
/// "k2", "rotation" (the vector), "rotation_matrix" (three rows), "translation", and
/// "target" with "pitch", "dot_radius", "columns", "rows" and "jitter"; then "dots",
/// the number in view. Numbers read back to the same doubles.
std::string FormatSampleCamera(const TSampleOptions& options, std::size_t dots);

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
