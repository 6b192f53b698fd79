#pragma once
// The picture stack: planes of 8-bit values taken from photographs, the JPEG
// input that fills them, and single-value access.

#include "Bitmap.h"
#include "Grid.h"
#include "TBMPpix.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/// Most pixels a plane or photograph may have (2^28, 16384 × 16384).
inline constexpr std::int64_t kMaxPlanePixels = std::int64_t(1) << 28;
/// Most planes a stack may hold; plane indexes are bytes.
inline constexpr std::int32_t kMaxPlanes = 256;

/// A plane's values: Height rows of Width bytes, indexed [row][column].
using TPole = TGrid<std::uint8_t>;

/// One plane of the stack. A new plane is 0 × 0.
class TPic {
public:
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    TPole Data; ///< Data[row][column], row 0 at the top

    /// Sets Width and Height and gives Data that size, every byte 0. Raises
    /// std::invalid_argument for a negative size or more than kMaxPlanePixels.
    void SetSize(std::int32_t width, std::int32_t height);
};

/// Channel selector: which byte of a photograph's pixel becomes the plane value.
enum : std::uint8_t { kChannelRed = 0, kChannelGreen = 1, kChannelBlue = 2, kChannelGrey = 3 };

/// Decodes one JPEG photograph into plane, keeping one channel of each pixel (0 red,
/// 1 green, 2 blue, anything else the grey mix; a greyscale photograph gives its grey
/// values whatever the channel). False, with the plane untouched, when the file does
/// not exist or is a folder. Raises EFileError when the file cannot be read and
/// EJpegError when it does not decode (damaged data, also data the decoder would
/// only warn about; more than kMaxPlanePixels pixels; a colour space other than
/// greyscale or three-component colour; a progressive file with more than 500 scans,
/// whose scans cover more than 2^26 blocks of 8 × 8 values in all, or whose
/// coefficients take more than 1 GiB); the plane is then untouched too.
bool LoadPlaneFromJpeg(TPic& plane, const std::string& fileName, std::uint8_t channel);

/// What a photograph's header tells before any pixel is decoded.
struct TJpegHeader {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    int Components = 0;
    /// Working memory the decoder will take beside the plane and a row of pixels,
    /// in bytes (a progressive file keeps all its coefficients).
    std::uint64_t DecoderBytes = 0;
};

/// Reads a photograph's header only, as far as its first scan. Raises EFileError
/// and EJpegError as LoadPlaneFromJpeg does for a file whose header is unusable
/// (also one that does not exist).
TJpegHeader ReadJpegHeader(const std::string& fileName);

/// The size of a picture, for working out what a stack takes.
struct TPictureSize {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};

/// Empty when planes of these sizes fit into the memory the process may still
/// use; otherwise a sentence with the figures: "The 256 pictures of 16384 x 16384
/// need 64 GiB; 7.6 GiB are available."
std::string StackMemoryProblem(const std::vector<TPictureSize>& sizes);

/// Reads a JPEG list file (two header lines, then one photograph name per line)
/// into the names of its photographs, resolved as LoadFromList resolves them.
/// False, with error set, when the list file is missing or unreadable, is no text
/// (a photograph or another binary file picked as a list), or names no photograph
/// or more than 256.
bool ReadListFile(const std::string& fileName, bool namesOnly, const std::string& baseFolder,
                  std::vector<std::string>& names, std::string& error);

/// LoadPlaneFromJpeg for a photograph held in memory; name stands for it in error
/// messages. Raises EJpegError as LoadPlaneFromJpeg does.
void DecodeJpegPlane(TPic& plane, const std::uint8_t* data, std::size_t size,
                     const std::string& name, std::uint8_t channel);

/// The grey mix 0.3 R + 0.59 G + 0.11 B, evaluated as ((r·0.3 + g·0.59) + b·0.11) in
/// binary floating point with a 64-bit significand and rounded to the nearest
/// integer, ties to even.
std::uint8_t GreyValue(const TPixelTriple& pixel);
std::uint8_t GreyValue(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

/// Stores value at (row, column) when 0 ≤ row < Height and 0 ≤ column < Width;
/// otherwise stores nothing and returns false.
bool SetPlaneValue(TPic& plane, std::int32_t row, std::int32_t column, std::uint8_t value);

/// Reads (row, column) into value when inside the plane; otherwise returns false
/// and leaves value as it was.
bool GetPlaneValue(const TPic& plane, std::int32_t row, std::int32_t column, std::uint8_t& value);

/// How LoadFromList goes about its work; none of it changes the result.
struct TLoadOptions {
    /// Relative photograph names are resolved against this folder; empty: against
    /// the current directory.
    std::string BaseFolder;
    /// Photographs decoded at once, each by a thread of its own; 0: one per core.
    /// Fewer are when the memory the process may use would not hold so many decoders.
    int Threads = 0;
    /// Called on the calling thread for each photograph decoded into its plane, in
    /// plane order.
    std::function<void(std::int32_t plane, const std::string& fileName)> Progress;
    /// Called on the calling thread about every 0.1 s while it waits for photographs
    /// that other threads decode, so that a window can keep repainting.
    std::function<void()> Idle;
};

/// The picture stack: up to 256 planes, numbered from 0, not necessarily of one size.
class TPics {
public:
    std::vector<TPic> Planes;

    std::int32_t Count() const { return static_cast<std::int32_t>(Planes.size()); }

    /// Changes whenever the planes are replaced as a whole (SetCount, and so every
    /// load that got as far as replacing them); tells a caller whether a failed load
    /// left the former planes in place.
    std::uint64_t Generation() const { return generation_; }

    /// Replaces every plane by count new planes of width × height bytes, all 0.
    /// Raises std::invalid_argument for a count outside 0 … 256 or an impossible size.
    void SetCount(std::int32_t count, std::int32_t width, std::int32_t height);

    /// Loads the photographs named by a JPEG list file: lines 1 and 2 are skipped,
    /// line 3 names plane 0, line 4 plane 1 and so on. Names are used as written
    /// (relative ones against the current directory); with namesOnly only the part
    /// after the last '/'. False when the list file cannot be read (see
    /// ReadListFile), or when the pictures its photographs' headers announce would
    /// not fit into the memory the process may use (StackMemoryProblem; every header
    /// is read before any pixel is decoded): the planes then stay as they were;
    /// or when a named photograph does not exist (its plane stays 0 × 0, every other
    /// plane is loaded); LastError then says why. Errors reading or decoding a
    /// photograph are raised: the planes before it hold their pictures, it and the
    /// later ones stay 0 × 0.
    bool LoadFromList(const std::string& fileName, bool namesOnly, std::uint8_t channel,
                      const TLoadOptions& options = {});

    /// True when every plane has plane 0's size. height and width receive plane 0's
    /// size while no mismatch has been met (never with fewer than two planes).
    bool CheckSize(std::int32_t& height, std::int32_t& width) const;

    /// The byte at (row, col) of plane index; 0 outside the plane or the stack.
    std::uint8_t GetValue(std::uint8_t index, std::int32_t row, std::int32_t col) const;

    /// Reads (row, col) of plane index into value; false outside the plane or the
    /// stack, with value left as it was.
    bool TryGetValue(std::uint8_t index, std::int32_t row, std::int32_t col,
                     std::uint8_t& value) const;

    /// Draws plane index as grey (v × 0x010101) into bitmap from its top-left corner.
    /// Bitmap pixels beyond the plane keep their colours; a plane index beyond the
    /// stack draws nothing.
    void ShowPicture(std::uint8_t index, TBitmap& bitmap) const;

    /// Why the last LoadFromList or LoadPicSet returned false; empty after one that
    /// succeeded.
    const std::string& LastError() const { return lastError_; }

    /// The files the planes were loaded from: the list file or header first, then
    /// every photograph or plane file it names. Outputs must never replace them.
    const std::vector<std::string>& SourceFiles() const { return sources_; }

private:
    // Decodes photograph i into plane i for every name; gives which were found.
    // Raises the error of the lowest plane whose photograph raised, leaving that
    // plane and every later one 0 x 0, the earlier ones loaded.
    std::vector<char> DecodePlanes(const std::vector<std::string>& names, std::uint8_t channel,
                                   const TLoadOptions& options);

    friend bool LoadPicSet(TPics& pics, const std::string& headerFileName,
                           const std::string& baseFolder);
    std::string lastError_;
    std::vector<std::string> sources_;
    std::uint64_t generation_ = 0;
};

// Picture sets: a header text file naming one raw plane file per plane, the plane
// bytes stored column by column (offset column × Height + row).

/// Writes the plane's Width × Height bytes, column by column, replacing the file
/// atomically. Raises EFileError when it cannot be written.
void SavePlane(const TPic& plane, const std::string& fileName);

/// Fills the plane (at its own size) from the file, column by column; bytes beyond
/// Width × Height are ignored. Raises EFileError when the file cannot be read or is
/// too short; the bytes before the first missing one stay stored.
void LoadPlane(TPic& plane, const std::string& fileName);

/// Writes the header (plane 0's size, one plane file name per plane) and the plane
/// files beside it as one whole: every file is written and flushed first, then the
/// former header is removed, the plane files are put in place and the header last
/// (see TAtomicFileSet). With namesOnly the header lists bare file names. Raises
/// EFileError when a file cannot be written, and std::invalid_argument for an empty
/// stack or when a file of the set is one the planes were loaded from.
void SavePicSet(const TPics& pics, const std::string& headerFileName, bool namesOnly);

/// The files SavePicSet writes for a stack of planes: the plane files in order,
/// then the header.
std::vector<std::string> PicSetFileNames(const std::string& headerFileName, std::size_t planes);

/// Loads a picture set. False when it cannot be loaded completely; pics.LastError()
/// then says which line or file and why, and the stack is left as the failure
/// allows (unchanged for a header that cannot be used, one that names a temporary
/// file of an unfinished save, or one whose planes would not fit into the memory
/// the process may use). Raises nothing. With a
/// baseFolder, relative plane names are resolved against it instead of the current
/// directory.
bool LoadPicSet(TPics& pics, const std::string& headerFileName, const std::string& baseFolder = {});

// ---------------------------------------------------------------------------
// Codes and points

/// The code of every pixel: 0 (no code) or an odd number from 1 to 32767, whose bit
/// l is set when plane l + 2 lies above the pixel's threshold.
class TCode {
public:
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    TGrid<std::int32_t> Data; ///< Data[row][column]

    /// Height := rows, Width := cols, every code 0 (also when the size is unchanged).
    void Resize(std::int32_t rows, std::int32_t cols);
    /// Height := rows, Width := cols, codes unspecified: for a caller that sets them all.
    void ResizeForOverwrite(std::int32_t rows, std::int32_t cols);
    /// Stores value at (row, col); does nothing outside the matrix.
    void SetCode(std::int32_t row, std::int32_t col, std::int32_t value);
    /// The code at (row, col); 0 outside the matrix.
    std::int32_t GetCode(std::int32_t row, std::int32_t col) const;
    /// Paints every pixel that holds a code red (0xFF0000) over what the bitmap shows,
    /// over the matrix's own size; pixels without a code keep their colour.
    void ShowCodes(TBitmap& bitmap) const;

private:
    static void CheckSize(std::int32_t rows, std::int32_t cols);
    [[noreturn]] static void RaiseOutOfMemory(std::int32_t rows, std::int32_t cols);
    bool Inside(std::int32_t row, std::int32_t col) const {
        return row >= 0 && row < Height && col >= 0 && col < Width;
    }
};

/// Whether the eight codes from codes on are all 0: most pixels lie on no dot, and
/// the scans of a matrix pass over them eight at a time.
inline bool AllZero8(const std::int32_t* codes) {
    std::int32_t any = 0;
    for (int i = 0; i < 8; ++i)
        any |= codes[i];
    return any == 0;
}

/// One point: the pixels that share a code.
struct TUniquePoint {
    std::int32_t Code = 0;
    double X = 0; ///< centre column, SumX / PixelCount (valid after CalcCentres)
    double Y = 0; ///< centre row, SumY / PixelCount (valid after CalcCentres)
    std::int64_t SumX = 0;
    std::int64_t SumY = 0;
    std::int32_t PixelCount = 0;
};

/// The point list: one entry per distinct code, in the order in which the codes
/// were first added.
class TUniquePoints {
public:
    /// Entries made ready by Reset. More distinct codes are still taken: the
    /// storage grows.
    static constexpr std::int32_t kCapacity = 20000;

    std::vector<TUniquePoint> Entries; ///< entries 0 … EntryCount − 1 are in use
    std::int32_t EntryCount = 0;

    TUniquePoints() { Reset(); }

    /// kCapacity zeroed entries, none in use.
    void Reset();

    /// Gathers the pixel at column x, row y into the entry of its code (a new entry
    /// at the end for a code not met before). Codes ≤ 0 are ignored.
    void AddPixel(std::int32_t code, std::int32_t x, std::int32_t y);

    struct TFound {
        bool Absent = true;
        std::int32_t Index = -1; ///< the entry's position when not absent
    };
    /// The entry in use that holds code, found in constant time.
    TFound FindCode(std::int32_t code) const;

    /// Gathers every pixel of the matrix with AddPixel's result, as if called for
    /// each column from the left and each row from the top, column after column.
    /// threads: how many threads may share the work (0: all cores).
    void AddCodeMatrix(const TCode& matrix, int threads = 1);

    /// AddCodeMatrix in steps, for a caller that computes the matrix in bands of rows
    /// and gathers each band while it is at hand: BeginBands(n); AddBandRows for
    /// every row of the matrix, each band on a thread of its own if need be and the
    /// rows of one band in order from the top; EndBands.
    void BeginBands(int bands);
    void AddBandRows(int band, const TCode& matrix, std::int32_t begin, std::int32_t end);
    void EndBands();

    /// Shrinks the storage to the entries in use.
    void Trim();
    /// X and Y of every entry in use.
    void CalcCentres();
    /// Writes the points file under exactly fileName, atomically: one line per entry,
    /// "code x y pixelcount" with the centres to two decimals ("." whatever the
    /// locale, an exact half rounded up), CR LF after every line; empty without
    /// entries. Raises EFileError when the file cannot be written.
    void WritePoints(const std::string& fileName) const;
    /// The text WritePoints writes.
    std::string PointsText() const;

private:
    // The sums of one code over a band of rows, and its first pixel in column order.
    struct TGather {
        std::int64_t SumX = 0;
        std::int64_t SumY = 0;
        std::int32_t Count = 0;
        std::int32_t FirstCol = 0;
        std::int32_t FirstRow = 0;
    };
    // The codes of one band of rows; kept between scans and cleared after each.
    struct TBandGather {
        std::vector<TGather> Table;                           // codes 1 … 32767
        std::vector<std::int32_t> Used;                       // codes met in the table
        std::vector<std::pair<std::int32_t, TGather>> Others; // codes above it, rare
        void AddRows(const TCode& matrix, std::int32_t begin, std::int32_t end);
        void Add(std::int32_t code, std::int32_t col, std::int32_t row, std::int32_t run);
    };

    void Append(const TUniquePoint& entry);
    void MergeBands();

    // Entry index + 1 for codes 1 … 32767 (0: absent); other codes in otherCodes_.
    std::vector<std::int32_t> lookup_;
    std::vector<std::pair<std::int32_t, std::int32_t>> otherCodes_;
    std::vector<TBandGather> bands_;
    int bandCount_ = 1;
};

/// Formats a centre coordinate with two decimals, "." as decimal point, a value
/// exactly halfway rounded away from zero (10.125 → "10.13").
std::string FormatCentre(double value);

/// Formats value with decimals decimals (0 … 17), "." as decimal point whatever the
/// locale, a value exactly halfway rounded away from zero; "nan" for one that is
/// not a finite number.
std::string FormatFixed(double value, int decimals);

/// Rounds to the nearest integer, a value exactly halfway going to the even one
/// (10.5 → 10, 11.5 → 12).
std::int32_t RoundToPixel(double value);

// ---------------------------------------------------------------------------
// The evaluator

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

    /// True when Pics holds exactly 17 planes, all of Width × Height, and that size
    /// holds pixels; otherwise why not goes to reason (when given).
    bool IsStackComplete(std::string* reason = nullptr) const;

    /// The threshold of a pixel: plane 2 − Tolerance where plane 2 exceeds plane 0 by
    /// more than MinDif (a pixel on a lit dot), else 256. Also 256 outside plane 0 or 2.
    double Threshold(std::int32_t row, std::int32_t col) const;

    /// Rebuilds CodeMatrix at Height × Width. A stack that is not complete gives a
    /// matrix of zeros and no plane is read.
    void CalcMatrix();

    /// The whole run: CalcMatrix, the point list, the points file under fileName,
    /// the marks drawn into display and, with withBitmap, the marked picture saved
    /// as a BMP named fileName with its extension replaced by ".bmp". Raises
    /// EFileError when a file cannot be written; a points file that fails leaves
    /// display and the BMP untouched. With a tableFileName, the refined centres of
    /// the points (RefineCentres) are written there as the point table
    /// (PointTableText); its bytes are written before the points file and it is put
    /// in place last, so a table that cannot be written fails the run before any
    /// file is replaced. Names that OutputProblem refuses, given the files the
    /// stack was loaded from, raise std::invalid_argument before anything is written.
    void Evaluate(const std::string& fileName, bool withBitmap, TBitmap& display,
                  const std::string& tableFileName = {});

    /// Why Evaluate would refuse these output names, or empty: a points file that
    /// its bitmap would replace (a name ending in ".bmp" while the bitmap is on), a
    /// table named like the points file or the bitmap (the same file, or the same
    /// path once resolved), or an output that is the same file as one of inputs.
    static std::string OutputProblem(const std::string& fileName, bool withBitmap,
                                     const std::string& tableFileName,
                                     const std::vector<std::string>& inputs);

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

private:
    class TEarlyPointBitmap;
    // CalcMatrix on the given number of threads.
    void CalcCodes(int threads);
    // Whether display, once marked, is the picture SavePointBitmap builds.
    bool DisplayIsPointBitmap(const TBitmap& display) const;
    // SavePointBitmap, saving the marked display itself where it is that picture.
    void SaveMarkedDisplay(const std::string& fileName, const TBitmap& display) const;
    // The rows that hold a mark, each once, from the top.
    std::vector<std::int32_t> MarkedRows() const;
};
