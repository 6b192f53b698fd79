#pragma once
// The picture stack (TPics): up to 256 planes, loaded from the photographs a JPEG
// list file names, or from a picture set.

#include "image/Bitmap.h"
#include "input/PictureRows.h"
#include "image/Plane.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

/// The size of a picture, for working out what a stack takes.
struct TPictureSize {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    /// Bytes a pixel takes: 1 for a plane, 3 with its full-depth values beside it.
    int Bytes = 1;
};

/// Empty when planes of these sizes fit into the memory the process may still
/// use; otherwise a sentence with the figures: "The 256 pictures of 16384 x 16384
/// need 64 GiB; 7.6 GiB are available."
std::string StackMemoryProblem(const std::vector<TPictureSize>& sizes);

/// How LoadFromList goes about its work.
struct TLoadOptions {
    /// Relative photograph names are resolved against this folder; empty: against
    /// the current directory.
    std::string BaseFolder;
    /// The planes whose values are needed; empty: all. Any other plane gets its
    /// photograph's size with every value 0, its photograph still read and checked
    /// (the same errors), but hardly decoded. With BaseFolder the only settings that
    /// change what is loaded.
    std::function<bool(std::int32_t plane)> Keep;
    /// 16-bit photographs: their samples' largest value is 2^Bits − 1
    /// (TPictureSettings::Bits); 0: 65535, or a TIFF's MaxSampleValue.
    int Bits = 0;
    /// The planes also kept at their photographs' full depth (TPics::DeepPlanes)
    /// when the photograph of any of them holds more than 8 bits a sample; empty:
    /// none.
    std::function<bool(std::int32_t plane)> FullDepth;
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

/// How many photographs may be decoded at once: the setting's cores
/// (ThreadsFor), no more than there are photographs, and no more than the memory
/// the process may still use holds, beside planeBytes that the loaded pictures
/// take, decoders that each take decoderBytes of working memory. At least 1.
int DecodeThreads(int setting, std::size_t photographs, std::uint64_t planeBytes,
                  std::uint64_t decoderBytes);

/// What decoding the photographs of a list gave (DecodeEach).
struct TDecodeResult {
    std::vector<char> Found;     ///< per photograph: 1 when it existed and was decoded
    std::int32_t FirstError = 0; ///< the lowest photograph whose decoding raised; else the count
    std::exception_ptr Error;    ///< what it raised; empty when none did
};

/// Decodes the photographs named by names with decodeOne(i), which tells whether
/// photograph i was found, as LoadFromList decodes them: on options.Threads threads
/// beside the calling one, beginning them in the given order (each index once); the
/// calling thread reports options.Progress for each one found, in the list's
/// order, and calls options.Idle while it waits. Once a photograph's decoding has
/// raised, later photographs are not begun and progress stops before it; what the
/// lowest one that raised raised is given, not raised.
TDecodeResult DecodeEach(const std::vector<std::string>& names,
                         const std::vector<std::int32_t>& order, const TLoadOptions& options,
                         const std::function<bool(std::int32_t)>& decodeOne);

/// The picture stack: up to 256 planes, numbered from 0, not necessarily of one size.
class TPics {
public:
    std::vector<TPic> Planes;
    /// The planes at their photographs' full depth where a load kept them
    /// (TLoadOptions::FullDepth): empty, or one per plane, 0 × 0 where not kept.
    std::vector<TDeepPic> DeepPlanes;

    std::int32_t Count() const { return static_cast<std::int32_t>(Planes.size()); }

    /// Plane index at full depth, or nullptr where the last load did not keep it.
    const TDeepPic* DeepPlane(std::int32_t index) const;

    /// Changes whenever the planes are replaced as a whole (SetCount, and so every
    /// load that got as far as replacing them); tells a caller whether a failed load
    /// left the former planes in place.
    std::uint64_t Generation() const { return generation_; }

    /// Replaces every plane by count new planes of width × height bytes, all 0.
    /// Raises std::invalid_argument for a count outside 0 … 256 or an impossible size.
    void SetCount(std::int32_t count, std::int32_t width, std::int32_t height);

    /// Loads the photographs (JPEG, PNG or TIFF, told by their first bytes) named
    /// by a list file: lines 1 and 2 are skipped,
    /// line 3 names plane 0, line 4 plane 1 and so on. Names are used as written
    /// (relative ones against the current directory); with namesOnly only the part
    /// after the last '/'; 16-bit samples as options.Bits says, planes kept at
    /// full depth as options.FullDepth says. False when the list file cannot be read (see
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
    // Decodes photograph i into plane i for every name, and into DeepPlanes[i]
    // where deep[i]; gives which were found. Raises the error of the lowest plane
    // whose photograph raised, leaving that plane and every later one 0 x 0, the
    // earlier ones loaded.
    std::vector<char> DecodePlanes(const std::vector<std::string>& names,
                                   const TPictureSettings& settings, const std::vector<char>& deep,
                                   const TLoadOptions& options);

    friend bool LoadPicSet(TPics& pics, const std::string& headerFileName,
                           const TLoadOptions& options);
    std::string lastError_;
    std::vector<std::string> sources_;
    std::uint64_t generation_ = 0;
};
