#pragma once
// The sample generator's random numbers: a generator of its own, so that the
// pictures are the same with every standard library, seeds for the streams of one
// stack, uniform numbers, and normal noise drawn from a table.

#include <cstdint>
#include <vector>

namespace sample_detail {

/// Noise comes from a table of normal quantiles indexed by this many random bits.
inline constexpr int kNoiseBits = 12;
inline constexpr int kNoiseClasses = 1 << kNoiseBits;

/// The next number of the SplitMix64 sequence of state.
inline std::uint64_t SplitMix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

/// A seed for one stream (the layout, or one row of one picture) from the stack's seed.
std::uint64_t StreamSeed(std::uint32_t seed, std::uint64_t a, std::uint64_t b);

/// Uniform in [0, 1).
inline double Uniform(std::uint64_t& state) {
    return static_cast<double>(SplitMix(state) >> 11) * 0x1.0p-53;
}

/// The medians of kNoiseClasses equally likely classes of the standard normal
/// distribution; drawing one at random gives normal noise cut off at ±3.5 sigma.
const std::vector<float>& NormalTable();

/// Standard normal samples, five from each 64-bit draw.
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

} // namespace sample_detail
