#include "TBMPpix.h"

void TBitmapPixMan::Attach(TBitmap& bitmap) {
    Bitmap = &bitmap;
    Rows.resize(static_cast<std::size_t>(bitmap.Height()));
    for (std::int32_t r = 0; r < bitmap.Height(); ++r)
        Rows[r] = bitmap.ScanLine(r);
}
