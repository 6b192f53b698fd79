#include "decode/CodeMatrix.h"

#include "base/Errors.h"
#include "base/Limits.h"
#include "base/Text.h"
#include "image/PixelAccess.h"

#include <new>
#include <stdexcept>

namespace {

constexpr std::uint32_t kRed = 0xFF0000;

} // namespace

void TCode::Reshape(std::int32_t rows, std::int32_t cols, bool clear) {
    if (!IsPictureSize(cols, rows))
        throw std::invalid_argument("a code matrix of " + SizeText(cols, rows) +
                                    " pixels is not possible");
    try {
        if (clear)
            Data.Resize(rows, cols);
        else
            Data.ResizeForOverwrite(rows, cols);
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory("the code matrix of " + SizeText(cols, rows) + " pixels",
                         std::uint64_t(rows) * std::uint64_t(cols) * sizeof(std::int32_t));
    }
    Height = rows;
    Width = cols;
}

void TCode::Resize(std::int32_t rows, std::int32_t cols) {
    Reshape(rows, cols, true);
}

void TCode::ResizeForOverwrite(std::int32_t rows, std::int32_t cols) {
    Reshape(rows, cols, false);
}

void TCode::SetCode(std::int32_t row, std::int32_t col, std::int32_t value) {
    if (Inside(row, col))
        Data[row][col] = value;
}

std::int32_t TCode::GetCode(std::int32_t row, std::int32_t col) const {
    return Inside(row, col) ? Data[row][col] : 0;
}

void TCode::ShowCodes(TBitmap& bitmap) const {
    TBitmapPixMan pixels(bitmap);
    for (std::int32_t row = 0; row < Height; ++row) {
        const std::int32_t* codes = Data[row];
        for (std::int32_t col = 0; col < Width; ++col)
            if (codes[col] != 0)
                pixels.SetPixel(row, col, kRed);
    }
}
