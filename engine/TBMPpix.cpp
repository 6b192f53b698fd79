#include "TBMPpix.h"

#include "Vectorize.h"

void TBitmapPixMan::Attach(TBitmap& bitmap) {
    Bitmap = &bitmap;
    Rows.resize(static_cast<std::size_t>(bitmap.Height()));
    for (std::int32_t r = 0; r < bitmap.Height(); ++r)
        Rows[r] = bitmap.ScanLine(r);
}

namespace {

KELVARON_VECTOR_CLONES
void GreyPixels(const std::uint8_t* __restrict values, std::uint8_t* __restrict out,
                std::int32_t count) {
    for (std::int32_t col = 0; col < count; ++col) {
        out[3 * col] = values[col];
        out[3 * col + 1] = values[col];
        out[3 * col + 2] = values[col];
    }
}

} // namespace

void TBitmapPixMan::SetGreyRow(std::int32_t row, const std::uint8_t* values, std::int32_t count) {
    if (!RowOk(row) || !Is24Bit())
        return;
    GreyPixels(values, Rows[row], std::min(count, Bitmap->Width()));
}
