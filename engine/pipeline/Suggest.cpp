#include "pipeline/Suggest.h"

#include "base/Parallel.h"
#include "base/Vectorize.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// 1 where a pixel lies above the floor, else 0, for width pixels.
KELVARON_VECTOR_CLONES
void MarkOnDot(const std::uint8_t* __restrict dark, const std::uint8_t* __restrict lit,
               std::uint8_t* __restrict marks, std::int32_t width, int floor) {
    for (std::int32_t col = 0; col < width; ++col)
        marks[col] = OnLitDot(dark[col], lit[col], floor) ? 1 : 0;
}

// The spreads of the code values are read up to all but this share of them.
constexpr double kSpreadShare = 1e-4;
// The noise floor leaves out all but this share of the background, and at most a
// few pixels.
constexpr double kFloorShare = 1e-6;
constexpr std::uint64_t kFloorPixels = 2;

// The background's noise and its floor, from the lower tail of the contrast.
struct TNoise {
    int Background = 0;
    double Sigma = 0;
    int Floor = 0;
};

TNoise NoiseOf(const TLevelCounts& contrast) {
    TNoise noise;
    const std::uint64_t total = contrast.Total();
    if (total == 0)
        return noise;
    const int mode = contrast.Mode(contrast.Median());
    noise.Background = mode;
    // at[s]: pixels at or below mode − s. Below the mode lies half the background.
    const int lowest = -TLevelCounts::kOffset;
    std::vector<std::uint64_t> at(std::size_t(mode - lowest) + 2, 0);
    for (int s = mode - lowest; s >= 0; --s)
        at[std::size_t(s)] = at[std::size_t(s) + 1] + contrast[mode - s];
    const double half = double(at[1]) + 0.5 * double(contrast[mode]);
    // One standard deviation below the mode holds 15.87 % of the background, which
    // is twice half.
    const double target = 0.1587 * 2 * half;
    noise.Sigma = 0;
    for (std::size_t s = 1; s < at.size(); ++s)
        if (double(at[s]) <= target) {
            // between s − 1 (at[s − 1] above the target) and s
            const double above = s == 1 ? half : double(at[s - 1]);
            const double step = above - double(at[s]);
            noise.Sigma = double(s) - (step > 0 ? (target - double(at[s])) / step : 0);
            break;
        }
    const std::uint64_t few =
        std::max<std::uint64_t>(kFloorPixels, std::uint64_t(kFloorShare * double(total)));
    int reach = 0; // the mirrored tail: pixels below mode − reach are few
    while (std::size_t(reach + 1) < at.size() && at[std::size_t(reach) + 1] > few)
        ++reach;
    noise.Floor = std::clamp(mode + reach + 1 + int(std::ceil(noise.Sigma)), 0, 254);
    return noise;
}

std::string Figure(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace

void TLevelCounts::Add(const TLevelCounts& other) {
    for (std::size_t i = 0; i < counts_.size(); ++i)
        counts_[i] += other.counts_[i];
}

std::uint64_t TLevelCounts::Total() const {
    std::uint64_t total = 0;
    for (std::uint64_t count : counts_)
        total += count;
    return total;
}

int TLevelCounts::Mode(int highest) const {
    const auto end =
        counts_.begin() + std::ptrdiff_t(std::clamp(highest, -kOffset, kOffset) + kOffset) + 1;
    return int(std::max_element(counts_.begin(), end) - counts_.begin()) - kOffset;
}

int TLevelCounts::Median() const {
    const std::uint64_t total = Total();
    std::uint64_t below = 0;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        below += counts_[i];
        if (total > 0 && 2 * below >= total)
            return int(i) - kOffset;
    }
    return 0;
}

int TLevelCounts::Reach(double fraction) const {
    const std::uint64_t total = Total();
    if (total == 0)
        return 0;
    const double allowed = fraction * double(total);
    std::uint64_t above = 0;
    for (int i = int(counts_.size()) - 1; i > 0; --i) {
        if (double(above + counts_[std::size_t(i)]) > allowed)
            return i - kOffset;
        above += counts_[std::size_t(i)];
    }
    return -kOffset;
}

void TSettingsCounts::Add(const TSettingsCounts& other) {
    Contrast.Add(other.Contrast);
    LitBelow.Add(other.LitBelow);
    UnlitAbove.Add(other.UnlitAbove);
}

void AddContrastRow(TLevelCounts& contrast, const std::uint8_t* dark, const std::uint8_t* lit,
                    std::int32_t width) {
    for (std::int32_t col = 0; col < width; ++col)
        contrast.Add(int(lit[col]) - int(dark[col]));
}

std::uint8_t LevelsFloor(const TLevelCounts& contrast, const TSettingsRequest& request) {
    return request.MinDif ? *request.MinDif : std::uint8_t(NoiseOf(contrast).Floor);
}

TSuggestion ChooseSettings(const TSettingsCounts& counts, const TSettingsRequest& request) {
    TSuggestion s;
    const TNoise noise = NoiseOf(counts.Contrast);
    s.Background = noise.Background;
    s.Noise = noise.Sigma;
    s.NoiseFloor = noise.Floor;
    const std::uint64_t total = counts.Contrast.Total();
    std::uint64_t above = 0;
    for (int c = noise.Floor + 1; c <= TLevelCounts::kOffset; ++c)
        above += counts.Contrast[c];
    s.AboveFloor = total > 0 ? double(above) / double(total) : 0;
    s.NoDots = above == 0;
    s.LitSpread = std::max(0, counts.LitBelow.Reach(kSpreadShare));
    s.UnlitSpread = std::max(0, counts.UnlitAbove.Reach(kSpreadShare));
    const int margin = std::max(1, int(std::ceil(noise.Sigma)));
    int minDif = request.MinDif ? int(*request.MinDif)
                                : std::max(noise.Floor, s.LitSpread + s.UnlitSpread + 2 * margin);
    if (!request.MinDif && request.Tolerance)
        minDif = std::max(noise.Floor, int(*request.Tolerance) + s.UnlitSpread + margin - 1);
    if (!request.MinDif && s.NoDots) // nothing to read: the default, clear of the noise
        minDif = std::max(noise.Floor, int(TEvalDefaults::MinDif));
    s.MinDif = std::uint8_t(std::clamp(minDif, 0, 254));
    if (request.Tolerance)
        s.Tolerance = *request.Tolerance;
    else if (!s.NoDots)
        s.Tolerance = std::uint8_t(std::clamp(
            s.LitSpread + 1 + (3 * (int(s.MinDif) - s.UnlitSpread - s.LitSpread) + 4) / 5, 1, 255));
    return s;
}

std::string TSuggestion::MinDifReason() const {
    const std::string text = "mindif " + std::to_string(MinDif) +
                             ": the background's contrast is " + std::to_string(Background) +
                             " ± " + Figure(Noise) + " and its noise reaches up to " +
                             std::to_string(NoiseFloor) + "; ";
    if (NoDots)
        return text + "no pixel lies above that, so the stack shows no dots";
    return text + Figure(100 * AboveFloor) +
           " % of the pixels lie above that, and their code values read right from a "
           "contrast of " +
           std::to_string(LitSpread + UnlitSpread + 1) + " up";
}

std::string TSuggestion::ToleranceReason() const {
    if (NoDots)
        return "tolerance " + std::to_string(Tolerance) +
               ": no pixel stands out of the noise, so the code pictures tell nothing and the "
               "default stays";
    return "tolerance " + std::to_string(Tolerance) + ": lit code values lie up to " +
           std::to_string(LitSpread) + " below picture 2, unlit ones up to " +
           std::to_string(UnlitSpread) + " above picture 0";
}

TSettingsCounts CountSettings(const TPic& dark, const TPic& lit,
                              const std::array<const TPic*, 2>& levels,
                              const TSettingsRequest& request, int threads,
                              const TLevelCounts* contrast) {
    const std::int32_t width = dark.Width, height = dark.Height;
    const int bands = std::max(1, std::min(ThreadsFor(threads), int(height)));
    std::vector<TSettingsCounts> parts(static_cast<std::size_t>(bands));
    TSettingsCounts counts;
    if (contrast) {
        counts.Contrast = *contrast;
    } else {
        ForEachBand(height, bands, bands, [&](int band, std::int32_t begin, std::int32_t end) {
            for (std::int32_t row = begin; row < end; ++row)
                AddContrastRow(parts[std::size_t(band)].Contrast, dark.Data[row], lit.Data[row],
                               width);
        });
        for (const TSettingsCounts& part : parts)
            counts.Contrast.Add(part.Contrast);
    }
    const int floor = LevelsFloor(counts.Contrast, request);
    parts.assign(parts.size(), TSettingsCounts{});
    ForEachBand(height, bands, bands, [&](int band, std::int32_t begin, std::int32_t end) {
        TSettingsCounts& part = parts[std::size_t(band)];
        std::vector<std::uint8_t> onDot(std::size_t(width) + 8, 0);
        for (std::int32_t row = begin; row < end; ++row) {
            const std::uint8_t* d = dark.Data[row];
            const std::uint8_t* l = lit.Data[row];
            MarkOnDot(d, l, onDot.data(), width, floor);
            // Eight marks at a time: most stretches of a picture lie off the dots.
            for (std::int32_t first = 0; first < width; first += 8) {
                std::uint64_t marks;
                std::memcpy(&marks, onDot.data() + first, sizeof marks);
                if (marks == 0)
                    continue;
                for (std::int32_t col = first; col < std::min(first + 8, width); ++col)
                    if (onDot[std::size_t(col)] != 0)
                        for (const TPic* picture : levels)
                            part.AddLevel(d[col], l[col], picture->Data[row][col]);
            }
        }
    });
    for (const TSettingsCounts& part : parts)
        counts.Add(part);
    return counts;
}

TSuggestion SuggestSettings(const TPicEval& eval, const TSettingsRequest& request, int threads) {
    if (!eval.IsStackComplete())
        return ChooseSettings({}, request);
    const std::vector<TPic>& planes = eval.Pics.Planes;
    return ChooseSettings(CountSettings(planes[0], planes[2],
                                        {&planes[std::size_t(kLevelPictures[0])],
                                         &planes[std::size_t(kLevelPictures[1])]},
                                        request, threads),
                          request);
}

TCoverage CoverageOf(const std::vector<TRefinedPoint>& refined) {
    TCoverage coverage;
    coverage.Points = std::int32_t(refined.size());
    std::vector<std::int32_t> sizes;
    for (const TRefinedPoint& point : refined)
        if (point.BlobPixels > 2)
            sizes.push_back(point.BlobPixels);
    if (!sizes.empty()) {
        std::nth_element(sizes.begin(), sizes.begin() + std::ptrdiff_t(sizes.size() / 2),
                         sizes.end());
        const std::int32_t median = sizes[sizes.size() / 2];
        coverage.SmallestTypical = std::max(3, (median + 1) / 2);
        coverage.LargestTypical = 2 * median;
    }
    for (const TRefinedPoint& point : refined) {
        if (point.BlobPixels <= 2)
            ++coverage.Tiny;
        else if (4 * std::int64_t(point.StrayPixels) >= point.BlobPixels)
            ++coverage.Stray;
        else if (point.BlobPixels < coverage.SmallestTypical ||
                 point.BlobPixels > coverage.LargestTypical)
            ++coverage.Other;
        else
            ++coverage.Typical;
    }
    return coverage;
}

std::string CoverageText(const TCoverage& c) {
    std::string text = std::to_string(c.Points) + (c.Points == 1 ? " point" : " points");
    if (c.Points == 0)
        return text;
    text += ": " + std::to_string(c.Typical) + " with a main blob of typical size";
    if (c.LargestTypical > 0)
        text += " (" + std::to_string(c.SmallestTypical) + " to " +
                std::to_string(c.LargestTypical) + " pixels)";
    return text + ", " + std::to_string(c.Tiny) + " of one or two pixels, " +
           std::to_string(c.Stray) + " with many stray pixels, " + std::to_string(c.Other) +
           " of another size";
}

TSettingsTrial TrySettings(TPicEval& eval, std::uint8_t minDif, std::uint8_t tolerance,
                           int threads) {
    const std::uint8_t keptMinDif = eval.MinDif, keptTolerance = eval.Tolerance;
    const int keptThreads = eval.Threads;
    eval.MinDif = minDif;
    eval.Tolerance = tolerance;
    eval.Threads = threads;
    eval.CalcMatrix();
    eval.MinDif = keptMinDif;
    eval.Tolerance = keptTolerance;
    eval.Threads = keptThreads;
    eval.Points.Reset();
    eval.Points.AddCodeMatrix(eval.CodeMatrix, ThreadsFor(threads));
    eval.Points.Trim();
    eval.Points.CalcCentres();
    TSettingsTrial trial;
    trial.Points = eval.Points.EntryCount;
    if (eval.IsStackComplete())
        trial.Coverage =
            CoverageOf(RefineCentres({eval.Pics.Planes[0], eval.Pics.Planes[2],
                                      eval.Pics.DeepPlane(0), eval.Pics.DeepPlane(2)},
                                     eval.CodeMatrix, eval.Points, ThreadsFor(threads)));
    return trial;
}
