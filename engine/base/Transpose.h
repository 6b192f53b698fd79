#pragma once
// Turning blocks of bytes between row order and column order: a picture-set file
// holds its plane column after column, the plane in memory is row after row.

#include <cstddef>
#include <cstdint>

/// Copies a block of `lines` lines of `length` bytes, line i starting at
/// in + i × inStride, into `length` lines of `lines` bytes, line j starting at
/// out + j × outStride: out[j × outStride + i] = in[i × inStride + j]. The block
/// is walked in small square tiles, so that both sides stay in the cache however
/// far apart their lines lie. The two blocks must not overlap.
void TransposeBytes(const std::uint8_t* in, std::size_t inStride, std::size_t lines,
                    std::size_t length, std::uint8_t* out, std::size_t outStride);
