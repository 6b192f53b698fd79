// The checks of the sample options, with messages that name the option and its rule.

#include "SampleOptions.h"

#include "SampleText.h"
#include "base/Limits.h"
#include "base/Text.h"
#include "input/PictureRows.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

using sample_detail::FixedText;

namespace {

constexpr double kDerivedRadiusFactor = 0.22;
constexpr double kMinSpacing = 4;
constexpr int kMaxJpegSide = 65500;

[[noreturn]] void BadOption(const std::string& name, const std::string& rule, double value) {
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    (void)ec;
    throw std::invalid_argument("sample option " + name + " " + rule + ", not " +
                                std::string(text, end));
}

void CheckRange(const std::string& name, double value, double lo, double hi,
                const std::string& rule) {
    if (!(value >= lo && value <= hi)) // also catches NaN
        BadOption(name, rule, value);
}

// The largest normalised distorted radius a pixel of the picture reaches.
double PictureRadius(const TSampleOptions& options) {
    const TSampleIntrinsics& in = options.Camera->Intrinsics;
    double largest = 0;
    for (const double x : {-0.5, options.Width - 0.5})
        for (const double y : {-0.5, options.Height - 0.5})
            largest = std::max(largest, std::hypot((x - in.Cx) / in.Fx, (y - in.Cy) / in.Fy));
    return largest;
}

void CheckCamera(const TSampleOptions& o) {
    const TSampleCamera& camera = *o.Camera;
    const TSampleIntrinsics& in = camera.Intrinsics;
    if (!(in.Fx > 0 && in.Fx <= 1e7))
        BadOption("Camera.Fx", "must be positive (pixels, at most 1e7)", in.Fx);
    if (!(in.Fy > 0 && in.Fy <= 1e7))
        BadOption("Camera.Fy", "must be positive (pixels, at most 1e7)", in.Fy);
    CheckRange("Camera.Cx", in.Cx, -1e7, 1e7, "must be a column within 1e7 pixels");
    CheckRange("Camera.Cy", in.Cy, -1e7, 1e7, "must be a row within 1e7 pixels");
    CheckRange("Camera.K1", in.K1, -100, 100, "must be -100 to 100");
    CheckRange("Camera.K2", in.K2, -100, 100, "must be -100 to 100");
    for (const double r : camera.Pose.Rotation)
        CheckRange("Camera.Pose.Rotation", r, -100, 100, "must be -100 to 100 radians a component");
    for (const double t : camera.Pose.Translation)
        CheckRange("Camera.Pose.Translation", t, -1e9, 1e9, "must be finite, within 1e9");
    const TSampleTarget& target = camera.Target;
    if (!(target.Pitch > 0 && target.Pitch <= 1e9))
        BadOption("Camera.Target.Pitch", "must be positive", target.Pitch);
    if (!(target.DotRadius > 0 && target.DotRadius <= target.Pitch / 2))
        BadOption("Camera.Target.DotRadius", "must be positive and at most half the pitch",
                  target.DotRadius);
    CheckRange("Camera.Target.Columns", target.Columns, 1, kSampleMaxDots, "must be 1 to 16384");
    CheckRange("Camera.Target.Rows", target.Rows, 1, kSampleMaxDots, "must be 1 to 16384");
    if (std::int64_t(target.Columns) * target.Rows > kSampleMaxDots)
        BadOption("Camera.Target.Columns × Rows", "must be at most 16384 dots",
                  double(std::int64_t(target.Columns) * target.Rows));
    CheckRange("Camera.Target.Jitter", target.Jitter, 0, target.Pitch / 4,
               "must be 0 to a quarter of the pitch");
    const TSampleProjection projection(camera);
    const double radius = PictureRadius(o);
    if (!(radius < projection.FoldDistortedRadius()))
        throw std::invalid_argument(
            "sample options Camera.K1, Camera.K2 turn the distortion back on itself inside "
            "the picture: its corners lie " +
            FixedText(radius, 4) +
            " focal lengths from the principal point, the distortion stops growing at " +
            FixedText(projection.FoldDistortedRadius(), 4));
}

} // namespace

namespace sample_detail {

void CheckPicture(int k) {
    if (k < 0 || k >= kSamplePictureCount)
        throw std::invalid_argument("sample picture " + std::to_string(k) +
                                    " does not exist; pictures are 0 to 16");
}

} // namespace sample_detail

void CheckSampleOptions(const TSampleOptions& o) {
    CheckRange("Width", o.Width, 1, kMaxJpegSide, "must be 1 to 65500 pixels");
    CheckRange("Height", o.Height, 1, kMaxJpegSide, "must be 1 to 65500 pixels");
    if (!IsPictureSize(o.Width, o.Height))
        throw std::invalid_argument("sample pictures of " + SizeText(o.Width, o.Height) +
                                    " pixels are larger than a plane may be");
    CheckRange("Spacing", o.Spacing, kMinSpacing, kMaxJpegSide, "must be at least 4 pixels");
    CheckRange("MaxDots", o.MaxDots, 0, INT32_MAX, "must not be negative");
    CheckRange("DistinctCodes", o.DistinctCodes, 0, kSampleMaxDots, "must lie in 0 … 16384");
    CheckRange("DotRadius", o.DotRadius, 0, o.Spacing / 2,
               "must be 0 (derived) or positive and at most half the spacing");
    CheckRange("Blur", o.Blur, 0, o.Spacing, "must be 0 to the spacing");
    CheckRange("Noise", o.Noise, 0, 255, "must be 0 to 255");
    CheckRange("Ambient", o.Ambient, 0, 255, "must be 0 to 255");
    CheckRange("Brightness", o.Brightness, 0, 1000, "must be 0 to 1000");
    CheckRange("Vignetting", o.Vignetting, 0, 0.99, "must be 0 to 0.99");
    CheckRange("Jitter", o.Jitter, 0, o.Spacing / 4, "must be 0 to a quarter of the spacing");
    CheckRange("GainSpread", o.GainSpread, 0, 0.9, "must be 0 to 0.9");
    for (int c = 0; c < 3; ++c)
        CheckRange("Tint", o.Tint[c], 0, 10, "must be 0 to 10 for each colour");
    CheckRange("Quality", o.Quality, 1, 100, "must be 1 to 100");
    if (o.Depth != 8 && o.Depth != 16)
        BadOption("Depth", "must be 8 or 16", o.Depth);
    if (o.Format == TSampleFormat::Jpeg && o.Depth != 8)
        BadOption("Depth", "must be 8 for JPEG photographs", o.Depth);
    CheckRange("SignificantBits", o.SignificantBits, 1, 16, "must be 1 to 16");
    if (o.Depth != 16 && o.SignificantBits != 16)
        BadOption("SignificantBits", "must be 16 (the full range) unless Depth is 16",
                  o.SignificantBits);
    if (!(o.TiffTile >= 0 && o.TiffTile <= kMaxJpegSide && o.TiffTile % 16 == 0))
        BadOption("TiffTile", "must be 0 (strips) or a multiple of 16", o.TiffTile);
    CheckRange("Threads", o.Threads, 0, 4096, "must be 0 (one per core) to 4096");
    if (o.Camera)
        CheckCamera(o);
}

double SampleDotRadius(const TSampleOptions& options) {
    return options.DotRadius > 0 ? options.DotRadius : kDerivedRadiusFactor * options.Spacing;
}

std::uint32_t SampleMaxValue(const TSampleOptions& options) {
    if (options.Depth != 16)
        return 255;
    return LargestSample(std::clamp(options.SignificantBits, 1, 16));
}
