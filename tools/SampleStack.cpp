#include "SampleStack.h"

#include "base/Errors.h"
#include "files/FileUtil.h"
#include "output/JpegWriter.h"
#include "base/Parallel.h"
#include "PicHolder.h"
#include "base/Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <locale>
#include <map>
#include <numbers>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace {

constexpr double kDerivedRadiusFactor = 0.22;
constexpr double kMinSpacing = 4;
constexpr int kMaxJpegSide = 65500;
// Rows rendered at a time: the photograph is encoded band by band, so that a
// worker never holds more than one band of light values and pixels.
constexpr int kBandRows = 32;
// The dot's light is tabulated over the squared distance from its centre.
constexpr int kProfileSteps = 1024;
// A dot's light is followed out to this many blur sigmas beyond its disc edge;
// there it has fallen below 1e-4 of the core.
constexpr double kReachSigmas = 4.5;
// Noise comes from a table of normal quantiles indexed by 12 random bits.
constexpr int kNoiseBits = 12;
constexpr int kNoiseClasses = 1 << kNoiseBits;
// With a camera, every pixel a disc's rim crosses is split into this many subsamples
// a side, each traced back onto the target; see RenderDotPatch.
constexpr int kSubsamples = 8;
// A disc's rim is projected at this many points to find the box of its image.
constexpr int kRimPoints = 64;

// ---------------------------------------------------------------------------
// Random numbers. Our own generator, so that the pictures are the same with every
// standard library.

std::uint64_t SplitMix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// A seed for one stream (the layout, or one row of one picture) from the stack's seed.
std::uint64_t StreamSeed(std::uint32_t seed, std::uint64_t a, std::uint64_t b) {
    std::uint64_t state = seed;
    std::uint64_t h = SplitMix(state);
    state = h ^ (a * 0xD1B54A32D192ED03ULL);
    h = SplitMix(state);
    state = h ^ (b * 0xAEF17502108EF2D9ULL);
    return SplitMix(state);
}

// Uniform in [0, 1).
double Uniform(std::uint64_t& state) {
    return static_cast<double>(SplitMix(state) >> 11) * 0x1.0p-53;
}

double NormalCdf(double x) {
    return 0.5 * std::erfc(-x / std::numbers::sqrt2);
}

// The medians of kNoiseClasses equally likely classes of the standard normal
// distribution; drawing one at random gives normal noise cut off at ±3.5 sigma.
const std::vector<float>& NormalTable() {
    static const std::vector<float> table = [] {
        std::vector<float> t(kNoiseClasses);
        for (int i = 0; i < kNoiseClasses; ++i) {
            const double p = (i + 0.5) / kNoiseClasses;
            double lo = -8, hi = 8;
            for (int step = 0; step < 60; ++step) {
                const double mid = 0.5 * (lo + hi);
                (NormalCdf(mid) < p ? lo : hi) = mid;
            }
            t[i] = static_cast<float>(0.5 * (lo + hi));
        }
        return t;
    }();
    return table;
}

// Standard normal samples, five from each 64-bit draw.
class TNoise {
public:
    TNoise(std::uint64_t seed, const std::vector<float>& table) : state_(seed), table_(table) {}
    float Next() {
        if (left_ == 0) {
            bits_ = SplitMix(state_);
            left_ = 64 / kNoiseBits;
        }
        const float v = table_[bits_ & (kNoiseClasses - 1)];
        bits_ >>= kNoiseBits;
        --left_;
        return v;
    }

private:
    std::uint64_t state_;
    std::uint64_t bits_ = 0;
    int left_ = 0;
    const std::vector<float>& table_;
};

// ---------------------------------------------------------------------------

// The blur a pixel sees: the optics' Gaussian, widened by the pixel's own area (a
// box of one pixel has the variance 1/12 along each axis).
double EffectiveSigma(const TSampleOptions& options) {
    return std::sqrt(options.Blur * options.Blur + 1.0 / 12.0);
}

// How far from a dot's centre its light is followed.
double DotReach(const TSampleOptions& options) {
    return SampleDotRadius(options) + kReachSigmas * EffectiveSigma(options) + 1;
}

// A disc of radius radius and unit light, blurred by a Gaussian of sigma, seen at
// distance r from its centre:
//   ∫_{−radius}^{radius} g(x − r) · erf(√(radius² − x²) / (sigma √2)) dx
// with g the one-dimensional normal density; the erf is the Gaussian's share of the
// disc's chord at x. Only the part of the chord range within 7 sigma of r matters.
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

// A light level as an 8-bit sample.
std::uint8_t Quantize(float value) {
    return static_cast<std::uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f));
}

// A light level as a sample of 0 … top, where top stands for level 255: the same
// light at a finer step, so that noise of less than a level still shows.
class TFineQuantizer {
public:
    explicit TFineQuantizer(std::uint32_t top)
        : scale_(static_cast<float>(top) / 255.0f), top_(static_cast<float>(top)) {}
    std::uint16_t operator()(float value) const {
        return static_cast<std::uint16_t>(std::clamp(value * scale_ + 0.5f, 0.0f, top_));
    }

private:
    float scale_;
    float top_;
};

// ---------------------------------------------------------------------------
// A camera photographing the target. Each dot's light is rendered once, into a
// patch of pixels, which every picture that lights the dot then adds in.

// The light of one dot as the camera sees it, the picture's ambient and brightness
// left out: 1 where its disc covers whole pixels, before the blur.
struct TDotPatch {
    int Left = 0, Top = 0;     // the patch's first column and row in the picture
    int Width = 0, Height = 0; // its size in pixels
    int Code = 0;
    float Gain = 1;
    std::vector<float> Light; // row by row
};

// The box of a dot's image, in picture coordinates.
struct TImageBox {
    double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
};

// The bounding box of the projection of the rim of the disc about (u, v); none when
// a rim point is behind the camera or beyond the distortion's fold, so that the
// image of the disc is not whole. Raises std::invalid_argument when the image is
// wider or taller than kSampleMaxDotImage.
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

// Renders the light of the disc of radius radius about (u, v) on the target, whose
// sharp image lies in box. Each pixel near the rim is split into kSubsamples² squares
// whose centres are traced back onto the target and tested against the disc (with
// the share of the square inside, the rim taken as straight across it); pixels well
// inside or outside are whole or empty. The subsample shares are then blurred and
// summed into pixels in one step: a pixel's light is their sum weighted by the
// pixel's box widened by the optics' Gaussian of sigma blur, the two separable.
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

// Whether a dot's light, blur included, lies wholly inside the picture.
bool PatchInside(const TImageBox& box, double blur, const TSampleOptions& options) {
    const int reach = BlurReach(blur);
    return CoverFirst(box.X0) - reach >= 0 && CoverFirst(box.Y0) - reach >= 0 &&
           CoverLast(box.X1) + reach <= options.Width - 1 &&
           CoverLast(box.Y1) + reach <= options.Height - 1;
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

// Everything needed to render any band of any picture of one stack. Rendering is
// const and keeps its scratch memory on the stack of the call, so workers share one
// renderer.
class TRenderer {
public:
    TRenderer(const TSampleOptions& options, const std::vector<TSampleDot>& dots)
        : options_(options), noiseTable_(NormalTable()) {
        CheckSampleOptions(options);
        for (const TSampleDot& dot : dots)
            if (dot.Code < 0 || !std::isfinite(dot.X) || !std::isfinite(dot.Y) ||
                !(dot.Gain >= 0 && dot.Gain <= 10))
                throw std::invalid_argument("sample dot " + std::to_string(dot.Number) +
                                            " has a negative code, no finite centre or a gain "
                                            "outside 0 … 10");
        dots_ = dots;
        std::stable_sort(dots_.begin(), dots_.end(),
                         [](const TSampleDot& a, const TSampleDot& b) { return a.Y < b.Y; });
        if (options.Camera)
            RenderPatches();

        reach_ = DotReach(options);
        const double radius = SampleDotRadius(options);
        const double sigma = EffectiveSigma(options);
        const double core = BlurredDisc(0, radius, sigma);
        profileStep_ = reach_ * reach_ / kProfileSteps;
        profile_.resize(kProfileSteps + 1);
        for (int i = 0; i <= kProfileSteps; ++i)
            profile_[i] =
                static_cast<float>(BlurredDisc(std::sqrt(i * profileStep_), radius, sigma) / core);

        // Vignetting: the light falls off with the squared distance from the centre,
        // by the factor 1 − Vignetting in the corners. The fall-off splits into a
        // column and a row term.
        const double cx = (options.Width - 1) / 2.0;
        const double cy = (options.Height - 1) / 2.0;
        const double corner2 = cx * cx + cy * cy;
        const double v = corner2 > 0 ? options.Vignetting / corner2 : 0;
        vignetteX_.resize(options.Width);
        for (int x = 0; x < options.Width; ++x)
            vignetteX_[x] = static_cast<float>(v * (x - cx) * (x - cx));
        vignetteY_.resize(options.Height);
        for (int y = 0; y < options.Height; ++y)
            vignetteY_[y] = static_cast<float>(v * (y - cy) * (y - cy));

        const auto& t = options.Tint;
        for (int c = 0; c < 3; ++c)
            gain_[c] = static_cast<float>(t[c]);
        greyGain_ = static_cast<float>(0.3 * t[0] + 0.59 * t[1] + 0.11 * t[2]);
    }

    int Components() const { return options_.Greyscale ? 1 : 3; }

    /// Renders rows first … first + count − 1 of picture k into out, each light level
    /// made a sample by quantize.
    template <class TSample, class TQuantize>
    void RenderRows(int k, int first, int count, TSample* out, TQuantize quantize) const {
        const int width = options_.Width;
        std::vector<float> light(std::size_t(count) * std::size_t(width), k == 1 ? 1.0f : 0.0f);
        if (k >= 2)
            AddDots(k, first, count, light.data());

        const float ambient = static_cast<float>(options_.Ambient);
        const float bright = static_cast<float>(options_.Brightness);
        const float noise = static_cast<float>(options_.Noise);
        const int components = Components();
        for (int i = 0; i < count; ++i) {
            const int row = first + i;
            TNoise random(StreamSeed(options_.Seed, std::uint64_t(k) + 1, std::uint64_t(row)),
                          noiseTable_);
            const float rowFall = 1.0f - vignetteY_[row];
            const float* in = light.data() + std::size_t(i) * std::size_t(width);
            TSample* o = out + std::size_t(i) * std::size_t(width) * std::size_t(components);
            if (components == 1) {
                for (int x = 0; x < width; ++x) {
                    const float signal = (ambient + bright * in[x]) * (rowFall - vignetteX_[x]);
                    o[x] = quantize(signal * greyGain_ + noise * random.Next());
                }
            } else {
                for (int x = 0; x < width; ++x) {
                    const float signal = (ambient + bright * in[x]) * (rowFall - vignetteX_[x]);
                    for (int c = 0; c < 3; ++c)
                        o[3 * x + c] = quantize(signal * gain_[c] + noise * random.Next());
                }
            }
        }
    }

private:
    // Renders the light of every dot in view of the camera, and sorts the patches by
    // their first row.
    void RenderPatches() {
        const TSampleCamera& camera = *options_.Camera;
        const TSampleProjection projection(camera);
        for (const TSampleDot& dot : dots_)
            if (!std::isfinite(dot.TargetX) || !std::isfinite(dot.TargetY))
                throw std::invalid_argument("sample dot " + std::to_string(dot.Number) +
                                            " has no finite place on the target");
        std::vector<std::optional<TDotPatch>> patches(dots_.size());
        ForEachIndex(std::int32_t(dots_.size()), ThreadsFor(options_.Threads), [&](std::int32_t i) {
            const TSampleDot& dot = dots_[std::size_t(i)];
            const double radius = camera.Target.DotRadius;
            const std::optional<TImageBox> box =
                DotImageBox(projection, dot.TargetX, dot.TargetY, radius, dot.Number);
            if (!box)
                return;
            patches[std::size_t(i)] =
                RenderDotPatch(projection, *box, dot.TargetX, dot.TargetY, radius, options_.Blur);
            patches[std::size_t(i)]->Code = dot.Code;
            patches[std::size_t(i)]->Gain = static_cast<float>(dot.Gain);
        });
        for (std::optional<TDotPatch>& patch : patches)
            if (patch) {
                patchRows_ = std::max(patchRows_, patch->Height);
                patches_.push_back(std::move(*patch));
            }
        std::stable_sort(patches_.begin(), patches_.end(),
                         [](const TDotPatch& a, const TDotPatch& b) { return a.Top < b.Top; });
    }

    // Adds the light of the patches of the dots lit in picture k to the band's light
    // values.
    void AddPatches(int k, int first, int count, float* light) const {
        const int width = options_.Width;
        const int last = first + count - 1;
        auto begin = std::lower_bound(patches_.begin(), patches_.end(), first - patchRows_,
                                      [](const TDotPatch& p, int row) { return p.Top < row; });
        for (auto it = begin; it != patches_.end() && it->Top <= last; ++it) {
            const TDotPatch& patch = *it;
            if (!SampleDotLit(TSampleDot{0, patch.Code, 0, 0}, k))
                continue;
            const int r0 = std::max(first, patch.Top);
            const int r1 = std::min(last, patch.Top + patch.Height - 1);
            const int c0 = std::max(0, patch.Left);
            const int c1 = std::min(width - 1, patch.Left + patch.Width - 1);
            for (int row = r0; row <= r1; ++row) {
                float* line = light + std::size_t(row - first) * std::size_t(width);
                const float* in =
                    patch.Light.data() + std::size_t(row - patch.Top) * std::size_t(patch.Width);
                for (int col = c0; col <= c1; ++col)
                    line[col] += patch.Gain * in[col - patch.Left];
            }
        }
    }

    // Adds the light of the dots lit in picture k to the band's light values.
    void AddDots(int k, int first, int count, float* light) const {
        if (options_.Camera) {
            AddPatches(k, first, count, light);
            return;
        }
        const int width = options_.Width;
        const int last = first + count - 1;
        const double reach2 = reach_ * reach_;
        const double toIndex = 1.0 / profileStep_;
        auto begin = std::lower_bound(dots_.begin(), dots_.end(), first - reach_,
                                      [](const TSampleDot& dot, double y) { return dot.Y < y; });
        for (auto it = begin; it != dots_.end() && it->Y <= last + reach_; ++it) {
            const TSampleDot& dot = *it;
            if (!SampleDotLit(dot, k))
                continue;
            const float gain = static_cast<float>(dot.Gain);
            // Window bounds are clamped as doubles before they become indexes.
            const int r0 = static_cast<int>(
                std::clamp(std::ceil(dot.Y - reach_), double(first), double(last) + 1));
            const int r1 = static_cast<int>(
                std::clamp(std::floor(dot.Y + reach_), double(first) - 1, double(last)));
            const int c0 =
                static_cast<int>(std::clamp(std::ceil(dot.X - reach_), 0.0, double(width)));
            const int c1 =
                static_cast<int>(std::clamp(std::floor(dot.X + reach_), -1.0, double(width) - 1));
            for (int row = r0; row <= r1; ++row) {
                const double dy = row - dot.Y;
                float* line = light + std::size_t(row - first) * std::size_t(width);
                for (int col = c0; col <= c1; ++col) {
                    const double dx = col - dot.X;
                    const double d2 = dx * dx + dy * dy;
                    if (d2 >= reach2)
                        continue;
                    const double t = d2 * toIndex;
                    const int i = static_cast<int>(t);
                    const float f = static_cast<float>(t - i);
                    line[col] += gain * (profile_[i] + f * (profile_[i + 1] - profile_[i]));
                }
            }
        }
    }

    TSampleOptions options_;
    const std::vector<float>& noiseTable_;
    std::vector<TSampleDot> dots_;   // sorted by row
    std::vector<TDotPatch> patches_; // with a camera: the dots' light, sorted by first row
    int patchRows_ = 0;              // the most rows a patch has
    double reach_ = 0;
    double profileStep_ = 0;       // squared distance between profile entries
    std::vector<float> profile_;   // light over squared distance, 1 at the core
    std::vector<float> vignetteX_; // fall-off share of each column
    std::vector<float> vignetteY_; // fall-off share of each row
    float gain_[3] = {1, 1, 1};
    float greyGain_ = 1;
};

void CheckPicture(int k) {
    if (k < 0 || k >= kSamplePictureCount)
        throw std::invalid_argument("sample picture " + std::to_string(k) +
                                    " does not exist; pictures are 0 to 16");
}

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

// Renders every band of picture k into one buffer of samples.
template <class TSample, class TQuantize>
std::vector<TSample> RenderWhole(const TSampleOptions& options, const std::vector<TSampleDot>& dots,
                                 int k, TQuantize quantize) {
    CheckPicture(k);
    const TRenderer renderer(options, dots);
    const std::size_t rowSamples = std::size_t(options.Width) * std::size_t(renderer.Components());
    std::vector<TSample> samples(rowSamples * std::size_t(options.Height));
    for (int first = 0; first < options.Height; first += kBandRows)
        renderer.RenderRows(k, first, std::min(kBandRows, options.Height - first),
                            samples.data() + std::size_t(first) * rowSamples, quantize);
    return samples;
}

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

std::string FixedText(double value, int decimals = 3) {
    char text[400];
    auto [end, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return "nan";
    return std::string(text, end);
}

// The shortest text that reads back to the same double.
std::string ExactText(double value) {
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    if (ec != std::errc())
        return "nan";
    return std::string(text, end);
}

// Gains spread and numbers shuffled over laid-out dots, each from a stream of its own,
// so that the layout of a stack without them stays what it was.
void SpreadAndShuffle(const TSampleOptions& options, std::vector<TSampleDot>& dots) {
    if (options.GainSpread > 0) {
        std::uint64_t gains = StreamSeed(options.Seed, 0, 1);
        for (TSampleDot& dot : dots)
            dot.Gain = 1 + (2 * Uniform(gains) - 1) * options.GainSpread;
    }
    if (options.Shuffle) {
        // Fisher–Yates over the numbers and codes; positions stay where they are.
        std::uint64_t order = StreamSeed(options.Seed, 0, 2);
        for (std::size_t i = dots.size(); i > 1; --i) {
            const auto j = std::size_t(Uniform(order) * double(i));
            std::swap(dots[i - 1].Number, dots[j].Number);
            std::swap(dots[i - 1].Code, dots[j].Code);
        }
    }
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

// The target's dots in view of the camera.
std::vector<TSampleDot> LayoutTargetDots(const TSampleOptions& options) {
    const TSampleCamera& camera = *options.Camera;
    const TSampleTarget& target = camera.Target;
    const TSampleProjection projection(camera);
    const std::int64_t count =
        std::min(std::int64_t(target.Columns) * target.Rows, std::int64_t(options.MaxDots));
    std::vector<TSampleDot> dots;
    dots.reserve(std::size_t(count));
    std::uint64_t random = StreamSeed(options.Seed, 0, 0);
    for (int n = 0; n < count; ++n) {
        const double jx = (2 * Uniform(random) - 1) * target.Jitter;
        const double jy = (2 * Uniform(random) - 1) * target.Jitter;
        const int number = options.DistinctCodes > 0 ? n % options.DistinctCodes : n;
        TSampleDot dot{n, 2 * number + 1, 0, 0};
        dot.TargetX = (n % target.Columns - (target.Columns - 1) / 2.0) * target.Pitch + jx;
        dot.TargetY = (n / target.Columns - (target.Rows - 1) / 2.0) * target.Pitch + jy;
        dots.push_back(dot);
    }
    SpreadAndShuffle(options, dots);

    std::vector<TSampleDot> inView;
    for (TSampleDot& dot : dots) {
        std::optional<TImageBox> box;
        try {
            box = DotImageBox(projection, dot.TargetX, dot.TargetY, target.DotRadius, dot.Number);
        } catch (const std::invalid_argument&) {
            // Too large a dot matters only where it is in view.
            if (std::optional<TSampleXY> p = projection.ToImage(dot.TargetX, dot.TargetY);
                p && p->X >= 0 && p->X <= options.Width - 1 && p->Y >= 0 &&
                p->Y <= options.Height - 1)
                throw;
            continue;
        }
        if (!box || !PatchInside(*box, options.Blur, options))
            continue;
        const std::optional<TSampleXY> centre = projection.ToImage(dot.TargetX, dot.TargetY);
        if (!centre)
            continue;
        dot.X = centre->X;
        dot.Y = centre->Y;
        inView.push_back(dot);
    }
    return inView;
}

} // namespace

// ---------------------------------------------------------------------------

std::array<double, 9> SampleRotationMatrix(const std::array<double, 3>& r) {
    const double angle = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    if (angle < 1e-300)
        return {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const double x = r[0] / angle, y = r[1] / angle, z = r[2] / angle;
    const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    return {t * x * x + c,     t * x * y - s * z, t * x * z + s * y,
            t * x * y + s * z, t * y * y + c,     t * y * z - s * x,
            t * x * z - s * y, t * y * z + s * x, t * z * z + c};
}

TSampleProjection::TSampleProjection(const TSampleCamera& camera)
    : in_(camera.Intrinsics), translation_(camera.Pose.Translation) {
    const auto finite = [](auto values) {
        return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
    };
    if (!(in_.Fx > 0 && in_.Fy > 0) ||
        !finite(std::array{in_.Fx, in_.Fy, in_.Cx, in_.Cy, in_.K1, in_.K2}) ||
        !finite(camera.Pose.Rotation) || !finite(translation_))
        throw std::invalid_argument("sample camera: focal lengths must be positive and every "
                                    "intrinsic and pose value finite");
    rotation_ = SampleRotationMatrix(camera.Pose.Rotation);
    const std::array<double, 9>& R = rotation_;
    const std::array<double, 3>& t = translation_;
    // The target's plane maps to the undistorted image by the columns r1, r2, t; its
    // determinant r3 · t is the camera's distance from the plane.
    const double m[9] = {R[0], R[1], t[0], R[3], R[4], t[1], R[6], R[7], t[2]};
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    const double distance = std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]);
    if (!(std::abs(det) > 1e-9 * distance))
        throw std::invalid_argument("sample camera lies in the plane of the target");
    fromPlane_ = {(m[4] * m[8] - m[5] * m[7]) / det, (m[2] * m[7] - m[1] * m[8]) / det,
                  (m[1] * m[5] - m[2] * m[4]) / det, (m[5] * m[6] - m[3] * m[8]) / det,
                  (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det,
                  (m[3] * m[7] - m[4] * m[6]) / det, (m[1] * m[6] - m[0] * m[7]) / det,
                  (m[0] * m[4] - m[1] * m[3]) / det};

    // d(r · (1 + K1 r² + K2 r⁴)) / dr = 1 + 3 K1 r² + 5 K2 r⁴ first vanishes at the
    // smallest positive root s = r² of 5 K2 s² + 3 K1 s + 1.
    const double a = 5 * in_.K2, b = 3 * in_.K1;
    double root = INFINITY;
    if (a == 0) {
        if (b < 0)
            root = -1 / b;
    } else {
        const double disc = b * b - 4 * a;
        if (disc >= 0) {
            const double q = -0.5 * (b + std::copysign(std::sqrt(disc), b));
            for (const double s : {q / a, q != 0 ? 1 / q : INFINITY})
                if (s > 0)
                    root = std::min(root, s);
        }
    }
    foldRadius_ = std::sqrt(root);
    foldDistorted_ =
        std::isinf(root) ? INFINITY : foldRadius_ * (1 + in_.K1 * root + in_.K2 * root * root);
}

TSampleXY TSampleProjection::Distort(TSampleXY p) const {
    const double r2 = p.X * p.X + p.Y * p.Y;
    const double d = 1 + r2 * (in_.K1 + r2 * in_.K2);
    return {p.X * d, p.Y * d};
}

std::optional<TSampleXY> TSampleProjection::Undistort(TSampleXY p) const {
    const double rd = std::hypot(p.X, p.Y);
    if (!(rd < foldDistorted_))
        return std::nullopt;
    if (rd == 0 || (in_.K1 == 0 && in_.K2 == 0))
        return p;
    // Newton's method on r (1 + K1 r² + K2 r⁴) = rd, which rises steadily on
    // [0, FoldRadius()); a step that leaves the bracket is replaced by bisection.
    double lo = 0, hi = std::min(foldRadius_, 2 * rd + 1);
    while (hi * (1 + hi * hi * (in_.K1 + hi * hi * in_.K2)) < rd && hi < foldRadius_)
        hi = std::min(foldRadius_, 2 * hi);
    double r = std::min(rd, hi);
    for (int step = 0; step < 100; ++step) {
        const double r2 = r * r;
        const double f = r * (1 + r2 * (in_.K1 + r2 * in_.K2)) - rd;
        if (f == 0)
            break;
        (f < 0 ? lo : hi) = r;
        const double slope = 1 + r2 * (3 * in_.K1 + 5 * r2 * in_.K2);
        double next = slope > 0 ? r - f / slope : lo - 1;
        if (!(next > lo && next < hi))
            next = 0.5 * (lo + hi);
        const bool done = std::abs(next - r) <= 1e-15 * std::max(1.0, r);
        r = next;
        if (done)
            break;
    }
    const double scale = r / rd;
    return TSampleXY{p.X * scale, p.Y * scale};
}

std::optional<TSampleXY> TSampleProjection::ToImage(double u, double v) const {
    const std::array<double, 9>& R = rotation_;
    const double x = R[0] * u + R[1] * v + translation_[0];
    const double y = R[3] * u + R[4] * v + translation_[1];
    const double z = R[6] * u + R[7] * v + translation_[2];
    if (!(z > 0))
        return std::nullopt;
    const TSampleXY normal{x / z, y / z};
    if (!(std::hypot(normal.X, normal.Y) < foldRadius_))
        return std::nullopt;
    const TSampleXY d = Distort(normal);
    return TSampleXY{in_.Fx * d.X + in_.Cx, in_.Fy * d.Y + in_.Cy};
}

std::optional<TSampleXY> TSampleProjection::ToTarget(double x, double y) const {
    const std::optional<TSampleXY> p = Undistort({(x - in_.Cx) / in_.Fx, (y - in_.Cy) / in_.Fy});
    if (!p)
        return std::nullopt;
    const std::array<double, 9>& H = fromPlane_;
    const double w = H[6] * p->X + H[7] * p->Y + H[8];
    if (!(w > 0))
        return std::nullopt;
    return TSampleXY{(H[0] * p->X + H[1] * p->Y + H[2]) / w,
                     (H[3] * p->X + H[4] * p->Y + H[5]) / w};
}

// ---------------------------------------------------------------------------

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

std::vector<TSampleDot> LayoutSampleDots(const TSampleOptions& options) {
    CheckSampleOptions(options);
    if (options.Camera)
        return LayoutTargetDots(options);
    const double pitch = options.Spacing;
    // The margin keeps every dot's light, jittered centre included, inside the picture.
    const double margin = std::max(pitch, DotReach(options) + options.Jitter);
    auto cells = [&](int side) -> std::int64_t {
        const double room = (side - 1) - 2 * margin;
        return room < 0 ? 0 : static_cast<std::int64_t>(std::floor(room / pitch)) + 1;
    };
    const std::int64_t columns = cells(options.Width);
    const std::int64_t rows = cells(options.Height);
    const std::int64_t count =
        std::min({columns * rows, std::int64_t(options.MaxDots), std::int64_t(kSampleMaxDots)});
    std::vector<TSampleDot> dots;
    if (count == 0)
        return dots;
    const std::int64_t usedRows = (count + columns - 1) / columns;
    const double x0 = (options.Width - 1) / 2.0 - double(columns - 1) * pitch / 2;
    const double y0 = (options.Height - 1) / 2.0 - double(usedRows - 1) * pitch / 2;
    std::uint64_t random = StreamSeed(options.Seed, 0, 0);
    dots.reserve(std::size_t(count));
    for (int n = 0; n < count; ++n) {
        const double jx = (2 * Uniform(random) - 1) * options.Jitter;
        const double jy = (2 * Uniform(random) - 1) * options.Jitter;
        const int number = options.DistinctCodes > 0 ? n % options.DistinctCodes : n;
        dots.push_back({n, 2 * number + 1, x0 + double(n % columns) * pitch + jx,
                        y0 + double(n / columns) * pitch + jy});
    }
    SpreadAndShuffle(options, dots);
    return dots;
}

bool SampleDotLit(const TSampleDot& dot, int k) {
    if (k <= 0)
        return false;
    if (k == 1)
        return true;
    return k - 2 < 31 && ((dot.Code >> (k - 2)) & 1) != 0;
}

std::vector<std::uint8_t> RenderSamplePicture(const TSampleOptions& options,
                                              const std::vector<TSampleDot>& dots, int k) {
    return RenderWhole<std::uint8_t>(options, dots, k, Quantize);
}

std::uint32_t SampleMaxValue(const TSampleOptions& options) {
    if (options.Depth != 16)
        return 255;
    return LargestSample(std::clamp(options.SignificantBits, 1, 16));
}

std::vector<std::uint16_t> RenderSamplePicture16(const TSampleOptions& options,
                                                 const std::vector<TSampleDot>& dots, int k) {
    CheckSampleOptions(options);
    return RenderWhole<std::uint16_t>(options, dots, k,
                                      TFineQuantizer(LargestSample(options.SignificantBits)));
}

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

std::string FormatSampleTruth(const std::vector<TSampleDot>& dots, int decimals) {
    std::string text = "dot,code,x,y\n";
    text.reserve(dots.size() * 32 + text.size());
    for (const TSampleDot& dot : dots) {
        text += std::to_string(dot.Number);
        text += ',';
        text += std::to_string(dot.Code);
        text += ',';
        text += FixedText(dot.X, decimals);
        text += ',';
        text += FixedText(dot.Y, decimals);
        text += '\n';
    }
    return text;
}

std::string FormatSampleTargetTable(const std::vector<TSampleDot>& dots) {
    std::string text = "dot,code,target_x,target_y\n";
    for (const TSampleDot& dot : dots)
        text += std::to_string(dot.Number) + ',' + std::to_string(dot.Code) + ',' +
                ExactText(dot.TargetX) + ',' + ExactText(dot.TargetY) + '\n';
    return text;
}

std::string FormatSampleCamera(const TSampleOptions& options, std::size_t dots) {
    const TSampleCamera camera = options.Camera.value_or(TSampleCamera{});
    const TSampleIntrinsics& in = camera.Intrinsics;
    const TSampleTarget& target = camera.Target;
    auto list = [](const double* values, int count) {
        std::string text = "[";
        for (int i = 0; i < count; ++i)
            text += (i > 0 ? ", " : "") + ExactText(values[i]);
        return text + "]";
    };
    const std::array<double, 9> R = SampleRotationMatrix(camera.Pose.Rotation);
    std::string text = "{\n";
    text += "  \"width\": " + std::to_string(options.Width) + ",\n";
    text += "  \"height\": " + std::to_string(options.Height) + ",\n";
    text += "  \"fx\": " + ExactText(in.Fx) + ",\n";
    text += "  \"fy\": " + ExactText(in.Fy) + ",\n";
    text += "  \"cx\": " + ExactText(in.Cx) + ",\n";
    text += "  \"cy\": " + ExactText(in.Cy) + ",\n";
    text += "  \"k1\": " + ExactText(in.K1) + ",\n";
    text += "  \"k2\": " + ExactText(in.K2) + ",\n";
    text += "  \"rotation\": " + list(camera.Pose.Rotation.data(), 3) + ",\n";
    text += "  \"rotation_matrix\": [" + list(R.data(), 3) + ", " + list(R.data() + 3, 3) + ", " +
            list(R.data() + 6, 3) + "],\n";
    text += "  \"translation\": " + list(camera.Pose.Translation.data(), 3) + ",\n";
    text += "  \"target\": {\"pitch\": " + ExactText(target.Pitch) +
            ", \"dot_radius\": " + ExactText(target.DotRadius) +
            ", \"columns\": " + std::to_string(target.Columns) +
            ", \"rows\": " + std::to_string(target.Rows) +
            ", \"jitter\": " + ExactText(target.Jitter) + "},\n";
    text += "  \"dots\": " + std::to_string(dots) + "\n}\n";
    return text;
}

std::vector<TSampleDot> ReadSampleTruth(const std::string& fileName) {
    const std::vector<std::string> lines = ReadTextLines(fileName);
    auto fail = [&](std::size_t line, const std::string& reason) {
        throw EFileError("Cannot read \"" + fileName + "\": line " + std::to_string(line + 1) +
                         ": " + reason);
    };
    if (lines.empty() || lines[0] != "dot,code,x,y")
        fail(0, "the header \"dot,code,x,y\" is missing");
    std::vector<TSampleDot> dots;
    dots.reserve(lines.size() - 1);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const char* p = line.data();
        const char* end = p + line.size();
        TSampleDot dot{};
        auto field = [&](auto& value, bool lastField) {
            auto [next, ec] = std::from_chars(p, end, value);
            if (ec != std::errc() || next == p ||
                (lastField ? next != end : next == end || *next != ','))
                fail(i, "expected four comma-separated numbers, found \"" + line + "\"");
            p = lastField ? next : next + 1;
        };
        field(dot.Number, false);
        field(dot.Code, false);
        field(dot.X, false);
        field(dot.Y, true);
        dots.push_back(dot);
    }
    return dots;
}

namespace {

// Adds up the distances of found centres from the dots of the same code.
class TErrorTally {
public:
    explicit TErrorTally(const std::vector<TSampleDot>& truth) {
        for (const TSampleDot& dot : truth)
            byCode_.emplace(dot.Code, &dot);
        result_.Dots = truth.size();
    }

    void Add(int code, double x, double y) {
        ++result_.Points;
        auto it = byCode_.find(code);
        if (it == byCode_.end()) {
            ++result_.Extra;
            ++result_.Wrong;
            return;
        }
        const double error = std::hypot(x - it->second->X, y - it->second->Y);
        sum_ += error;
        result_.MaxError = std::max(result_.MaxError, error);
        result_.Far += error > kFarError ? 1 : 0;
        (error <= kRightError ? result_.Right : result_.Wrong) += 1;
        ++result_.Found;
    }

    TTruthComparison Result() const {
        TTruthComparison result = result_;
        result.MeanError = result.Found > 0 ? sum_ / double(result.Found) : 0;
        return result;
    }

private:
    std::map<int, const TSampleDot*> byCode_;
    TTruthComparison result_;
    double sum_ = 0;
};

} // namespace

TTruthComparison CompareWithTruth(const std::vector<TSampleDot>& truth,
                                  const std::string& pointsFile) {
    TErrorTally tally(truth);
    const std::vector<std::string> lines = ReadTextLines(pointsFile);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::istringstream in(lines[i]);
        in.imbue(std::locale::classic());
        int code = 0, count = 0;
        double x = 0, y = 0;
        if (!(in >> code >> x >> y >> count))
            throw EFileError("Cannot read \"" + pointsFile + "\": line " + std::to_string(i + 1) +
                             " is not \"code x y count\"");
        tally.Add(code, x, y);
    }
    return tally.Result();
}

TTruthComparison CompareWithTruth(const std::vector<TSampleDot>& truth,
                                  const TUniquePoints& points) {
    TErrorTally tally(truth);
    for (std::int32_t i = 0; i < points.EntryCount; ++i) {
        const TUniquePoint& point = points.Entries[std::size_t(i)];
        tally.Add(point.Code, point.X, point.Y);
    }
    return tally.Result();
}

TTableComparison CompareTableWithTruth(const std::vector<TSampleDot>& truth,
                                       const std::string& tableFile) {
    const std::vector<std::string> lines = ReadTextLines(tableFile);
    const std::string columns = "code,dot,x,y,pixels,refined_x,refined_y";
    auto fail = [&](std::size_t line, const std::string& reason) {
        throw EFileError("Cannot read \"" + tableFile + "\": line " + std::to_string(line + 1) +
                         ": " + reason);
    };
    if (lines.empty() || lines[0].compare(0, columns.size(), columns) != 0)
        fail(0, "the header does not start with \"" + columns + "\"");
    TErrorTally plain(truth), refined(truth);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const char* p = line.data();
        const char* end = p + line.size();
        double values[7] = {};
        for (double& value : values) {
            auto [next, ec] = std::from_chars(p, end, value);
            if (ec != std::errc() || next == p || (next != end && *next != ','))
                fail(i, "expected the table's first seven numbers, found \"" + line + "\"");
            p = next == end ? end : next + 1;
        }
        const int code = static_cast<int>(values[0]);
        plain.Add(code, values[2], values[3]);
        refined.Add(code, values[5], values[6]);
    }
    return {plain.Result(), refined.Result()};
}
