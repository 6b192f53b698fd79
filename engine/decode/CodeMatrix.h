#pragma once
// The code matrix: the code of every pixel of the stack.

#include "base/Grid.h"
#include "image/Bitmap.h"

#include <cstdint>

/// The code of every pixel: 0 (no code) or an odd number from 1 to 32767, whose bit
/// l is set when plane l + 2 lies above the pixel's threshold.
class TCode {
public:
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    TGrid<std::int32_t> Data; ///< Data[row][column]

    /// Height := rows, Width := cols, every code 0 (also when the size is unchanged).
    void Resize(std::int32_t rows, std::int32_t cols);
    /// Height := rows, Width := cols, codes unspecified: for a caller that sets them all.
    void ResizeForOverwrite(std::int32_t rows, std::int32_t cols);
    /// Stores value at (row, col); does nothing outside the matrix.
    void SetCode(std::int32_t row, std::int32_t col, std::int32_t value);
    /// The code at (row, col); 0 outside the matrix.
    std::int32_t GetCode(std::int32_t row, std::int32_t col) const;
    /// Paints every pixel that holds a code red (0xFF0000) over what the bitmap shows,
    /// over the matrix's own size; pixels without a code keep their colour.
    void ShowCodes(TBitmap& bitmap) const;

private:
    // Resize (clear) or ResizeForOverwrite; raises std::invalid_argument for an
    // impossible size and EOutOfMemory when the memory cannot be had.
    void Reshape(std::int32_t rows, std::int32_t cols, bool clear);
    bool Inside(std::int32_t row, std::int32_t col) const {
        return row >= 0 && row < Height && col >= 0 && col < Width;
    }
};

/// Whether the eight codes from codes on are all 0: most pixels lie on no dot, and
/// the scans of a matrix pass over them eight at a time.
inline bool AllZero8(const std::int32_t* codes) {
    std::int32_t any = 0;
    for (int i = 0; i < 8; ++i)
        any |= codes[i];
    return any == 0;
}
