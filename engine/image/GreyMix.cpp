// The grey mix 0.3 R + 0.59 G + 0.11 B as the original arithmetic computes it:
// ((r·0.3 + g·0.59) + b·0.11) with 64-bit significands, rounded to the nearest
// integer with ties to even.
//
// Where the decimal mix (30r + 59g + 11b) / 100 does not end in exactly .50 it lies
// at least 0.01 from a half, far beyond the error of the binary arithmetic, so
// plain integer rounding gives the same result. Only the halfway cases (about one
// pixel in a hundred) need the binary arithmetic itself.

#include "image/GreyMix.h"

#include "base/Vectorize.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// The grey mix in the arithmetic of an x87 extended float (64-bit significand,
// round to nearest even after each step), emulated with integers so that it gives
// the same result on every machine. Only needed when the decimal mix lies exactly
// halfway between two integers; elsewhere the decimal value decides.
__extension__ typedef unsigned __int128 TUInt128;

// A positive value Mant × 2^Exp; Mant has its top bit set (or is 0 for zero).
struct TExtended {
    std::uint64_t Mant = 0;
    int Exp = 0;
};

// Rounds x × 2^exp to a 64-bit significand, ties to even.
TExtended Normalize(TUInt128 x, int exp) {
    if (x == 0)
        return {};
    int bits = 128 - (static_cast<std::uint64_t>(x >> 64) != 0
                          ? __builtin_clzll(static_cast<std::uint64_t>(x >> 64))
                          : 64 + __builtin_clzll(static_cast<std::uint64_t>(x)));
    if (bits <= 64)
        return {static_cast<std::uint64_t>(x << (64 - bits)), exp - (64 - bits)};
    int shift = bits - 64;
    TUInt128 kept = x >> shift;
    TUInt128 rest = x & ((TUInt128(1) << shift) - 1);
    TUInt128 half = TUInt128(1) << (shift - 1);
    if (rest > half || (rest == half && (kept & 1) != 0))
        ++kept;
    exp += shift;
    if ((kept >> 64) != 0) { // rounding carried into a 65th bit
        kept >>= 1;
        ++exp;
    }
    return {static_cast<std::uint64_t>(kept), exp};
}

TExtended Multiply(std::uint8_t v, TExtended c) {
    return Normalize(TUInt128(v) * c.Mant, c.Exp);
}

TExtended Add(TExtended a, TExtended b) {
    if (a.Mant == 0)
        return b;
    if (b.Mant == 0)
        return a;
    if (a.Exp < b.Exp)
        std::swap(a, b);
    // The operands are within a few octaves of each other, so the exact sum fits.
    int shift = a.Exp - b.Exp;
    return Normalize((TUInt128(a.Mant) << shift) + b.Mant, b.Exp);
}

// Rounds a value of at most 255.5 to the nearest integer, ties to even.
std::uint8_t RoundToEven(TExtended s) {
    if (s.Mant == 0)
        return 0;
    int shift = -s.Exp; // positive: the value is below 2^64
    if (shift > 126)
        return 0;
    TUInt128 m = s.Mant;
    TUInt128 kept = m >> shift;
    TUInt128 rest = m & ((TUInt128(1) << shift) - 1);
    TUInt128 half = TUInt128(1) << (shift - 1);
    if (rest > half || (rest == half && (kept & 1) != 0))
        ++kept;
    return static_cast<std::uint8_t>(kept);
}

std::uint8_t EmulatedMix(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    // The extended values nearest to 0.3, 0.59 and 0.11.
    constexpr TExtended k03{0x999999999999999AULL, -2 - 63};
    constexpr TExtended k059{0x970A3D70A3D70A3DULL, -1 - 63};
    constexpr TExtended k011{0xE147AE147AE147AEULL, -4 - 63};
    return RoundToEven(Add(Add(Multiply(r, k03), Multiply(g, k059)), Multiply(b, k011)));
}

// Without AVX2, and for the last pixels of a row, a row is converted in two passes:
// a branch-free one that rounds every pixel's decimal mix (halves up) and marks
// the halfway ones, which the compiler vectorises, and one that gives the marked
// pixels their exact value.
// q = floor((n + 50) / 100): 41944 / 2^22 is 1/100 within 2.3e-9, which for
// n + 50 ≤ 25550 never moves the quotient across a whole number.
KELVARON_VECTOR_CLONES
void RoundedMixRow(const std::uint8_t* __restrict rgbx, std::uint8_t* __restrict out,
                   std::uint8_t* __restrict halfway, std::int32_t width) {
    for (std::int32_t c = 0; c < width; ++c) {
        const std::uint16_t n = static_cast<std::uint16_t>(
            30u * rgbx[4 * c] + 59u * rgbx[4 * c + 1] + 11u * rgbx[4 * c + 2]);
        const std::uint16_t m = static_cast<std::uint16_t>(n + 50);
        const auto high = static_cast<std::uint16_t>((std::uint32_t(m) * 41944u) >> 16);
        const auto q = static_cast<std::uint16_t>(high >> 6);
        out[c] = static_cast<std::uint8_t>(q);
        halfway[c] = static_cast<std::uint8_t>(m == q * 100 ? 1 : 0);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The whole grey row with AVX2 by hand, sixteen pixels at a time: one multiply-add
// of the bytes with the weights 30, 59, 11, 0 gives each pixel's mix in two halves,
// a second adds them. The rare halfway pixels of a group are given their exact
// value at once, so the marks need no second pass.
__attribute__((target("avx2"))) std::int32_t GreyRowAvx2(const std::uint8_t* rgbx,
                                                         std::uint8_t* out, std::int32_t width) {
    const __m256i weights = _mm256_set1_epi32(0x000B3B1E); // bytes 30, 59, 11, 0
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i fifty = _mm256_set1_epi16(50);
    const __m256i reciprocal = _mm256_set1_epi16(static_cast<short>(41944));
    const __m256i hundred = _mm256_set1_epi16(100);
    std::int32_t c = 0;
    for (; c + 16 <= width; c += 16) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgbx + 4 * c));
        const __m256i second =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgbx + 4 * c + 32));
        const __m256i n0 = _mm256_madd_epi16(_mm256_maddubs_epi16(first, weights), ones);
        const __m256i n1 = _mm256_madd_epi16(_mm256_maddubs_epi16(second, weights), ones);
        // Sixteen mixes in pixel order (packing works within each 128-bit half).
        const __m256i n = _mm256_permute4x64_epi64(_mm256_packs_epi32(n0, n1), 0xD8);
        const __m256i m = _mm256_add_epi16(n, fifty);
        const __m256i q = _mm256_srli_epi16(_mm256_mulhi_epu16(m, reciprocal), 6);
        const __m256i bytes = _mm256_packus_epi16(q, q); // each half: its eight values twice
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c),
                         _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0x08)));
        // Two mask bits per pixel whose mix ends in exactly .50.
        auto halfway = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi16(_mm256_mullo_epi16(q, hundred), m)));
        while (halfway != 0) {
            const std::int32_t k = c + __builtin_ctz(halfway) / 2;
            out[k] = grey_detail::HalfwayNative(rgbx[4 * k], rgbx[4 * k + 1], rgbx[4 * k + 2]);
            halfway &= ~(3u << (2 * (k - c)));
        }
    }
    return c; // the pixels left over are the caller's
}
#endif

KELVARON_VECTOR_CLONES
void ChannelRowImpl(const std::uint8_t* __restrict rgbx, std::uint8_t* __restrict out,
                    std::int32_t width, int channel) {
    for (std::int32_t c = 0; c < width; ++c)
        out[c] = rgbx[4 * c + channel];
}

} // namespace

namespace grey_detail {

std::uint8_t HalfwayNative(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if constexpr (LDBL_MANT_DIG != 64) {
        return EmulatedMix(red, green, blue);
    } else {
        const long double s = (red * 0.3L + green * 0.59L) + blue * 0.11L;
        return static_cast<std::uint8_t>(std::nearbyint(s));
    }
}

std::uint8_t HalfwayEmulated(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return EmulatedMix(red, green, blue);
}

} // namespace grey_detail

std::uint8_t GreyValue(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    const unsigned n = 30u * red + 59u * green + 11u * blue; // 100 × the decimal mix
    const unsigned hundredths = n % 100;
    if (hundredths != 50)
        return static_cast<std::uint8_t>(n / 100 + (hundredths > 50 ? 1 : 0));
    return grey_detail::HalfwayNative(red, green, blue);
}

std::uint8_t GreyValue(const TPixelTriple& pixel) {
    return GreyValue(pixel.Red, pixel.Green, pixel.Blue);
}

KELVARON_VECTOR_CLONES
void GreyToBgr(const std::uint8_t* __restrict values, std::uint8_t* __restrict out,
               std::int32_t width) {
    for (std::int32_t col = 0; col < width; ++col) {
        out[3 * col] = values[col];
        out[3 * col + 1] = values[col];
        out[3 * col + 2] = values[col];
    }
}

void ChannelRow(const std::uint8_t* rgbx, std::uint8_t* out, std::int32_t width, int channel) {
    ChannelRowImpl(rgbx, out, width, channel);
}

void GreyRow(const std::uint8_t* rgbx, std::uint8_t* out, std::int32_t width) {
    std::int32_t done = 0;
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool haveAvx2 = __builtin_cpu_supports("avx2");
    if (haveAvx2)
        done = GreyRowAvx2(rgbx, out, width);
#endif
    if (done == width)
        return;
    rgbx += 4 * done;
    out += done;
    width -= done;
    thread_local std::vector<std::uint8_t> halfway;
    halfway.resize(std::size_t(width) + 8); // room for the word-wise scan below
    RoundedMixRow(rgbx, out, halfway.data(), width);
    // Halfway pixels are rare: skip eight marks at a time while they are all clear.
    for (std::int32_t c = 0; c < width; c += 8) {
        std::uint64_t word;
        std::memcpy(&word, halfway.data() + c, sizeof word);
        if (word == 0)
            continue;
        for (std::int32_t k = c; k < std::min(c + 8, width); ++k)
            if (halfway[std::size_t(k)] != 0)
                out[k] = grey_detail::HalfwayNative(rgbx[4 * k], rgbx[4 * k + 1], rgbx[4 * k + 2]);
    }
}
