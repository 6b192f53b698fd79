// The evaluator: loading, thresholds, the code matrix and the evaluation run.

#include "EvalRows.h"
#include "FileUtil.h"
#include "Parallel.h"
#include "PicHolder.h"
#include "Vectorize.h"

#include <algorithm>
#include <chrono>

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
    if (Width == 0 || Height == 0)
        return fail("The pictures hold no pixels.");
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

namespace {

// The codes of one row. Bit l comes from plane l + 2; both sides of each comparison
// are whole numbers, so comparing them as integers gives what comparing them as
// floating-point numbers would.
KELVARON_VECTOR_CLONES
void CodeRow(const std::int16_t* __restrict threshold, const std::uint8_t* const* codePlanes,
             std::int32_t* __restrict out, std::int32_t width) {
    const std::uint8_t* __restrict p[15];
    for (int l = 0; l < 15; ++l)
        p[l] = codePlanes[l];
    for (std::int32_t col = 0; col < width; ++col) {
        const int t = threshold[col];
        int code = 0;
        int bit = 1; // a running bit: "1 << l" here is miscompiled by g++ 12 under -fsanitize
        for (int l = 0; l < 15; ++l, bit <<= 1)
            code |= p[l][col] > t ? bit : 0;
        out[col] = (code & 1) != 0 ? code : 0; // only odd codes are kept
    }
}

} // namespace

void TPicEval::CalcMatrix() {
    if (!IsStackComplete()) {
        CodeMatrix.Resize(Height, Width); // all 0
        return;
    }
    CodeMatrix.ResizeForOverwrite(Height, Width); // every code is set below
    const int threads = ThreadsFor(Threads);
    ForEachBand(Height, threads, threads, [&](int, std::int32_t begin, std::int32_t end) {
        TThresholdRows thresholds(*this);
        const std::uint8_t* codePlanes[15];
        for (std::int32_t row = begin; row < end; ++row) {
            for (int l = 0; l < 15; ++l)
                codePlanes[l] = Pics.Planes[std::size_t(l) + 2].Data[row];
            CodeRow(thresholds.Row(row), codePlanes, CodeMatrix.Data[row], Width);
        }
    });
}

namespace {

// Seconds between laps.
class TStopwatch {
public:
    double Lap() {
        const auto now = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(now - last_).count();
        last_ = now;
        return seconds;
    }

private:
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

} // namespace

void TPicEval::Evaluate(const std::string& fileName, bool withBitmap, TBitmap& display) {
    auto stageDone = [this](int stages) {
        if (Progress)
            Progress(stages);
    };
    Timings = TEvalTimings{};
    TStopwatch watch;
    CalcMatrix();
    Timings.Matrix = watch.Lap();
    stageDone(1);
    Points.Reset();
    Points.AddCodeMatrix(CodeMatrix, Threads);
    Points.Trim();
    Points.CalcCentres();
    Timings.Points = watch.Lap();
    stageDone(2);
    Points.WritePoints(fileName);
    stageDone(3);
    MarkPoints(display);
    stageDone(4);
    if (withBitmap)
        SaveMarkedDisplay(fileName, display);
    Timings.Files = watch.Lap();
    stageDone(5);
}

void TPicEval::SaveMarkedDisplay(const std::string& fileName, const TBitmap& display) const {
    // A display of the stack's size and format, all of it covered by plane 2, holds
    // exactly the picture SavePointBitmap would build afresh once it is marked.
    const bool sameAsFresh = display.PixelFormat() == TPixelFormat::pf24bit &&
                             display.Width() == Width && display.Height() == Height &&
                             Pics.Count() > 2 && Pics.Planes[2].Width == Width &&
                             Pics.Planes[2].Height == Height;
    if (sameAsFresh)
        display.SaveToFile(ChangeFileExt(fileName, ".bmp"));
    else
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
