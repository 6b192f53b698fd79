// The renderer of a stack's pictures: the dots' light profile and patches added band
// by band, then the light made samples.

#include "SampleRender.h"

#include "base/Parallel.h"
#include "input/PictureRows.h"

#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace sample_detail {

namespace {

// The dot's light is tabulated over the squared distance from its centre.
constexpr int kProfileSteps = 1024;

} // namespace

TRenderer::TRenderer(const TSampleOptions& options, const std::vector<TSampleDot>& dots)
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

void TRenderer::RenderPatches() {
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

void TRenderer::AddPatches(int k, int first, int count, float* light) const {
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

void TRenderer::AddDots(int k, int first, int count, float* light) const {
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
        const int c0 = static_cast<int>(std::clamp(std::ceil(dot.X - reach_), 0.0, double(width)));
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

} // namespace sample_detail

using namespace sample_detail;

namespace {

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

} // namespace

std::vector<std::uint8_t> RenderSamplePicture(const TSampleOptions& options,
                                              const std::vector<TSampleDot>& dots, int k) {
    return RenderWhole<std::uint8_t>(options, dots, k, Quantize);
}

std::vector<std::uint16_t> RenderSamplePicture16(const TSampleOptions& options,
                                                 const std::vector<TSampleDot>& dots, int k) {
    CheckSampleOptions(options);
    return RenderWhole<std::uint16_t>(options, dots, k,
                                      TFineQuantizer(LargestSample(options.SignificantBits)));
}
