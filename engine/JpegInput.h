#pragma once
// JPEG input: a photograph's header, and its pixels decoded into a plane.

#include "Plane.h"

#include <cstddef>
#include <cstdint>
#include <string>

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

/// LoadPlaneFromJpeg for a plane whose values are not needed: the photograph is
/// read and checked as LoadPlaneFromJpeg does, with the same result and errors,
/// but most of its rows are passed over without being made, and the plane gets the
/// picture's size with every value 0 (which costs no memory until written).
bool LoadPlaneSizeFromJpeg(TPic& plane, const std::string& fileName, std::uint8_t channel);

/// LoadPlaneFromJpeg for a photograph held in memory; name stands for it in error
/// messages. Raises EJpegError as LoadPlaneFromJpeg does.
void DecodeJpegPlane(TPic& plane, const std::uint8_t* data, std::size_t size,
                     const std::string& name, std::uint8_t channel);

/// Takes in a photograph's values row by row, from the top (DecodeJpegRows).
class TJpegRowSink {
public:
    /// The picture's size, once its header is read and checked; called before any
    /// other member. May raise, which ends the decoding.
    virtual void Begin(std::int32_t width, std::int32_t height) = 0;
    /// Whether any of rows first … first + count − 1 is needed. Rows that are not
    /// may be passed over without being made, their data still read and checked;
    /// asked at most once for each band of rows, before the first of them.
    virtual bool Needed(std::int32_t first, std::int32_t count) = 0;
    /// Where the width values of row are to go; valid until RowDone(row).
    virtual std::uint8_t* RowBuffer(std::int32_t row) = 0;
    /// Row's values are in its buffer.
    virtual void RowDone(std::int32_t row) = 0;

protected:
    ~TJpegRowSink() = default;
};

/// Decodes one photograph as LoadPlaneFromJpeg does, handing its values to sink row
/// by row instead of keeping them: false when the file does not exist or is a
/// folder; the same errors raised, whichever rows sink needs.
bool DecodeJpegRows(const std::string& fileName, std::uint8_t channel, TJpegRowSink& sink);

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
