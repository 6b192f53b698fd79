#pragma once
// Rows as one bit per pixel: whether each pixel of a code picture lies above the
// threshold a lit dot would give it, and whether each pixel lies on a lit dot; and
// the codes of a row made from those bits.

#include "decode/CodeRuns.h"

#include <cstdint>
#include <vector>

/// Bit k of bits[b] (pixel 8·b + k, the leftmost in bit 0) tells whether
/// values[col] + tolerance > lit[col] (FoldedBit), for the width pixels of a row; the unused
/// high bits of a last, partial byte are 0. tolerance 0 … 255.
void FoldRow(const std::uint8_t* values, const std::uint8_t* lit, std::uint8_t* bits,
             std::int32_t width, int tolerance);

/// Bit k of bits[b] (pixel 8·b + k) tells whether lit[col] − dark[col] > minDif
/// (OnLitDot), for the width pixels of a row; the unused high bits of a last,
/// partial byte are 0. minDif 0 … 255.
void DotRow(const std::uint8_t* dark, const std::uint8_t* lit, std::uint8_t* bits,
            std::int32_t width, int minDif);

/// Whether any of the width pixels of a row lies on a lit dot (OnLitDot).
bool RowHasDot(const std::uint8_t* dark, const std::uint8_t* lit, std::int32_t width, int minDif);

/// The code pictures whose bits BitRowRuns reads: pictures 3 … 16.
inline constexpr std::int32_t kBitRowPictures = 14;

/// The runs of the codes of one row, as the codes of the whole stack give them
/// (ForEachCodeRun), into runs: dots holds the row's bits of the pixels on a lit dot
/// (DotRow), bits[p] its bits of code picture p + 3 (FoldRow). Eight pixels at a
/// time: their bits of each code picture, one byte, are spread over the eight codes
/// at once.
void BitRowRuns(const std::uint8_t* dots, const std::uint8_t* const* bits, std::int32_t width,
                std::vector<TCodeRun>& runs);
