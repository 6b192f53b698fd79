// Stream seeds and the table of normal quantiles.

#include "SampleRandom.h"

#include <cmath>
#include <numbers>

namespace sample_detail {

namespace {

double NormalCdf(double x) {
    return 0.5 * std::erfc(-x / std::numbers::sqrt2);
}

} // namespace

std::uint64_t StreamSeed(std::uint32_t seed, std::uint64_t a, std::uint64_t b) {
    std::uint64_t state = seed;
    std::uint64_t h = SplitMix(state);
    state = h ^ (a * 0xD1B54A32D192ED03ULL);
    h = SplitMix(state);
    state = h ^ (b * 0xAEF17502108EF2D9ULL);
    return SplitMix(state);
}

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

} // namespace sample_detail
