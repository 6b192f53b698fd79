#pragma once
// Pixel accessor: reads and writes single pixels of a 24-bit image by row and
// column, checking row, column and pixel format on every access.

#include "image/Bitmap.h"
#include "image/Pixel.h"

#include <algorithm>
#include <cstdint>
#include <vector>

/// A short-lived accessor over one image: create it directly before a loop over the
/// pixels and drop it directly after, with no change to the image's size or format
/// in between. Row addresses are taken once, at creation; height, width and
/// format are asked of the image on every access. Accesses outside the image, or
/// to an image that is not 24 bits per pixel, fail quietly.
class TBitmapPixMan {
public:
    explicit TBitmapPixMan(TBitmap& bitmap) { Attach(bitmap); }
    TBitmapPixMan(const TBitmapPixMan&) = delete;
    TBitmapPixMan& operator=(const TBitmapPixMan&) = delete;

    /// Writes colour value 0xRRGGBB (the top byte is ignored) into pixel (row, col):
    /// blue to byte 0, green to byte 1, red to byte 2. False, writing nothing, when
    /// the pixel lies outside the image or the image is not 24 bits per pixel.
    bool SetPixel(std::int32_t row, std::int32_t col, std::uint32_t value) {
        if (!RowOk(row) || !ColOk(col) || !Is24Bit())
            return false;
        std::uint8_t* p = Rows[row] + 3 * std::size_t(col);
        p[0] = static_cast<std::uint8_t>(value);
        p[1] = static_cast<std::uint8_t>(value >> 8);
        p[2] = static_cast<std::uint8_t>(value >> 16);
        return true;
    }

    /// Reads pixel (row, col). Outside the image, or on an image that is not 24 bits
    /// per pixel, ok is false and pixel is (0, 0, 0); both are always written.
    void GetPixel(std::int32_t row, std::int32_t col, bool& ok, TPixelTriple& pixel) const {
        ok = RowOk(row) && ColOk(col) && Is24Bit();
        if (!ok) {
            pixel = TPixelTriple{};
            return;
        }
        const std::uint8_t* p = Rows[row] + 3 * std::size_t(col);
        pixel = TPixelTriple{p[0], p[1], p[2]};
    }

    /// Writes the colours colourOf(0) … colourOf(count − 1) into pixels (row, 0) …
    /// (row, count − 1), exactly as that many SetPixel calls would: pixels outside the
    /// image, and every pixel of an image that is not 24 bits per pixel, are skipped.
    template <class TColourOf>
    void SetRow(std::int32_t row, std::int32_t count, TColourOf colourOf) {
        if (!RowOk(row) || !Is24Bit())
            return;
        const std::int32_t inside = std::min(count, Bitmap->Width());
        std::uint8_t* p = Rows[row];
        for (std::int32_t col = 0; col < inside; ++col, p += 3) {
            const std::uint32_t value = colourOf(col);
            p[0] = static_cast<std::uint8_t>(value);
            p[1] = static_cast<std::uint8_t>(value >> 8);
            p[2] = static_cast<std::uint8_t>(value >> 16);
        }
    }

    /// SetRow with the grey colours v × 0x010101 of values[0 … count − 1].
    void SetGreyRow(std::int32_t row, const std::uint8_t* values, std::int32_t count);

    bool RowOk(std::int32_t row) const { return InRange(row, Bitmap->Height() - 1); }
    bool ColOk(std::int32_t col) const { return InRange(col, Bitmap->Width() - 1); }

    /// 0 ≤ value ≤ max; with max = −1 nothing is in range.
    static bool InRange(std::int32_t value, std::int32_t max) { return 0 <= value && value <= max; }

private:
    void Attach(TBitmap& bitmap);
    bool Is24Bit() const { return Bitmap->PixelFormat() == TPixelFormat::pf24bit; }

    TBitmap* Bitmap = nullptr;
    std::vector<std::uint8_t*> Rows;
};
