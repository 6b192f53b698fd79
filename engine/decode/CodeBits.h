#pragma once
// Rows as one bit per pixel: whether each pixel of a code picture lies above the
// threshold a lit dot would give it, and whether each pixel lies on a lit dot.

#include <cstdint>

/// Bit k of bits[b] (pixel 8·b + k, the leftmost in bit 0) tells whether
/// values[col] + tolerance > lit[col], for the width pixels of a row; the unused
/// high bits of a last, partial byte are 0. tolerance 0 … 255.
void FoldRow(const std::uint8_t* values, const std::uint8_t* lit, std::uint8_t* bits,
             std::int32_t width, int tolerance);

/// Bit k of bits[b] (pixel 8·b + k) tells whether lit[col] − dark[col] > minDif
/// (OnLitDot), for the width pixels of a row; the unused high bits of a last,
/// partial byte are 0. minDif 0 … 255.
void DotRow(const std::uint8_t* dark, const std::uint8_t* lit, std::uint8_t* bits,
            std::int32_t width, int minDif);
