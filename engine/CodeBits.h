#pragma once
// A code picture's row as one bit per pixel: whether each pixel lies above the
// threshold a lit dot would give it.

#include <cstdint>

/// Bit k of bits[b] (pixel 8·b + k, the leftmost in bit 0) tells whether
/// values[col] + tolerance > lit[col], for the width pixels of a row; the unused
/// high bits of a last, partial byte are 0. tolerance 0 … 255.
void FoldRow(const std::uint8_t* values, const std::uint8_t* lit, std::uint8_t* bits,
             std::int32_t width, int tolerance);
