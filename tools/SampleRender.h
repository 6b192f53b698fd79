#pragma once
// Rendering the photographs of a sample stack: the dots' light, the ambient and
// projector light, vignetting, tint and sensor noise, quantised to 8-bit samples or
// to the finer step of 16-bit ones. A picture is rendered band by band, so that the
// photographs can be encoded as they are made.

#include "SampleDotLight.h"
#include "SampleLayout.h"
#include "SampleOptions.h"
#include "SampleRandom.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

/// Renders picture k (0 … 16) as Width × Height pixels, row after row, three bytes
/// (red, green, blue) each or one grey byte when options.Greyscale. The result
/// depends only on the options (Seed included, Threads excluded), the dots and k;
/// they are those of 8-bit photographs, whatever options.Depth says. Raises
/// std::invalid_argument for bad options, a bad k or a dot with a negative code or a
/// centre that is not a finite number.
std::vector<std::uint8_t> RenderSamplePicture(const TSampleOptions& options,
                                              const std::vector<TSampleDot>& dots, int k);

/// Renders picture k as RenderSamplePicture does, from the same light and noise, but
/// at a finer step: the light in grey levels (noise included) that RenderSamplePicture
/// rounds to a byte becomes round(level × M / 255), clamped to 0 … M, with
/// M = 2^SignificantBits − 1 whatever options.Depth says. These are the values of
/// 16-bit photographs.
std::vector<std::uint16_t> RenderSamplePicture16(const TSampleOptions& options,
                                                 const std::vector<TSampleDot>& dots, int k);

namespace sample_detail {

/// Rows rendered at a time: the photograph is encoded band by band, so that a
/// worker never holds more than one band of light values and pixels.
inline constexpr int kBandRows = 32;

/// A light level as an 8-bit sample.
inline std::uint8_t Quantize(float value) {
    return static_cast<std::uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f));
}

/// A light level as a sample of 0 … top, where top stands for level 255: the same
/// light at a finer step, so that noise of less than a level still shows.
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

/// Everything needed to render any band of any picture of one stack. Rendering is
/// const and keeps its scratch memory on the stack of the call, so workers share one
/// renderer.
class TRenderer {
public:
    /// Raises std::invalid_argument for bad options or a bad dot.
    TRenderer(const TSampleOptions& options, const std::vector<TSampleDot>& dots);

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
    void RenderPatches();

    // Adds the light of the patches of the dots lit in picture k to the band's light
    // values.
    void AddPatches(int k, int first, int count, float* light) const;

    // Adds the light of the dots lit in picture k to the band's light values.
    void AddDots(int k, int first, int count, float* light) const;

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

} // namespace sample_detail
