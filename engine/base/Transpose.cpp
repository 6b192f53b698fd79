#include "base/Transpose.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Side of the blocks that are turned in registers.
constexpr std::size_t kBlock = 16;
// Side of the tiles the block is walked in: 64 lines of 64 bytes on either side,
// one cache line per line, 8 KiB in all.
constexpr std::size_t kTile = 64;

// Turns any block byte by byte; for the edges that do not fill a whole kBlock.
void TransposeSmall(const std::uint8_t* in, std::size_t inStride, std::size_t lines,
                    std::size_t length, std::uint8_t* out, std::size_t outStride) {
    for (std::size_t i = 0; i < lines; ++i) {
        const std::uint8_t* line = in + i * inStride;
        for (std::size_t j = 0; j < length; ++j)
            out[j * outStride + i] = line[j];
    }
}

// Turns one kBlock × kBlock block.
#if defined(__SSE2__)
inline void TransposeBlock(const std::uint8_t* in, std::size_t inStride, std::uint8_t* out,
                           std::size_t outStride) {
    // Four rounds of interleaving line i with line i + 8, byte by byte, leave
    // line j holding byte j of every line in order.
    __m128i x[kBlock];
    for (std::size_t i = 0; i < kBlock; ++i)
        x[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i * inStride));
    for (int round = 0; round < 4; ++round) {
        __m128i y[kBlock];
        for (std::size_t i = 0; i < kBlock / 2; ++i) {
            y[2 * i] = _mm_unpacklo_epi8(x[i], x[i + kBlock / 2]);
            y[2 * i + 1] = _mm_unpackhi_epi8(x[i], x[i + kBlock / 2]);
        }
        std::copy(y, y + kBlock, x);
    }
    for (std::size_t j = 0; j < kBlock; ++j)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j * outStride), x[j]);
}
#else
inline void TransposeBlock(const std::uint8_t* in, std::size_t inStride, std::uint8_t* out,
                           std::size_t outStride) {
    TransposeSmall(in, inStride, kBlock, kBlock, out, outStride);
}
#endif

// Turns one tile of at most kTile × kTile: whole blocks, then the edges.
void TransposeTile(const std::uint8_t* in, std::size_t inStride, std::size_t lines,
                   std::size_t length, std::uint8_t* out, std::size_t outStride) {
    const std::size_t wholeLines = lines - lines % kBlock;
    const std::size_t wholeLength = length - length % kBlock;
    for (std::size_t i = 0; i < wholeLines; i += kBlock) {
        for (std::size_t j = 0; j < wholeLength; j += kBlock)
            TransposeBlock(in + i * inStride + j, inStride, out + j * outStride + i, outStride);
        TransposeSmall(in + i * inStride + wholeLength, inStride, kBlock, length - wholeLength,
                       out + wholeLength * outStride + i, outStride);
    }
    TransposeSmall(in + wholeLines * inStride, inStride, lines - wholeLines, length,
                   out + wholeLines, outStride);
}

} // namespace

void TransposeBytes(const std::uint8_t* in, std::size_t inStride, std::size_t lines,
                    std::size_t length, std::uint8_t* out, std::size_t outStride) {
    // Tile by tile along the lines of in: each of its lines is read front to back,
    // and each line of out gets one whole tile's width at a time.
    for (std::size_t i = 0; i < lines; i += kTile) {
        const std::size_t tileLines = std::min(kTile, lines - i);
        for (std::size_t j = 0; j < length; j += kTile)
            TransposeTile(in + i * inStride + j, inStride, tileLines, std::min(kTile, length - j),
                          out + j * outStride + i, outStride);
    }
}
