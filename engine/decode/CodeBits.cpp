#include "decode/CodeBits.h"

#include "base/Vectorize.h"
#include "decode/CodeRule.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

// Bit k of bits[b] set to test(8·b + k), for the columns from first (a multiple of
// 8) to width.
template <class F>
void PackFrom(std::uint8_t* bits, std::int32_t first, std::int32_t width, F&& test) {
    for (std::int32_t byte = first / 8; 8 * byte < width; ++byte) {
        unsigned packed = 0;
        for (std::int32_t col = 8 * byte, k = 0; k < 8 && col < width; ++col, ++k)
            packed |= unsigned(test(col)) << k;
        bits[byte] = std::uint8_t(packed);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Thirty-two pixels at a time: lit − dark, 0 where dark is the higher, exceeds
// minDif exactly when it reaches minDif + 1, which a byte holds below 255.
__attribute__((target("avx2"))) std::int32_t DotRowAvx2(const std::uint8_t* dark,
                                                        const std::uint8_t* lit, std::uint8_t* bits,
                                                        std::int32_t width, int minDif) {
    if (minDif > 254)
        return 0;
    const __m256i least = _mm256_set1_epi8(static_cast<char>(minDif + 1));
    std::int32_t col = 0;
    for (; col + 32 <= width; col += 32) {
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dark + col));
        const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lit + col));
        const __m256i contrast = _mm256_subs_epu8(l, d);
        const __m256i on = _mm256_cmpeq_epi8(_mm256_max_epu8(contrast, least), contrast);
        const auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(on));
        std::memcpy(bits + col / 8, &mask, sizeof mask);
    }
    return col;
}

// Thirty-two pixels at a time: for a tolerance of at least 1, a pixel lies above
// exactly when lit − value, 0 where the value is the higher, stays below the
// tolerance; one byte mask then holds the row's four bytes of bits in order.
// Returns the pixels done, a multiple of 32; the rest are the caller's.
__attribute__((target("avx2"))) std::int32_t FoldRowAvx2(const std::uint8_t* values,
                                                         const std::uint8_t* lit,
                                                         std::uint8_t* bits, std::int32_t width,
                                                         int tolerance) {
    if (tolerance < 1)
        return 0;
    const __m256i limit = _mm256_set1_epi8(static_cast<char>(tolerance - 1));
    std::int32_t col = 0;
    for (; col + 32 <= width; col += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + col));
        const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lit + col));
        const __m256i below = _mm256_subs_epu8(l, v);
        const __m256i above = _mm256_cmpeq_epi8(_mm256_min_epu8(below, limit), below);
        const auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(above));
        std::memcpy(bits + col / 8, &mask, sizeof mask); // little-endian: pixel order
    }
    return col;
}
#else
std::int32_t DotRowAvx2(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::int32_t,
                        int) {
    return 0;
}
std::int32_t FoldRowAvx2(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::int32_t,
                         int) {
    return 0;
}
#endif

// Whether the processor runs the AVX2 kernels.
bool UseAvx2() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
#else
    return false;
#endif
}

// Bit k of a byte spread to bit 0 of byte k, for every byte.
constexpr std::array<std::uint64_t, 256> kSpread = [] {
    std::array<std::uint64_t, 256> spread{};
    for (unsigned b = 0; b < 256; ++b)
        for (unsigned k = 0; k < 8; ++k)
            spread[b] |= std::uint64_t((b >> k) & 1) << (8 * k);
    return spread;
}();

KELVARON_VECTOR_CLONES
bool RowHasDotLoop(const std::uint8_t* __restrict dark, const std::uint8_t* __restrict lit,
                   std::int32_t width, int minDif) {
    int any = 0;
    for (std::int32_t col = 0; col < width; ++col)
        any |= OnLitDot(dark[col], lit[col], minDif) ? 1 : 0;
    return any != 0;
}

} // namespace

void FoldRow(const std::uint8_t* values, const std::uint8_t* lit, std::uint8_t* bits,
             std::int32_t width, int tolerance) {
    const std::int32_t done = UseAvx2() ? FoldRowAvx2(values, lit, bits, width, tolerance) : 0;
    PackFrom(bits, done, width,
             [&](std::int32_t col) { return FoldedBit(values[col], lit[col], tolerance); });
}

void DotRow(const std::uint8_t* dark, const std::uint8_t* lit, std::uint8_t* bits,
            std::int32_t width, int minDif) {
    const std::int32_t done = UseAvx2() ? DotRowAvx2(dark, lit, bits, width, minDif) : 0;
    PackFrom(bits, done, width,
             [&](std::int32_t col) { return OnLitDot(dark[col], lit[col], minDif); });
}

bool RowHasDot(const std::uint8_t* dark, const std::uint8_t* lit, std::int32_t width, int minDif) {
    return RowHasDotLoop(dark, lit, width, minDif);
}

void BitRowRuns(const std::uint8_t* dots, const std::uint8_t* const* bits, std::int32_t width,
                std::vector<TCodeRun>& runs) {
    runs.clear();
    std::int32_t open = 0, openBegin = 0; // the code of the run that goes on, 0 for none
    auto close = [&](std::int32_t end) {
        if (open != 0)
            runs.push_back({openBegin, end, open});
        open = 0;
    };
    for (std::int32_t first = 0; first < width; first += 8) {
        const unsigned lit = dots[first / 8];
        if (lit == 0) {
            close(first);
            continue;
        }
        // Byte k of low holds bits 0 … 7 of pixel k's code, byte k of high bits 8 … 14;
        // bit 0, plane 2 above its own threshold, is set on every lit pixel.
        const std::size_t byte = std::size_t(first) >> 3;
        std::uint64_t low = kSpread[0xFF];
        std::uint64_t high = 0;
        for (std::int32_t p = 0; p < 7; ++p)
            low |= kSpread[bits[p][byte]] << (p + 1);
        for (std::int32_t p = 7; p < kBitRowPictures; ++p)
            high |= kSpread[bits[p][byte]] << (p - 7);
        const std::int32_t count = std::min(8, width - first);
        for (std::int32_t k = 0; k < count; ++k) {
            const std::int32_t code = (lit >> k & 1) != 0
                                          ? std::int32_t((low >> (8 * k)) & 0xFF) |
                                                std::int32_t((high >> (8 * k)) & 0xFF) << 8
                                          : 0;
            if (code == open)
                continue;
            close(first + k);
            open = code;
            openBegin = first + k;
        }
    }
    close(width);
}
