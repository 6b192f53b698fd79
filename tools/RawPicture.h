#pragma once
// A picture's shape and raw samples as the PNG and TIFF writers take them, whole or
// made row by row on demand. Every kind of picture a reader has to take or to refuse
// can be described, its samples exactly as given, so that a reader's results can be
// checked against known values.

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

/// The size and sample layout of a picture, without its samples.
struct TPictureShape {
    int Width = 0, Height = 0;
    /// Samples a pixel. PNG: 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA, 1 for a palette
    /// index. TIFF: the colour samples and then TTiffWriteOptions::ExtraSamples more.
    int Samples = 1;
    int Bits = 8; ///< bits a sample as stored: PNG 1, 2, 4, 8 or 16; TIFF 1 … 32
    /// Palette pictures only: red, green and blue of each entry. PNG: 0 … 255, 1 to
    /// 2^Bits entries. TIFF colour map: 0 … 65535, at most 2^Bits entries (Bits ≤ 16),
    /// those missing written black. Indexes beyond the palette are written as given.
    std::vector<std::array<std::uint16_t, 3>> Palette;
};

/// A picture's raw samples: row after row from the top, pixel after pixel from the
/// left, sample after sample.
struct TRawPicture : TPictureShape {
    /// Width × Height × Samples values, each below 2^Bits. A float TIFF's values are
    /// the bit patterns of its floats, a signed TIFF's the two's complement in Bits bits.
    std::vector<std::uint32_t> Values;
};

/// Fills rowCount rows from firstRow on, Width × Samples values each as in
/// TRawPicture::Values, into samples. Called for the bands from the top down, and
/// again for each pass of an interlaced PNG, so that it must give the same values
/// each time. May raise; the writing is then abandoned, nothing is put in place, and
/// the exception is passed on to the caller.
using TSampleRowSource = std::function<void(int firstRow, int rowCount, std::uint32_t* samples)>;
