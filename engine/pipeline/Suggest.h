#pragma once
// Suggested settings: a mindif and a tolerance read from the stack itself.
//
// Mindif comes from the contrast plane 2 − plane 0. Its most frequent value up to
// its median is the background's (dots of one saturated contrast can outnumber any
// one value of the background, but not all of it), and below it lies noise alone (the dots only add
// light), so the lower tail, mirrored, tells how far noise reaches above the background: the noise
// floor, the lowest mindif that leaves the background out.
//
// Tolerance comes from the code pictures, read at the pixels above the noise floor:
// the first two, where about half the dots are lit.
// A code picture's value there lies near plane 2 where its dot is lit and near
// plane 0 where it is not; which one is told by the nearer. Of the lit ones, how
// far they reach below plane 2 (the lit spread, L), of the unlit ones how far above
// plane 0 (the unlit spread, U), each up to all but one in 10^4. A bit is read
// right where its lit value lies within the tolerance of plane 2 and its unlit value
// beyond it: a pixel of contrast c needs L < tolerance ≤ c − U. The dimmest pixel
// a code is given has contrast mindif + 1, so
//   - mindif is the noise floor, or L + U + 2 margins where that is higher, and
//   - tolerance sits three fifths of the way from L + 1 to mindif + 1 − U: the
//     lit values' tail, which JPEG errors at bright dots lengthen, is the longer.
// Every figure is a count over pixels, so the suggestion is the same on any number
// of threads and for the streamed evaluation as for the whole stack.

#include "pipeline/Evaluator.h"
#include "refine/Refine.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// The settings the caller fixed; the others are suggested.
struct TSettingsRequest {
    std::optional<std::uint8_t> MinDif;
    std::optional<std::uint8_t> Tolerance;
    bool Automatic() const { return !MinDif || !Tolerance; }

    /// The settings given: minDif unless it is to be suggested, tolerance likewise.
    static TSettingsRequest Given(std::uint8_t minDif, bool suggestMinDif, std::uint8_t tolerance,
                                  bool suggestTolerance) {
        TSettingsRequest request;
        if (!suggestMinDif)
            request.MinDif = minDif;
        if (!suggestTolerance)
            request.Tolerance = tolerance;
        return request;
    }
};

/// Counts of the values −255 … 255.
class TLevelCounts {
public:
    static constexpr int kOffset = 255;
    void Add(int value) { ++counts_[std::size_t(value + kOffset)]; }
    void Add(const TLevelCounts& other);
    std::uint64_t operator[](int value) const { return counts_[std::size_t(value + kOffset)]; }
    std::uint64_t Total() const;
    /// The most frequent value up to highest (the lowest of equals); −255 when
    /// there is none.
    int Mode(int highest = kOffset) const;
    /// The smallest value at or below which lie at least half the counts; 0 when
    /// empty.
    int Median() const;
    /// The smallest value v with at most fraction × Total() counts above it; 0 when
    /// empty.
    int Reach(double fraction) const;

private:
    std::array<std::uint64_t, 2 * kOffset + 1> counts_{};
};

/// What the suggestion reads: the contrast of every pixel, then the levels of two
/// code pictures at the pixels above the noise floor.
struct TSettingsCounts {
    TLevelCounts Contrast;   ///< plane 2 − plane 0, every pixel
    TLevelCounts LitBelow;   ///< plane 2 − value, of the code values read as lit
    TLevelCounts UnlitAbove; ///< value − plane 0, of the code values read as unlit

    void Add(const TSettingsCounts& other);
    /// Counts a code picture's value at a pixel of planes 0 and 2 dark and lit: as
    /// lit where it lies nearer to lit, else as unlit.
    void AddLevel(int dark, int lit, int value) {
        const int below = lit - value;
        if (2 * below < lit - dark)
            LitBelow.Add(below);
        else
            UnlitAbove.Add(value - dark);
    }
};

/// Counts the contrast lit − dark of one row.
void AddContrastRow(TLevelCounts& contrast, const std::uint8_t* dark, const std::uint8_t* lit,
                    std::int32_t width);

/// The code pictures whose levels are counted: the first two, in each of which
/// about half the dots are lit, whatever the numbering of the dots.
inline constexpr std::array<std::int32_t, 2> kLevelPictures = {3, 4};

/// Counts what the suggestion reads from planes 0 and 2 (dark, lit) and the
/// pictures kLevelPictures (levels), all of one size, on threads (0: all cores);
/// the counts do not depend on their number. A given contrast is taken as counted
/// already.
TSettingsCounts CountSettings(const TPic& dark, const TPic& lit,
                              const std::array<const TPic*, 2>& levels,
                              const TSettingsRequest& request, int threads,
                              const TLevelCounts* contrast = nullptr);

/// The settings chosen and the figures they were read from.
struct TSuggestion {
    std::uint8_t MinDif = TEvalDefaults::MinDif;
    std::uint8_t Tolerance = TEvalDefaults::Tolerance;
    int Background = 0;    ///< most frequent contrast
    double Noise = 0;      ///< the background's noise, one standard deviation
    int NoiseFloor = 0;    ///< lowest mindif clear of the noise
    int LitSpread = 0;     ///< L: how far lit code values reach below plane 2
    int UnlitSpread = 0;   ///< U: how far unlit code values reach above plane 0
    double AboveFloor = 0; ///< share of pixels above the noise floor
    bool NoDots = false;   ///< no pixel stands out of the noise
    /// One line each on why: the figures read.
    std::string MinDifReason() const;
    std::string ToleranceReason() const;
};

/// The mindif whose pixels the code pictures are counted at: the request's, or the
/// noise floor of the contrast.
std::uint8_t LevelsFloor(const TLevelCounts& contrast, const TSettingsRequest& request);

/// The settings from the counts, the request's fixed ones kept.
TSuggestion ChooseSettings(const TSettingsCounts& counts, const TSettingsRequest& request);

/// The counts of a loaded stack (17 planes) on threads (0: all cores), and the
/// settings chosen from them. A stack that is not complete gives the defaults.
TSuggestion SuggestSettings(const TPicEval& eval, const TSettingsRequest& request = {},
                            int threads = 0);

/// How well the points of a run look like dots: a stack evaluated with settings
/// that lose its dots shows many points of one or two pixels, or points whose code
/// is scattered over stray pixels.
struct TCoverage {
    std::int32_t Points = 0;
    std::int32_t Typical = 0; ///< a main blob of typical size and few stray pixels
    std::int32_t Tiny = 0;    ///< a main blob of one or two pixels
    std::int32_t Stray = 0;   ///< not tiny, stray pixels a quarter of the blob or more
    std::int32_t Other = 0;   ///< the rest: a blob far smaller or larger than typical
    /// Typical main blobs hold SmallestTypical … LargestTypical pixels: half to twice
    /// the median of the blobs that are not tiny.
    std::int32_t SmallestTypical = 0, LargestTypical = 0;
};

/// The coverage of refined points (RefineCentres).
TCoverage CoverageOf(const std::vector<TRefinedPoint>& refined);

/// "1976 points: 1970 with a main blob of typical size (48 to 194 pixels), 3 of one
/// or two pixels, 2 with many stray pixels, 1 of another size".
std::string CoverageText(const TCoverage& coverage);

/// What one pair of settings gives on a loaded stack.
struct TSettingsTrial {
    std::int32_t Points = 0;
    TCoverage Coverage;
};

/// Evaluates eval's stack in memory with minDif and tolerance (its code matrix and
/// points are replaced; its settings are left as they were), and refines the
/// points to tell their coverage. Writes no file.
TSettingsTrial TrySettings(TPicEval& eval, std::uint8_t minDif, std::uint8_t tolerance,
                           int threads = 0);
