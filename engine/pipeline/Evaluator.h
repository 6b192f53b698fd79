#pragma once
// The evaluator (TPicEval): a stack of 17 planes turned into codes, points, the
// points file and the marked picture.

#include "decode/CodeMatrix.h"
#include "decode/CodeRule.h"
#include "decode/Points.h"
#include "image/Bitmap.h"
#include "input/Pics.h"
#include "input/PictureRows.h"
#include "output/Views.h"
#include "refine/Refine.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

/// The settings a session starts with, in the window and on the command line.
struct TEvalDefaults {
    static constexpr std::uint8_t Channel = kChannelGrey;
    static constexpr std::uint8_t Tolerance = 30;
    static constexpr std::uint8_t MinDif = 80;
};

/// What a load left behind, decided here once for every front end.
struct TLoadOutcome {
    /// The stack can be evaluated: 17 planes of the evaluator's size (IsStackComplete).
    bool Usable = false;
    /// The former planes are gone: the load got as far as replacing them.
    bool Replaced = false;
    /// Why the stack is not usable, as a sentence that names the file; empty when
    /// it is usable.
    std::string Reason;
    /// What reading or decoding a file raised, when the load ended that way; Reason
    /// then holds its message. A front end reports it as it reports any error.
    std::exception_ptr Error;
};

/// The outcome of a load that raised error: not usable, its message the reason
/// ("The pictures could not be loaded." for one without a message).
TLoadOutcome ErrorOutcome(std::exception_ptr error, bool replaced);

/// How long the stages of the last Evaluate took, in seconds.
struct TEvalTimings {
    double Matrix = 0; ///< the code matrix
    double Points = 0; ///< the point list and its centres
    double Files = 0;  ///< the points file, the marks and the BMP file
    double Table = 0;  ///< the refined centres and the point table, when asked for
};

/// Turns a stack of 17 planes into codes and points: plane 0 is the dark reference,
/// plane 1 the bright one, plane 2 shows all dots lit and gives bit 0 of a code,
/// planes 3 … 16 give bits 1 … 14.
class TPicEval {
public:
    /// Planes the decoding needs.
    static constexpr std::int32_t kStackPlanes = 17;

    TPics Pics;
    TCode CodeMatrix;
    TUniquePoints Points;
    std::string Name;
    std::uint8_t Tolerance = 15; ///< subtracted from plane 2 to give a pixel's threshold
    std::uint8_t MinDif = 80;    ///< how far plane 2 must exceed plane 0 on a lit dot
    std::int32_t Height = 0;     ///< rows of the stack, as the last successful size check left it
    std::int32_t Width = 0;      ///< columns, likewise
    int Threads = 0;             ///< threads the pixel loops may use; 0: one per core
    TEvalTimings Timings;        ///< of the last Evaluate
    /// The refined points of the last Evaluate that wrote a point table; else empty.
    std::vector<TRefinedPoint> Refined;
    /// Called on the calling thread after each of the kEvaluateStages stages of
    /// Evaluate (code matrix, point list, points file, marks, BMP file), with the
    /// number of stages done.
    std::function<void(int stagesDone)> Progress;
    static constexpr int kEvaluateStages = 5;

    explicit TPicEval(std::string name = {}) : Name(std::move(name)) {}

    void SetName(std::string name) { Name = std::move(name); }
    void SetTolerance(std::uint8_t value) { Tolerance = value; }
    void SetMinDif(std::uint8_t value) { MinDif = value; }
    std::int32_t GetWidth() const { return Width; }
    std::int32_t GetHeight() const { return Height; }

    /// Loads a JPEG list into Pics (see TPics::LoadFromList) and, when that succeeds,
    /// takes the common size with CheckSize. False when either fails; Height and
    /// Width then keep their values unless CheckSize wrote them.
    bool LoadPictures(const std::string& fileName, bool namesOnly, std::uint8_t channel,
                      const TLoadOptions& options = {});

    /// LoadPictures, with the outcome told: Reason is the list's error, or why the
    /// planes loaded do not make a stack. Raises nothing.
    TLoadOutcome LoadList(const std::string& fileName, std::uint8_t channel,
                          const TLoadOptions& options = {});

    /// Loads a picture set into Pics (LoadPicSet, relative plane names resolved
    /// against baseFolder) and takes the common size with CheckSize, whether or not
    /// the set loaded; the outcome as LoadList tells it. Raises nothing.
    /// options as LoadPicSet takes them (progress; threads, Threads when 0), their
    /// BaseFolder set here.
    TLoadOutcome LoadSet(const std::string& headerFileName, const std::string& baseFolder,
                         TLoadOptions options = {});

    /// Whether the stack counts as loaded after a load that gave outcome, given
    /// whether it did before: a load that failed before it replaced the planes
    /// leaves a usable stack usable; one that failed after leaves a stack that is not
    /// what was asked for.
    bool LoadedAfter(const TLoadOutcome& outcome, bool loadedBefore) const {
        return outcome.Usable || (loadedBefore && !outcome.Replaced && IsStackComplete());
    }

    /// Why the stack may not be saved as a picture set, as a sentence, or empty;
    /// loaded as LoadedAfter tells it. Only a stack the decoding can use is saved: a
    /// set written from one that is not would not load again.
    std::string SaveProblem(bool loaded) const;

    /// True when Pics holds exactly 17 planes, all of Width × Height, and that size
    /// holds pixels; otherwise why not goes to reason (when given).
    bool IsStackComplete(std::string* reason = nullptr) const;

    /// The threshold of a pixel: plane 2 − Tolerance where plane 2 exceeds plane 0 by
    /// more than MinDif (a pixel on a lit dot), else 256. Also 256 outside plane 0 or 2.
    double Threshold(std::int32_t row, std::int32_t col) const;

    /// Rebuilds CodeMatrix at Height × Width. A stack that is not complete gives a
    /// matrix of zeros and no plane is read.
    void CalcMatrix();

    /// Rebuilds Points from CodeMatrix, with their centres, on threads.
    void CalcPoints(int threads);

    /// The whole run: CalcMatrix, the point list, and the files WriteEvalFiles
    /// writes in its order (the points file under fileName, with withBitmap the
    /// marked picture named fileName with its extension replaced by ".bmp", with a
    /// tableFileName the point table of the refined centres, RefineCentres); the
    /// marks are drawn into display once the points file is in place. Names that
    /// TEvalFileNames::Problem refuses, given the files the stack was loaded from,
    /// raise std::invalid_argument before anything is written; EFileError when a file
    /// cannot be written, and a points file that fails leaves display and the BMP
    /// untouched.
    void Evaluate(const std::string& fileName, bool withBitmap, TBitmap& display,
                  const std::string& tableFileName = {});

    /// Whether the point table reads plane index: planes 0 and 2, which a load for
    /// it keeps at full depth (TLoadOptions::FullDepth).
    static bool RefinementReads(std::int32_t index) { return index == 0 || index == 2; }

    /// Plane 2 as grey with one red pixel at every rounded point centre.
    void MarkPoints(TBitmap& display) const;
    /// The same picture in a new Width × Height bitmap, saved as fileName with its
    /// extension replaced by ".bmp".
    void SavePointBitmap(const std::string& fileName) const;

    /// Diagnostic views; each draws into bitmap and changes nothing else.
    /// Plane index as grey.
    void ShowPicture(std::uint8_t index, TBitmap& bitmap) const { Pics.ShowPicture(index, bitmap); }
    /// Plane index against the threshold: grey where the value reaches it, dark red
    /// (0x7D0000) elsewhere.
    void ShowMatrix(std::uint8_t index, TBitmap& bitmap) const;
    /// The threshold map: grey at the threshold's level (its low 8 bits for a
    /// negative one), blue (0x0000FF) where no dot is lit.
    void ShowEdges(TBitmap& bitmap) const;
    /// The pixels of the last computed code matrix that hold a code, in red.
    void ShowCodePoints(TBitmap& bitmap) const { CodeMatrix.ShowCodes(bitmap); }
    /// The codes view: plane 2 against the threshold (ShowMatrix) with the code
    /// points of the last computed code matrix over it.
    void ShowCodeView(TBitmap& bitmap) const;
    /// What the views read of this evaluator (ShowView).
    TViewSource ViewSource() const {
        return {Pics, CodeMatrix, Width, Height, MinDif, Tolerance, Threads};
    }

private:
    // The outcome of a load that began when Pics was at generation, given whether
    // it reported success and the file it read.
    TLoadOutcome Outcome(bool loaded, std::uint64_t generation, const std::string& fileName) const;
    // CalcMatrix on the given number of threads.
    void CalcCodes(int threads);
};

/// Draws view of eval's stack into bitmap, as the window shows it: the codes view
/// with the code matrix last computed (ShowView).
inline void ShowView(const TPicEval& eval, TView view, std::uint8_t plane, TBitmap& bitmap) {
    ShowView(eval.ViewSource(), view, plane, bitmap);
}

/// A view of a stack just loaded, as the command line renders it: for the codes
/// view the code matrix is computed first, which a fresh stack does not have.
void RenderView(TPicEval& eval, TView view, std::uint8_t plane, TBitmap& bitmap);
