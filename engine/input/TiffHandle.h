#pragma once
// A libtiff handle over an open file, for the TIFF input of engine/input: its
// reads, and how what libtiff reports becomes an error that names the file.

#include <cstdint>
#include <string>
#include <tiffio.h>

class TInputFile;

namespace tiff_detail {

/// Raises EPictureError: "Cannot decode "name": reason".
[[noreturn]] void RaiseDamaged(const std::string& fileName, const std::string& reason);

/// The open file as one TIFF handle sees it: positioned reads, so that several
/// handles (one for each plane of a picture stored plane by plane) share it.
struct TTiffSource {
    std::string name;
    int fd = -1;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
    int readError = 0;
    std::string error; // the first error libtiff reported
};

/// One libtiff handle over an open file, its first image directory read.
class TTiff {
public:
    /// Raises EFileError when the file cannot be read and EPictureError when it is
    /// no TIFF that libtiff can open.
    TTiff(const TInputFile& file, const std::string& fileName);
    ~TTiff();
    TTiff(const TTiff&) = delete;
    TTiff& operator=(const TTiff&) = delete;

    TIFF* get() const { return tif_; }

    /// Raises what made the last libtiff call fail, or reason when it said nothing.
    [[noreturn]] void RaiseLast(const std::string& reason) const;

private:
    std::string fileName_;
    TTiffSource source_;
    TIFF* tif_ = nullptr;
};

} // namespace tiff_detail
