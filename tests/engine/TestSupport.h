#pragma once
// Helpers shared by the engine tests: scratch folders, small files, a current
// directory that is restored afterwards.

#include "RawPicture.h"

#include <cstdint>
#include <string>
#include <vector>

/// A fresh folder under the system's temporary folder, removed with everything in
/// it when the object goes.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& path() const { return path_; }
    /// path() + "/" + name
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

/// Makes folder the current directory until the object goes.
class TCurrentDir {
public:
    explicit TCurrentDir(const std::string& folder);
    ~TCurrentDir();
    TCurrentDir(const TCurrentDir&) = delete;
    TCurrentDir& operator=(const TCurrentDir&) = delete;

private:
    std::string previous_;
};

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteFileText(const std::string& path, const std::string& text);
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
/// Names of the entries of a folder, sorted (for "no temporary file left behind").
std::vector<std::string> ListFolder(const std::string& folder);

/// Pixels of a test picture: smooth gradients plus a seeded pattern, so that every
/// channel differs and chroma subsampling has something to do. components is 1
/// (grey), 3 (RGB) or 4 (CMYK); rows are stored one after the other.
std::vector<std::uint8_t> PatternPixels(int width, int height, int components, unsigned seed);

/// Samples of a seeded pattern below 2^bits (bits 1 … 32): the first is 0, the
/// second the largest, and so are every seventh and every eleventh after them.
TRawPicture PatternSamples(int width, int height, int samples, int bits, unsigned seed);

/// The header of a baseline greyscale JPEG picture of width x height whose coded
/// data stops after a few bytes: about 140 bytes that claim a picture of any size.
std::vector<std::uint8_t> TinyJpegHeader(int width, int height);

/// A valid PNG header announcing width x height 8-bit grey pixels, with a few bytes
/// of picture data: about 60 bytes that claim a picture of any size.
std::vector<std::uint8_t> TinyPngHeader(std::uint32_t width, std::uint32_t height);

/// A little-endian TIFF of one uncompressed 8-bit grey strip of width x height
/// pixels whose data is only 16 bytes long: a picture of any size in about 130 bytes.
std::vector<std::uint8_t> TinyTiffHeader(std::uint32_t width, std::uint32_t height);

/// Writes PatternPixels as a JPEG file (quality 90 unless given).
void WritePatternJpeg(const std::string& path, int width, int height, int components, unsigned seed,
                      bool subsample420 = true, bool progressive = false);

/// Where Debian's Chromium is, for the tests that open a page as a browser does.
inline constexpr const char* kChromium = "/usr/bin/chromium";

/// Whether a browser test must run: Chromium is there, or CI=true says it must be
/// (and the test then fails without it).
bool BrowserTestsRun();

/// Opens page in headless Chromium without a network, lets its script run and
/// gives the body's data-report attribute ("(none)" without one); with a
/// screenshot name, also saves how a 1600 × 1200 window shows the page. Raises
/// std::runtime_error with Chromium's messages when it fails.
std::string BrowserReportState(const std::string& page, const std::string& screenshot = {});
