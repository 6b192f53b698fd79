#pragma once
// Evaluating a list of photographs without keeping its stack: every photograph is
// folded into the codes as it is decoded, and only what the outputs need stays.

#include "decode/CodeRuns.h"
#include "pipeline/Evaluator.h"
#include "pipeline/Suggest.h"
#include "refine/Refine.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TEarlyPointBitmap;
struct TPlaneArray;

/// Raises EStackError unless planes holds as many planes as a stack has (17).
void CheckStackPlanes(const TPlaneArray& planes);

/// The evaluation of a list of 17 photographs as TPicEval gives it (LoadList,
/// Evaluate), with the same codes, points, files and errors, but without the 17
/// planes: the photographs are decoded on all cores, and each row of a code
/// picture is compared with its threshold as it comes, leaving one bit a pixel.
/// What stays is pictures 0 and 2, those bits and, for the point table, the runs of
/// the codes and pictures 0 and 2 at full depth when they hold more than 8 bits:
/// under 4 bytes a pixel instead of 21 (under 8 with full depth).
class TStreamEval {
public:
    std::uint8_t Tolerance = TEvalDefaults::Tolerance;
    std::uint8_t MinDif = TEvalDefaults::MinDif;
    int Threads = 0; ///< 0: one per core
    /// Settings the load chooses from the stack itself (SuggestSettings gives the
    /// same) instead of taking MinDif or Tolerance as they are: code pictures 3 and 4
    /// are then held whole (2 bytes a pixel more) until they and pictures 0 and 2
    /// are in, and the settings are chosen from those four before any code picture
    /// is folded into bits. The load sets MinDif and Tolerance to what it chose and
    /// Suggestion to the figures.
    bool SuggestMinDif = false;
    bool SuggestTolerance = false;
    std::optional<TSuggestion> Suggestion;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    TPic Dark; ///< picture 0
    TPic Lit;  ///< picture 2, which the marked picture shows
    /// Pictures 0 and 2 at full depth, when LoadList kept what the point table needs
    /// and either photograph holds more than 8 bits a sample; else 0 × 0.
    TDeepPic DeepDark, DeepLit;
    /// The runs of the codes, when LoadList kept what the point table needs.
    TCodeRuns Runs;
    /// Whether LoadList also keeps the code matrix (4 bytes a pixel), for a caller
    /// that looks at the codes themselves.
    bool KeepCodeMatrix = false;
    TCode CodeMatrix;     ///< the codes, when KeepCodeMatrix; else 0 × 0
    TUniquePoints Points; ///< with their centres, once LoadList succeeded
    /// Matrix, Points and (when LoadList kept what the point table needs) Table from
    /// LoadList, the rest from Evaluate.
    TEvalTimings Timings;
    /// The marked picture's file, when Evaluate is to write one: named before
    /// LoadList, picture 2 goes to a temporary file as soon as it is decoded, on a
    /// thread that takes only time the decoding leaves, and Evaluate then only adds
    /// the marks. Empty: Evaluate writes the whole file.
    std::string BitmapFileName;

    TStreamEval();
    ~TStreamEval();
    TStreamEval(const TStreamEval&) = delete;
    TStreamEval& operator=(const TStreamEval&) = delete;

    /// Loads the list fileName as TPicEval::LoadList does (options as there,
    /// progress and Bits included) and computes the point list; forTable also keeps
    /// what the point table needs (Runs, DeepDark, DeepLit). The outcome is the one
    /// TPicEval::LoadList would give, except that Replaced means nothing. Nothing
    /// is decoded, and nullopt is given, where the list is better loaded whole: a
    /// list that cannot be read or does not name 17 photographs, a photograph that
    /// is missing or whose header cannot be read, photographs of different sizes,
    /// or too little memory even for this.
    /// names: the photographs the list names as ReadListFile gives them, when the
    /// caller has read the list already; empty: the list is read here.
    std::optional<TLoadOutcome> LoadList(const std::string& fileName, std::uint8_t channel,
                                         const TLoadOptions& options, bool forTable,
                                         std::vector<std::string> names = {});

    /// LoadList for a picture set of 17 planes (LoadPicSet, relative plane names
    /// resolved against baseFolder): pictures 0 and 2 are loaded, the code planes
    /// folded a stretch of columns at a time. nullopt, having changed nothing that
    /// matters, wherever the set is better loaded whole: a header that cannot be
    /// used or names another number of planes, a plane file that is missing or
    /// short or cannot be read, too little memory. A usable outcome otherwise.
    std::optional<TLoadOutcome> LoadSet(const std::string& headerFileName,
                                        const std::string& baseFolder, bool forTable);

    /// The evaluation of 17 planes held in memory, as LoadSet gives it for a picture
    /// set of the same planes: pictures 0 and 2 are copied (and kept at full depth
    /// when forTable and the values are 16-bit samples), the code pictures read
    /// where they lie. Raises EStackError for another number of planes or planes
    /// without pixels, EOutOfMemory when what stays would not fit, EStopped as
    /// CheckStop raises it. No file is read: SourceFiles stays empty.
    void LoadPlanes(const TPlaneArray& planes, bool forTable);

    /// Called now and then while a load works (between photographs, rows, stages)
    /// on any of its threads; raises (EStopped) to stop the load, which then raises
    /// it. Empty: never stops.
    std::function<void()> CheckStop;

    /// Writes the points file, the marked picture (withBitmap) and the point table
    /// (a tableFileName) as TPicEval::Evaluate does, in the same order and with the
    /// same errors, after a LoadList that gave a usable outcome (the table needs
    /// what forTable keeps).
    void Evaluate(const std::string& fileName, bool withBitmap, const std::string& tableFileName);

    /// The refined points, once a load kept what the point table needs; else empty.
    const std::vector<TRefinedPoint>& Refined() const;

    /// The list file and the photographs it names, once LoadList has read them.
    const std::vector<std::string>& SourceFiles() const { return sources_; }

private:
    class TFold;
    // The settings given, the others to be chosen.
    TSettingsRequest Request() const;
    // Raises what CheckStop raises, if set.
    void CheckStopped() const;
    // Starts writing the marked picture early, once picture 2 is in.
    void StartBitmap();
    // The refined centres of the points and the point table's text, into refined_
    // and tableText_; their time is the caller's to count.
    void Refine();
    // The memory the kept pictures, bits and codes take, without the runs.
    std::uint64_t KeptBytes(bool deep) const;
    std::vector<std::string> sources_;
    std::unique_ptr<TEarlyPointBitmap> early_;
    std::optional<std::vector<TRefinedPoint>> refined_; // once Refine ran
    std::string tableText_;                             // the point table, once Refine ran
};
