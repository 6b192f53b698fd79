// Streamed evaluation of a list of photographs.
//
// Pictures 0 and 2 give each pixel's threshold, plane 2 − Tolerance where plane 2
// exceeds plane 0 by more than MinDif (a pixel on a lit dot), and bit l of its code
// is set where picture l + 2 lies above it. Elsewhere the code is 0, and so is it
// everywhere when the tolerance is 0, since bit 0 then never is set. So once a row
// of picture 2 is in, a code picture only needs to tell, for each pixel of that row,
// whether it lies above the threshold: one bit. Rows without a lit pixel, as
// pictures 0 and 2 tell, need nothing from the code pictures, and their decoder
// passes over them. When every photograph is in, the bits become codes and points,
// row by row.

#include "pipeline/StreamEval.h"

#include "base/Clock.h"
#include "base/Errors.h"
#include "base/Format.h"
#include "base/Memory.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "files/FileUtil.h"
#include "input/ListFile.h"
#include "input/PicSet.h"
#include "input/PictureInput.h"
#include "input/PlaneArray.h"
#include "output/EvalFiles.h"
#include "output/PointBitmap.h"
#include "pipeline/StreamFold.h"
#include "refine/Refine.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <sys/stat.h>

namespace {

// A picture set's code planes are folded a stretch of whole columns at a time,
// through two buffers of 64 columns per thread: taller planes are loaded whole.
constexpr std::int32_t kMaxStreamedSetHeight = 65536;

// The names of photographs that planes in memory do not have.
const std::vector<std::string> kNoNames;

} // namespace

TStreamEval::TStreamEval() = default;
TStreamEval::~TStreamEval() = default;

void TStreamEval::StartBitmap() {
    if (!BitmapFileName.empty())
        early_ = StartEarlyBitmap(Lit, BitmapFileName, true);
}

std::optional<TLoadOutcome> TStreamEval::LoadList(const std::string& fileName, std::uint8_t channel,
                                                  const TLoadOptions& options, bool forTable,
                                                  std::vector<std::string> names) {
    std::string error;
    if (names.empty() && !ReadListFile(fileName, false, options.BaseFolder, names, error))
        return std::nullopt;
    if (names.size() != std::size_t(TPicEval::kStackPlanes))
        return std::nullopt;

    // Every header first: a photograph that the whole-stack load would report
    // before decoding, or whose size differs from the others, goes that way.
    const TPictureSettings settings{channel, options.Bits};
    const TPictureSurvey survey = SurveyPictures(names, settings);
    if (!survey.OneSize())
        return std::nullopt;
    Width = survey.Headers[0]->Width;
    Height = survey.Headers[0]->Height;
    const std::uint64_t decoderBytes = survey.DecoderBytes;
    const bool deep = forTable && (survey.Headers[0]->Deep() || survey.Headers[2]->Deep());
    const std::uint64_t keptBytes = KeptBytes(deep);
    if (keptBytes > MemoryBudget().Usable())
        return std::nullopt;

    sources_ = names;
    sources_.insert(sources_.begin(), fileName);
    TLoadOutcome outcome;
    outcome.Replaced = true;
    try {
        TFold fold(*this, settings, names, deep, forTable);
        // Pictures 0 and 2 first: the code pictures' rows wait for theirs. The
        // bright reference last: the codes do not need it, and while it is decoded
        // the codes, the points and the refined centres are made.
        std::vector<std::int32_t> order{0, 2};
        for (std::int32_t i = 3; i < TPicEval::kStackPlanes; ++i)
            order.push_back(i);
        order.push_back(1);
        TLoadOptions bounded = options;
        bounded.Threads = DecodeThreads(options.Threads, names.size(), keptBytes, decoderBytes);
        const TDecodeResult decoded =
            DecodeEach(names, order, bounded, [&fold](std::int32_t i) { return fold.Decode(i); });
        if (decoded.Error)
            std::rethrow_exception(decoded.Error);
        if (std::find(decoded.Found.begin(), decoded.Found.end(), 0) != decoded.Found.end()) {
            outcome.Reason = MissingText(fileName, names, decoded.Found);
            early_.reset();
            return outcome;
        }
        fold.Settled();
    } catch (...) {
        early_.reset();
        return ErrorOutcome(std::current_exception(), true);
    }
    outcome.Usable = true;
    return outcome;
}

std::optional<TLoadOutcome> TStreamEval::LoadSet(const std::string& headerFileName,
                                                 const std::string& baseFolder, bool forTable) {
    TPicSetHeader header;
    std::string error;
    if (!ReadPicSetHeader(headerFileName, baseFolder, header, error) ||
        header.PlaneFiles.size() != std::size_t(TPicEval::kStackPlanes) ||
        header.Height > kMaxStreamedSetHeight)
        return std::nullopt;
    Width = header.Width;
    Height = header.Height;
    const std::uint64_t pixels = std::uint64_t(Width) * std::uint64_t(Height);
    // Every plane file must be there whole; whatever else a set's load would meet
    // is left to it.
    for (const std::string& name : header.PlaneFiles) {
        struct stat info {};
        if (name.empty() || ::stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            std::uint64_t(info.st_size) < pixels)
            return std::nullopt;
    }
    if (KeptBytes(false) > MemoryBudget().Usable())
        return std::nullopt;

    sources_ = header.PlaneFiles;
    sources_.insert(sources_.begin(), headerFileName);
    TLoadOutcome outcome;
    outcome.Replaced = true;
    try {
        TFold fold(*this, {}, header.PlaneFiles, false, forTable);
        const int threads = ThreadsFor(Threads);
        LoadPlane(Dark, header.PlaneFiles[0]);
        LoadPlane(Lit, header.PlaneFiles[2]);
        StartBitmap();
        if (Request().Automatic())
            fold.LoadHeld(header.PlaneFiles);
        fold.SettleAll(threads);
        ForEachIndex(TPicEval::kStackPlanes - 2, threads, [&](std::int32_t task) {
            const std::int32_t index = task == 0 ? 1 : task + 2;
            if (!fold.Held(index))
                fold.FoldPlaneFile(index, header.PlaneFiles[std::size_t(index)]);
        });
        fold.Settled();
    } catch (const EStopped&) {
        early_.reset();
        throw;
    } catch (const std::exception&) {
        // A file that could not be read after all: the whole stack's load says how.
        early_.reset();
        return std::nullopt;
    }
    outcome.Usable = true;
    return outcome;
}

void CheckStackPlanes(const TPlaneArray& planes) {
    if (planes.Count != TPicEval::kStackPlanes)
        throw EStackError("The array holds " + CountText(std::uint64_t(planes.Count), "plane") +
                          "; a stack needs " + std::to_string(TPicEval::kStackPlanes) + ".");
}

void TStreamEval::LoadPlanes(const TPlaneArray& planes, bool forTable) {
    CheckStackPlanes(planes);
    if (planes.Width == 0 || planes.Height == 0)
        throw EStackError("The planes of the array hold no pixels.");
    Width = planes.Width;
    Height = planes.Height;
    const bool deep = forTable && planes.BytesPerValue > 1;
    const std::uint64_t kept = KeptBytes(deep);
    if (kept > MemoryBudget().Usable())
        RaiseOutOfMemory("the evaluation of " + SizeText(Width, Height) + " pixels", kept);
    sources_.clear();
    early_.reset();
    TFold fold(*this, {}, kNoNames, deep, forTable);
    const int threads = ThreadsFor(Threads);
    CheckStopped();
    planes.CopyPlane(0, Dark, threads);
    planes.CopyPlane(2, Lit, threads);
    if (deep) {
        planes.CopyDeepPlane(0, DeepDark, threads);
        planes.CopyDeepPlane(2, DeepLit, threads);
    }
    if (Request().Automatic())
        fold.LoadHeld(planes, threads);
    CheckStopped();
    fold.SettleAll(threads);
    ForEachIndex(TFold::kCodePictures, threads, [&](std::int32_t task) {
        const std::int32_t index = task + 3;
        if (!fold.Held(index))
            fold.FoldArrayPlane(index, planes);
    });
    fold.Settled();
}

void TStreamEval::CheckStopped() const {
    if (CheckStop)
        CheckStop();
}

void TStreamEval::Refine() {
    const bool deep = DeepDark.Data.size() != 0 && DeepLit.Data.size() != 0;
    refined_ = RefineCentres({Dark, Lit, deep ? &DeepDark : nullptr, deep ? &DeepLit : nullptr},
                             Runs, Points, ThreadsFor(Threads), CheckStop);
    tableText_ = PointTableText(Points, *refined_, ThreadsFor(Threads));
}

TSettingsRequest TStreamEval::Request() const {
    return TSettingsRequest::Given(MinDif, SuggestMinDif, Tolerance, SuggestTolerance);
}

const std::vector<TRefinedPoint>& TStreamEval::Refined() const {
    static const std::vector<TRefinedPoint> kNone;
    return refined_ ? *refined_ : kNone;
}

std::uint64_t TStreamEval::KeptBytes(bool deep) const {
    const std::uint64_t pixels = std::uint64_t(Width) * std::uint64_t(Height);
    // Where the settings are chosen, two code pictures are held whole until then.
    const std::uint64_t held = Request().Automatic() ? 2 * pixels : 0;
    const std::uint64_t codes =
        std::uint64_t(Height) * TFold::kCodePictures * ((std::uint64_t(Width) + 7) / 8);
    return 2 * pixels + held + codes + (deep ? 4 * pixels : 0) + (KeepCodeMatrix ? 4 * pixels : 0);
}

void TStreamEval::Evaluate(const std::string& fileName, bool withBitmap,
                           const std::string& tableFileName) {
    const TEvalFileNames names{fileName, withBitmap, tableFileName};
    TEvalFileContent content;
    content.Width = Width;
    content.Height = Height;
    content.Lit = &Lit;
    content.Points = &Points;
    content.TableText = [this] {
        if (!refined_)
            Refine();
        return tableText_;
    };
    if (early_ && names.BitmapName() == BitmapFileName)
        content.Early = early_.get();
    const TEvalFileSeconds seconds = WriteEvalFiles(names, content, sources_);
    early_.reset();
    Timings.Table += seconds.Table;
    Timings.Files = seconds.Files;
}
