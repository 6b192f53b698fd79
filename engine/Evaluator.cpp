// The evaluator: loading, thresholds, the code matrix and the evaluation run.

#include "EvalRows.h"
#include "FileUtil.h"
#include "PicHolder.h"

#include <algorithm>

bool TPicEval::LoadPictures(const std::string& fileName, bool namesOnly, std::uint8_t channel,
                            const TLoadOptions& options) {
    if (!Pics.LoadFromList(fileName, namesOnly, channel, options))
        return false;
    return Pics.CheckSize(Height, Width);
}

bool TPicEval::IsStackComplete(std::string* reason) const {
    auto fail = [reason](std::string why) {
        if (reason)
            *reason = std::move(why);
        return false;
    };
    auto size = [](std::int32_t width, std::int32_t height) {
        return std::to_string(width) + " x " + std::to_string(height) + " pixels";
    };
    if (Pics.Count() != kStackPlanes)
        return fail("The stack holds " + std::to_string(Pics.Count()) + " pictures; " +
                    std::to_string(kStackPlanes) + " are needed.");
    const TPic& first = Pics.Planes[0];
    for (std::int32_t i = 1; i < kStackPlanes; ++i) {
        const TPic& plane = Pics.Planes[std::size_t(i)];
        if (plane.Width != first.Width || plane.Height != first.Height)
            return fail("Picture " + std::to_string(i) + " is " + size(plane.Width, plane.Height) +
                        ", picture 0 is " + size(first.Width, first.Height) + ".");
    }
    if (first.Width != Width || first.Height != Height)
        return fail("The pictures are " + size(first.Width, first.Height) +
                    ", but the evaluator works on " + size(Width, Height) + ".");
    if (reason)
        reason->clear();
    return true;
}

double TPicEval::Threshold(std::int32_t row, std::int32_t col) const {
    std::uint8_t p0 = 0, p2 = 0;
    const bool ok0 = Pics.TryGetValue(0, row, col, p0);
    const bool ok2 = Pics.TryGetValue(2, row, col, p2);
    if (ok0 && ok2 && int(p2) - int(p0) > int(MinDif))
        return int(p2) - int(Tolerance);
    return 256;
}

void TPicEval::CalcMatrix() {
    CodeMatrix.Resize(Height, Width);
    if (!IsStackComplete())
        return;
    TThresholdRows thresholds(*this);
    std::vector<std::int16_t> codes(static_cast<std::size_t>(Width));
    for (std::int32_t row = 0; row < Height; ++row) {
        const std::int16_t* threshold = thresholds.Row(row);
        std::fill(codes.begin(), codes.end(), std::int16_t(0));
        // Bit l comes from plane l + 2. Both sides are whole numbers, so comparing
        // them as integers gives what comparing them as floating-point numbers would.
        for (std::int32_t l = 0; l < 15; ++l) {
            const std::uint8_t* values = Pics.Planes[std::size_t(l) + 2].Data[row];
            const auto bit = static_cast<std::int16_t>(1 << l);
            for (std::int32_t col = 0; col < Width; ++col)
                codes[std::size_t(col)] |= values[col] > threshold[col] ? bit : std::int16_t(0);
        }
        std::int32_t* out = CodeMatrix.Data[row];
        for (std::int32_t col = 0; col < Width; ++col) {
            const std::int16_t code = codes[std::size_t(col)];
            out[col] = (code & 1) != 0 ? code : 0; // only odd codes are kept
        }
    }
}

void TPicEval::Evaluate(const std::string& fileName, bool withBitmap, TBitmap& display) {
    CalcMatrix();
    Points.Reset();
    Points.AddCodeMatrix(CodeMatrix);
    Points.Trim();
    Points.CalcCentres();
    Points.WritePoints(fileName);
    MarkPoints(display);
    if (withBitmap)
        SavePointBitmap(fileName);
}

void TPicEval::MarkPoints(TBitmap& display) const {
    Pics.ShowPicture(2, display);
    TBitmapPixMan pixels(display);
    for (std::int32_t i = 0; i < Points.EntryCount; ++i) {
        const TUniquePoint& point = Points.Entries[std::size_t(i)];
        pixels.SetPixel(RoundToPixel(point.Y), RoundToPixel(point.X), 0xFF0000);
    }
}

void TPicEval::SavePointBitmap(const std::string& fileName) const {
    TBitmap bitmap(Width, Height, TPixelFormat::pf24bit);
    MarkPoints(bitmap);
    bitmap.SaveToFile(ChangeFileExt(fileName, ".bmp"));
}
