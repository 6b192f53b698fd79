#pragma once
// The light one dot casts on the pixels, before the picture's ambient and brightness:
// on the picture's own grid a blurred disc about its centre, tabulated over the
// distance; through a camera a patch of pixels traced back onto the target, rendered
// once for every picture that lights the dot.

#include "SampleCamera.h"
#include "SampleOptions.h"

#include <optional>
#include <vector>

namespace sample_detail {

/// A dot's light is followed out to this many blur sigmas beyond its disc edge;
/// there it has fallen below 1e-4 of the core.
inline constexpr double kReachSigmas = 4.5;

/// The blur a pixel sees: the optics' Gaussian, widened by the pixel's own area (a
/// box of one pixel has the variance 1/12 along each axis).
double EffectiveSigma(const TSampleOptions& options);

/// How far from a dot's centre its light is followed.
double DotReach(const TSampleOptions& options);

/// A disc of radius radius and unit light, blurred by a Gaussian of sigma, seen at
/// distance r from its centre:
///   ∫_{−radius}^{radius} g(x − r) · erf(√(radius² − x²) / (sigma √2)) dx
/// with g the one-dimensional normal density; the erf is the Gaussian's share of the
/// disc's chord at x. Only the part of the chord range within 7 sigma of r matters.
double BlurredDisc(double r, double radius, double sigma);

/// The light of one dot as the camera sees it, the picture's ambient and brightness
/// left out: 1 where its disc covers whole pixels, before the blur.
struct TDotPatch {
    int Left = 0, Top = 0;     ///< the patch's first column and row in the picture
    int Width = 0, Height = 0; ///< its size in pixels
    int Code = 0;
    float Gain = 1;
    std::vector<float> Light; ///< row by row
};

/// The box of a dot's image, in picture coordinates.
struct TImageBox {
    double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
};

/// The bounding box of the projection of the rim of the disc about (u, v); none when
/// a rim point is behind the camera or beyond the distortion's fold, so that the
/// image of the disc is not whole. Raises std::invalid_argument when the image is
/// wider or taller than kSampleMaxDotImage.
std::optional<TImageBox> DotImageBox(const TSampleProjection& projection, double u, double v,
                                     double radius, int number);

/// Renders the light of the disc of radius radius about (u, v) on the target, whose
/// sharp image lies in box. Each pixel near the rim is split into kSubsamples² squares
/// whose centres are traced back onto the target and tested against the disc (with
/// the share of the square inside, the rim taken as straight across it); pixels well
/// inside or outside are whole or empty. The subsample shares are then blurred and
/// summed into pixels in one step: a pixel's light is their sum weighted by the
/// pixel's box widened by the optics' Gaussian of sigma blur, the two separable.
TDotPatch RenderDotPatch(const TSampleProjection& projection, const TImageBox& box, double u,
                         double v, double radius, double blur);

/// Whether a dot's light, blur included, lies wholly inside the picture.
bool PatchInside(const TImageBox& box, double blur, const TSampleOptions& options);

} // namespace sample_detail
