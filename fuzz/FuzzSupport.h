#pragma once
// Shared by the fuzz targets and their seed generator: the scratch folder each
// fuzzing process works in, the photographs and junk files the list target finds
// there, and the framing of a picture-set input.

#include "RawPicture.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// A folder of this process's own under $TMPDIR, else /dev/shm, else /tmp, made on
/// first use and removed with everything in it when the process ends normally.
const std::string& ScratchFolder();

/// Writes the bytes as the file, replacing it; aborts the process when it cannot,
/// since a fuzz target that cannot set up its input would only report noise.
void WriteScratchFile(const std::string& path, const void* data, std::size_t size);
inline void WriteScratchFile(const std::string& path, std::string_view text) {
    WriteScratchFile(path, text.data(), text.size());
}

/// Aborts with the message on stderr: a finding for libFuzzer.
[[noreturn]] void Finding(const std::string& message);

/// A small sample photograph's pixels (width × height, 1 or 3 components), taken
/// from the sample-stack generator so that the seeds look like real input.
std::vector<std::uint8_t> SamplePixels(int width, int height, int components, int picture);

/// SamplePixels as a picture for the PNG and TIFF writers: colourSamples samples of
/// bits bits (1 … 16) a pixel, each 8-bit value scaled to the depth (a fourth colour
/// sample repeats the third), then extraSamples of a gradient (alpha). Any picture
/// number is taken modulo the 17 of a stack.
TRawPicture SamplePicture(int width, int height, int colourSamples, int extraSamples, int bits,
                          int picture);

// ---------------------------------------------------------------------------
// The list target's folder

/// What FillListFolder puts into a folder, by name.
namespace NListFolder {
inline constexpr const char* kColour = "colour.jpg";           ///< colour, 4:2:0
inline constexpr const char* kColour444 = "colour444.jpg";     ///< colour, 4:4:4, other size
inline constexpr const char* kGrey = "grey.jpg";               ///< greyscale
inline constexpr const char* kProgressive = "progressive.jpg"; ///< progressive colour
inline constexpr const char* kDamaged = "damaged.jpg";         ///< cut short, one byte changed
inline constexpr const char* kCmyk = "cmyk.jpg";               ///< four components
inline constexpr const char* kDeepPng = "deep.png";            ///< 16-bit grey
inline constexpr const char* kTiff = "colour.tif";             ///< colour, LZW, big-endian
inline constexpr const char* kFloatTiff = "float.tif";         ///< 32-bit float, refused
inline constexpr const char* kText = "notes.txt";              ///< text, not a photograph
inline constexpr const char* kEmpty = "empty.jpg";             ///< no bytes at all
inline constexpr const char* kFolder = "folder";               ///< a folder
inline constexpr const char* kPipe = "pipe.jpg";               ///< a named pipe nobody writes
inline constexpr const char* kZero = "zero.jpg";               ///< a link to /dev/zero
inline constexpr const char* kLoop = "loop.jpg";               ///< a link to itself
} // namespace NListFolder

/// Every name FillListFolder makes, photographs first.
std::vector<std::string> ListFolderNames();

/// Fills the folder with the photographs and junk of NListFolder.
void FillListFolder(const std::string& folder);

// ---------------------------------------------------------------------------
// Picture-set inputs

/// Separates the sections of a picture-set input: section 0 is the header,
/// section k ≥ 1 the file PicSetFileName(k − 1).
inline constexpr std::string_view kSectionMarker = "\n=====\n";
/// The header's name inside the scratch folder.
inline constexpr const char* kPicSetHeader = "f.bbf";
/// Most plane files one input may carry; further sections are ignored.
inline constexpr std::size_t kMaxPicSetFiles = 32;

/// The name of plane file index, as a header saved under kPicSetHeader lists it.
std::string PicSetFileName(std::size_t index);

/// Splits an input at every kSectionMarker.
std::vector<std::string_view> SplitSections(std::string_view input);
