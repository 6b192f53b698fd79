#include "image/PixelAccess.h"

#include "image/GreyMix.h"

void TBitmapPixMan::Attach(TBitmap& bitmap) {
    Bitmap = &bitmap;
    Rows.resize(static_cast<std::size_t>(bitmap.Height()));
    for (std::int32_t r = 0; r < bitmap.Height(); ++r)
        Rows[r] = bitmap.ScanLine(r);
}

void TBitmapPixMan::SetGreyRow(std::int32_t row, const std::uint8_t* values, std::int32_t count) {
    if (!RowOk(row) || !Is24Bit())
        return;
    GreyToBgr(values, Rows[row], std::min(count, Bitmap->Width()));
}
