// A dot's light: the blurred disc's profile, and the camera's patch of a target disc.

#include "SampleDotLight.h"

#include "SampleLayout.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>

namespace sample_detail {

namespace {

// With a camera, every pixel a disc's rim crosses is split into this many subsamples
// a side, each traced back onto the target; see RenderDotPatch.
constexpr int kSubsamples = 8;
// A disc's rim is projected at this many points to find the box of its image.
constexpr int kRimPoints = 64;

// How far beyond the box of a dot's sharp image its blurred light reaches, in pixels:
// the blur kernel is a pixel's box widened by the optics' Gaussian.
int BlurReach(double blur) {
    return static_cast<int>(std::ceil(0.5 + kReachSigmas * blur));
}

// The pixel columns (or rows) a dot's sharp image touches, one more on either side.
int CoverFirst(double low) {
    return static_cast<int>(std::floor(low)) - 1;
}
int CoverLast(double high) {
    return static_cast<int>(std::ceil(high)) + 1;
}

// The share of a square of side h about a subsample where the function
// delta + gx dx + gy dy, linear across the square, is negative: the share of the
// subsample inside the disc, delta being its distance from the rim on the target and
// (gx, gy) how that distance changes across the picture. The position along the
// gradient of a point uniform in the square is the sum of two uniform variables of
// half-widths a and b, whose distribution function this is.
double SquareShare(double delta, double gx, double gy, double h) {
    const double g = std::hypot(gx, gy);
    if (!(g > 0))
        return delta < 0 ? 1 : 0;
    const double z = -delta / g;
    double a = std::abs(gx) / g * h / 2;
    double b = std::abs(gy) / g * h / 2;
    if (a < b)
        std::swap(a, b);
    if (z >= a + b)
        return 1;
    if (z <= -(a + b))
        return 0;
    if (b < 1e-9 * h)
        return std::clamp(0.5 + z / (2 * a), 0.0, 1.0);
    if (z < -(a - b))
        return (z + a + b) * (z + a + b) / (8 * a * b);
    if (z > a - b)
        return 1 - (a + b - z) * (a + b - z) / (8 * a * b);
    return 0.5 + z / (2 * a);
}

} // namespace

double EffectiveSigma(const TSampleOptions& options) {
    return std::sqrt(options.Blur * options.Blur + 1.0 / 12.0);
}

double DotReach(const TSampleOptions& options) {
    return SampleDotRadius(options) + kReachSigmas * EffectiveSigma(options) + 1;
}

double BlurredDisc(double r, double radius, double sigma) {
    const double a = std::max(-radius, r - 7 * sigma);
    const double b = std::min(radius, r + 7 * sigma);
    if (a >= b)
        return 0;
    constexpr int kSteps = 64;
    const double h = (b - a) / kSteps;
    double sum = 0;
    for (int i = 0; i < kSteps; ++i) {
        const double x = a + (i + 0.5) * h;
        const double chord = std::sqrt(std::max(0.0, radius * radius - x * x));
        sum += std::exp(-(x - r) * (x - r) / (2 * sigma * sigma)) *
               std::erf(chord / (sigma * std::numbers::sqrt2));
    }
    return sum * h / (sigma * std::sqrt(2 * std::numbers::pi));
}

std::optional<TImageBox> DotImageBox(const TSampleProjection& projection, double u, double v,
                                     double radius, int number) {
    TImageBox box{INFINITY, INFINITY, -INFINITY, -INFINITY};
    for (int i = 0; i < kRimPoints; ++i) {
        const double angle = 2 * std::numbers::pi * i / kRimPoints;
        const std::optional<TSampleXY> p =
            projection.ToImage(u + radius * std::cos(angle), v + radius * std::sin(angle));
        if (!p)
            return std::nullopt;
        box = {std::min(box.X0, p->X), std::min(box.Y0, p->Y), std::max(box.X1, p->X),
               std::max(box.Y1, p->Y)};
    }
    if (box.X1 - box.X0 > kSampleMaxDotImage || box.Y1 - box.Y0 > kSampleMaxDotImage)
        throw std::invalid_argument(
            "sample dot " + std::to_string(number) + " would span " +
            std::to_string(int(std::max(box.X1 - box.X0, box.Y1 - box.Y0))) +
            " pixels, more than " + std::to_string(kSampleMaxDotImage) +
            ": the target is too close to the camera");
    return box;
}

TDotPatch RenderDotPatch(const TSampleProjection& projection, const TImageBox& box, double u,
                         double v, double radius, double blur) {
    constexpr int s = kSubsamples;
    constexpr double h = 1.0 / s;
    const int bx0 = CoverFirst(box.X0), bx1 = CoverLast(box.X1);
    const int by0 = CoverFirst(box.Y0), by1 = CoverLast(box.Y1);
    const int bw = bx1 - bx0 + 1, bh = by1 - by0 + 1;

    // The target points seen at the pixels' corners give each pixel's Jacobian.
    std::vector<std::optional<TSampleXY>> corners(std::size_t(bw + 1) * std::size_t(bh + 1));
    for (int j = 0; j <= bh; ++j)
        for (int i = 0; i <= bw; ++i)
            corners[std::size_t(j) * std::size_t(bw + 1) + std::size_t(i)] =
                projection.ToTarget(bx0 - 0.5 + i, by0 - 0.5 + j);

    const std::size_t sw = std::size_t(bw) * s, sh = std::size_t(bh) * s;
    std::vector<float> cover(sw * sh, 0.0f);
    for (int pj = 0; pj < bh; ++pj)
        for (int pi = 0; pi < bw; ++pi) {
            const auto corner = [&](int di, int dj) -> const std::optional<TSampleXY>& {
                return corners[std::size_t(pj + dj) * std::size_t(bw + 1) + std::size_t(pi + di)];
            };
            const auto &c00 = corner(0, 0), &c10 = corner(1, 0), &c01 = corner(0, 1),
                       &c11 = corner(1, 1);
            const bool haveJacobian = c00 && c10 && c01 && c11;
            // du/dx, du/dy, dv/dx, dv/dy over the pixel.
            double ux = 0, uy = 0, vx = 0, vy = 0;
            if (haveJacobian) {
                ux = 0.5 * (c10->X - c00->X + c11->X - c01->X);
                vx = 0.5 * (c10->Y - c00->Y + c11->Y - c01->Y);
                uy = 0.5 * (c01->X - c00->X + c11->X - c10->X);
                vy = 0.5 * (c01->Y - c00->Y + c11->Y - c10->Y);
            }
            const double x = bx0 + pi, y = by0 + pj;
            float* first = cover.data() + std::size_t(pj) * s * sw + std::size_t(pi) * s;
            if (const std::optional<TSampleXY> centre = projection.ToTarget(x, y);
                haveJacobian && centre) {
                // No point of the pixel is further from its centre than √½ pixel, so
                // the distance from the rim changes by less than the Jacobian's norm.
                const double rim = std::hypot(centre->X - u, centre->Y - v) - radius;
                const double reach = std::sqrt(ux * ux + uy * uy + vx * vx + vy * vy);
                if (rim > reach)
                    continue;
                if (rim < -reach) {
                    for (int b = 0; b < s; ++b)
                        std::fill_n(first + std::size_t(b) * sw, s, 1.0f);
                    continue;
                }
            }
            for (int b = 0; b < s; ++b)
                for (int a = 0; a < s; ++a) {
                    const std::optional<TSampleXY> p =
                        projection.ToTarget(x - 0.5 + (a + 0.5) * h, y - 0.5 + (b + 0.5) * h);
                    if (!p)
                        continue;
                    const double dx = p->X - u, dy = p->Y - v;
                    const double d = std::hypot(dx, dy);
                    const double delta = d - radius;
                    double share = delta < 0 ? 1 : 0;
                    if (haveJacobian && d > 0) {
                        const double nx = dx / d, ny = dy / d;
                        share = SquareShare(delta, ux * nx + vx * ny, uy * nx + vy * ny, h);
                    }
                    first[std::size_t(b) * sw + std::size_t(a)] = static_cast<float>(share);
                }
        }

    // The weight of a subsample for a pixel depends only on m = s · (pixel − first
    // covered pixel) − subsample index; the pixel's centre lies (m + (s − 1) / 2) h
    // from the subsample's.
    const int reach = BlurReach(blur);
    const int mLow = -(reach + 1) * s, mHigh = (reach + 1) * s;
    std::vector<double> weight(std::size_t(mHigh - mLow + 1));
    double total = 0;
    for (int m = mLow; m <= mHigh; ++m) {
        const double offset = (m + (s - 1) / 2.0) * h;
        double w = 0;
        if (blur > 0) {
            const double scale = 1 / (blur * std::numbers::sqrt2);
            w = 0.5 * (std::erf((offset + 0.5) * scale) - std::erf((offset - 0.5) * scale));
        } else {
            w = std::abs(offset) < 0.5 ? 1 : 0;
        }
        weight[std::size_t(m - mLow)] = w;
        total += w;
    }
    for (double& w : weight)
        w /= total;

    TDotPatch patch;
    patch.Left = bx0 - reach;
    patch.Top = by0 - reach;
    patch.Width = bw + 2 * reach;
    patch.Height = bh + 2 * reach;
    // Across first: one value per subsample row and patch column.
    const std::size_t pw = std::size_t(patch.Width), ph = std::size_t(patch.Height);
    std::vector<double> across(sh * pw, 0.0);
    auto weighOver = [&](int p, std::size_t count, auto value) {
        const int m0 = s * p;
        const int i0 = std::max(0, m0 - mHigh);
        const int i1 = std::min(int(count) - 1, m0 - mLow);
        double sum = 0;
        for (int i = i0; i <= i1; ++i)
            sum += weight[std::size_t(m0 - i - mLow)] * value(std::size_t(i));
        return sum;
    };
    for (std::size_t b = 0; b < sh; ++b) {
        const float* row = cover.data() + b * sw;
        for (std::size_t c = 0; c < pw; ++c)
            across[b * pw + c] =
                weighOver(int(c) - reach, sw, [&](std::size_t i) { return double(row[i]); });
    }
    patch.Light.resize(ph * pw);
    for (std::size_t r = 0; r < ph; ++r)
        for (std::size_t c = 0; c < pw; ++c)
            patch.Light[r * pw + c] = static_cast<float>(
                weighOver(int(r) - reach, sh, [&](std::size_t b) { return across[b * pw + c]; }));
    return patch;
}

bool PatchInside(const TImageBox& box, double blur, const TSampleOptions& options) {
    const int reach = BlurReach(blur);
    return CoverFirst(box.X0) - reach >= 0 && CoverFirst(box.Y0) - reach >= 0 &&
           CoverLast(box.X1) + reach <= options.Width - 1 &&
           CoverLast(box.Y1) + reach <= options.Height - 1;
}

} // namespace sample_detail
