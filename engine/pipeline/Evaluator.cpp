// The evaluator: loading, thresholds, the code matrix and the evaluation run.

#include "pipeline/Evaluator.h"

#include "base/Clock.h"
#include "base/Format.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "base/Vectorize.h"
#include "decode/ThresholdRows.h"
#include "files/FileUtil.h"
#include "image/PixelAccess.h"
#include "input/PicSet.h"
#include "output/EvalFiles.h"
#include "output/PointBitmap.h"
#include "refine/Refine.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

bool TPicEval::LoadPictures(const std::string& fileName, bool namesOnly, std::uint8_t channel,
                            const TLoadOptions& options) {
    if (!Pics.LoadFromList(fileName, namesOnly, channel, options))
        return false;
    return Pics.CheckSize(Height, Width);
}

TLoadOutcome TPicEval::LoadList(const std::string& fileName, std::uint8_t channel,
                                const TLoadOptions& options) {
    const std::uint64_t generation = Pics.Generation();
    try {
        return Outcome(LoadPictures(fileName, false, channel, options), generation, fileName);
    } catch (...) {
        return ErrorOutcome(std::current_exception(), Pics.Generation() != generation);
    }
}

TLoadOutcome ErrorOutcome(std::exception_ptr error, bool replaced) {
    TLoadOutcome outcome{false, replaced, "The pictures could not be loaded.", error};
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        outcome.Reason = e.what();
    } catch (...) {
    }
    return outcome;
}

TLoadOutcome TPicEval::LoadSet(const std::string& headerFileName, const std::string& baseFolder,
                               TLoadOptions options) {
    const std::uint64_t generation = Pics.Generation();
    options.BaseFolder = baseFolder;
    if (options.Threads == 0)
        options.Threads = Threads;
    const bool loaded = LoadPicSet(Pics, headerFileName, options);
    return Outcome(Pics.CheckSize(Height, Width) && loaded, generation, headerFileName);
}

TLoadOutcome TPicEval::Outcome(bool loaded, std::uint64_t generation,
                               const std::string& fileName) const {
    TLoadOutcome outcome;
    outcome.Replaced = Pics.Generation() != generation;
    if (!loaded && !Pics.LastError().empty()) {
        outcome.Reason = Pics.LastError();
        return outcome;
    }
    std::string problem;
    if (!IsStackComplete(&problem))
        outcome.Reason = QuotedName(fileName) + " does not give a complete stack: " + problem;
    else if (!loaded) // a failure without a reason: the stack is not what was asked for
        outcome.Reason = "The pictures could not be loaded.";
    outcome.Usable = outcome.Reason.empty();
    return outcome;
}

bool TPicEval::IsStackComplete(std::string* reason) const {
    auto fail = [reason](std::string why) {
        if (reason)
            *reason = std::move(why);
        return false;
    };
    auto size = [](std::int32_t width, std::int32_t height) {
        return SizeText(width, height) + " pixels";
    };
    if (Pics.Count() != kStackPlanes)
        return fail("The stack holds " + CountText(std::uint64_t(Pics.Count()), "picture") + "; " +
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

std::string TPicEval::SaveProblem(bool loaded) const {
    if (Pics.Count() == 0)
        return "No pictures to save.";
    std::string problem;
    IsStackComplete(&problem);
    if (loaded && problem.empty())
        return {};
    // A stack that looks complete but is not loaded was left by a load that failed
    // part of the way through.
    return "No complete stack to save. " +
           (problem.empty() ? std::string("The last load did not complete.") : problem);
}

double TPicEval::Threshold(std::int32_t row, std::int32_t col) const {
    std::uint8_t p0 = 0, p2 = 0;
    const bool ok0 = Pics.TryGetValue(0, row, col, p0);
    const bool ok2 = Pics.TryGetValue(2, row, col, p2);
    return ok0 && ok2 ? PixelThreshold(p0, p2, MinDif, Tolerance) : 256;
}

namespace {

// The codes of one row. Bit l comes from plane l + 2; both sides of each comparison
// are whole numbers, so comparing them as integers gives what comparing them as
// floating-point numbers would.
KELVARON_VECTOR_CLONES
void CodeSpan(const std::int16_t* __restrict threshold, const std::uint8_t* const* codePlanes,
              std::int32_t* __restrict out, std::int32_t begin, std::int32_t end) {
    const std::uint8_t* __restrict p[15];
    for (int l = 0; l < 15; ++l)
        p[l] = codePlanes[l];
    for (std::int32_t col = begin; col < end; ++col) {
        const int t = threshold[col];
        int code = 0;
        int bit = 1; // a running bit: "1 << l" here is miscompiled by g++ 12 under -fsanitize
        for (int l = 0; l < 15; ++l, bit <<= 1)
            code |= CodeBit(p[l][col], t) ? bit : 0;
        out[col] = KeptCode(code);
    }
}

// Most of a picture lies on no dot, where every code is 0 whatever the code
// planes hold: there they are not read at all, a stretch of columns at a time.
void CodeRow(const std::int16_t* threshold, const std::uint8_t* const* codePlanes,
             std::int32_t* out, std::int32_t width) {
    constexpr std::int32_t kStretch = 64;
    for (std::int32_t begin = 0; begin < width; begin += kStretch) {
        const std::int32_t end = std::min(width, begin + kStretch);
        std::int16_t lowest = 256;
        for (std::int32_t col = begin; col < end; ++col)
            lowest = std::min(lowest, threshold[col]);
        if (lowest < 256)
            CodeSpan(threshold, codePlanes, out, begin, end);
        else
            std::fill(out + begin, out + end, 0);
    }
}

} // namespace

void TPicEval::CalcPoints(int threads) {
    Points.Reset();
    Points.AddCodeMatrix(CodeMatrix, threads);
    Points.Trim();
    Points.CalcCentres();
}

void TPicEval::CalcMatrix() {
    CalcCodes(ThreadsFor(Threads));
}

void TPicEval::CalcCodes(int threads) {
    if (!IsStackComplete()) {
        CodeMatrix.Resize(Height, Width); // all 0
        return;
    }
    CodeMatrix.ResizeForOverwrite(Height, Width); // every code is set below
    ForEachBand(Height, threads, threads, [&](int, std::int32_t begin, std::int32_t end) {
        TThresholdRows thresholds(Pics, Width, MinDif, Tolerance);
        const std::uint8_t* codePlanes[15];
        for (std::int32_t row = begin; row < end; ++row) {
            for (int l = 0; l < 15; ++l)
                codePlanes[l] = Pics.Planes[std::size_t(l) + 2].Data[row];
            CodeRow(thresholds.Row(row), codePlanes, CodeMatrix.Data[row], Width);
        }
    });
}

void TPicEval::Evaluate(const std::string& fileName, bool withBitmap, TBitmap& display,
                        const std::string& tableFileName) {
    const TEvalFileNames names{fileName, withBitmap, tableFileName};
    const std::string problem = names.Problem(Pics.SourceFiles());
    if (!problem.empty())
        throw std::invalid_argument(problem);
    auto stageDone = [this](int stages) {
        if (Progress)
            Progress(stages);
    };
    Timings = TEvalTimings{};
    Refined.clear();
    TStopwatch watch;
    // With threads to spare, the marked picture's file is written alongside, on a
    // core of its own.
    int threads = ThreadsFor(Threads);
    std::unique_ptr<TEarlyPointBitmap> early;
    if (withBitmap && threads > 1 && Pics.Count() > 2 && Pics.Planes[2].Width == Width &&
        Pics.Planes[2].Height == Height &&
        (early = StartEarlyBitmap(Pics.Planes[2], names.BitmapName(), false)))
        --threads;
    CalcCodes(threads);
    Timings.Matrix = watch.Lap();
    stageDone(1);
    CalcPoints(threads);
    Timings.Points = watch.Lap();
    stageDone(2);
    TEvalFileContent content;
    content.Width = Width;
    content.Height = Height;
    content.Lit = Pics.Count() > 2 ? &Pics.Planes[2] : nullptr;
    content.Points = &Points;
    content.Early = early.get();
    content.TableText = [this] {
        // An incomplete stack gives no codes, and so no points to refine. The
        // refinement takes every core: the bitmap's writer mostly waits for the disk.
        if (IsStackComplete())
            Refined = RefineCentres(
                {Pics.Planes[0], Pics.Planes[2], Pics.DeepPlane(0), Pics.DeepPlane(2)}, CodeMatrix,
                Points, ThreadsFor(Threads));
        return PointTableText(Points, Refined);
    };
    content.PointsWritten = [&] {
        stageDone(3);
        MarkPoints(display);
        stageDone(4);
    };
    const TEvalFileSeconds seconds = WriteEvalFiles(names, content, Pics.SourceFiles());
    Timings.Table = seconds.Table;
    Timings.Files = seconds.Files;
    stageDone(5);
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
    static const TPic kNoPlane;
    WritePointBitmap(Pics.Count() > 2 ? Pics.Planes[2] : kNoPlane, Width, Height, Points,
                     ChangeFileExt(fileName, ".bmp"));
}

void TPicEval::ShowMatrix(std::uint8_t index, TBitmap& bitmap) const {
    ShowMatrixView(ViewSource(), index, bitmap);
}

void TPicEval::ShowEdges(TBitmap& bitmap) const {
    ShowEdgesView(ViewSource(), bitmap);
}

void TPicEval::ShowCodeView(TBitmap& bitmap) const {
    ShowView(ViewSource(), TView::Codes, 2, bitmap);
}

void RenderView(TPicEval& eval, TView view, std::uint8_t plane, TBitmap& bitmap) {
    if (view == TView::Codes)
        eval.CalcMatrix();
    ShowView(eval, view, plane, bitmap);
}
