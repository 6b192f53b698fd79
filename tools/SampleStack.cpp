#include "SampleStack.h"

#include "Errors.h"
#include "FileUtil.h"
#include "JpegWriter.h"
#include "Parallel.h"
#include "PicHolder.h"
#include "Text.h"

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
    // Adds the light of the dots lit in picture k to the band's light values.
    void AddDots(int k, int first, int count, float* light) const {
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
    std::vector<TSampleDot> dots_; // sorted by row
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

std::string FixedText(double value) {
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
    if (ec != std::errc())
        return "nan";
    return std::string(text, end);
}

} // namespace

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
}

double SampleDotRadius(const TSampleOptions& options) {
    return options.DotRadius > 0 ? options.DotRadius : kDerivedRadiusFactor * options.Spacing;
}

std::vector<TSampleDot> LayoutSampleDots(const TSampleOptions& options) {
    CheckSampleOptions(options);
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
    // Drawn from streams of their own, so that the layout of a stack without them
    // stays what it was.
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
    WriteWholeFile(stack.TruthFile, FormatSampleTruth(stack.Dots));
    WriteWholeFile(stack.ListFile, list); // last: a stack with a list file is complete
    return stack;
}

std::string FormatSampleTruth(const std::vector<TSampleDot>& dots) {
    std::string text = "dot,code,x,y\n";
    text.reserve(dots.size() * 32 + text.size());
    for (const TSampleDot& dot : dots) {
        text += std::to_string(dot.Number);
        text += ',';
        text += std::to_string(dot.Code);
        text += ',';
        text += FixedText(dot.X);
        text += ',';
        text += FixedText(dot.Y);
        text += '\n';
    }
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
