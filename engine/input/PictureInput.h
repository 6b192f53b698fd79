#pragma once
// Photographs of any format the tool reads, told by their first bytes: JPEG, PNG
// and TIFF. Their headers before any pixel, their rows into planes.

#include "image/Plane.h"
#include "input/PictureRows.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// How a photograph is stored.
enum class TPictureFormat { Jpeg, Png, Tiff };

/// The format a file's first bytes (at least 8 of them, fewer at its end) say it
/// has: PNG's signature, a TIFF's byte order and magic number (also BigTIFF's);
/// anything else is taken for a JPEG, so that its decoder says what it is.
TPictureFormat PictureFormatOf(const std::uint8_t* bytes, std::size_t size);

/// What a photograph's header tells before any pixel is decoded.
struct TPictureHeader {
    TPictureFormat Format = TPictureFormat::Jpeg;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    /// Colour samples a pixel: 1 grey, 3 colour (palette pictures too).
    int Components = 0;
    /// Bits a sample (a palette picture: an index) holds as stored: 8 for a JPEG.
    int Bits = 8;
    /// The largest value a sample means (M), the settings' Bits applied.
    std::uint32_t MaxValue = 255;
    /// Working memory decoding takes beside the plane and a row of pixels, in bytes.
    std::uint64_t DecoderBytes = 0;

    /// Whether the samples hold more than a plane's 8 bits.
    bool Deep() const { return Bits > 8; }
};

/// Reads a photograph's header only. Raises EFileError when the file does not
/// exist or cannot be read, and EPictureError (EJpegError for a JPEG) when the
/// header is damaged, announces more than kMaxPlanePixels pixels, or a kind of
/// picture that cannot be read; for a PNG or TIFF also when its compressed data is
/// too short ever to fill the size it announces, or lies beyond the file's end.
TPictureHeader ReadPictureHeader(const std::string& fileName, const TPictureSettings& settings);

/// The headers of a list's photographs, read before any pixel is decoded (ReadPictureHeader).
struct TPictureSurvey {
    /// Per photograph; nullopt where it is missing or its header cannot be read
    /// (EFileError, EPictureError), which its turn to be decoded then settles.
    std::vector<std::optional<TPictureHeader>> Headers;
    /// The most working memory one decoder of these photographs takes.
    std::uint64_t DecoderBytes = 0;

    /// Whether every header was read.
    bool Complete() const;
    /// Whether every header was read and all announce one size, with pixels.
    bool OneSize() const;
};

/// The headers of the photographs names; raises what ReadPictureHeader raises but
/// EFileError and EPictureError.
TPictureSurvey SurveyPictures(const std::vector<std::string>& names,
                              const TPictureSettings& settings);

/// Decodes one photograph, of any format, into plane, keeping one channel of each
/// pixel and turning samples of any depth into plane values (SampleToPlane); with
/// deep, its full-depth values too (SampleToDeep, SourceMax set). False, with the
/// planes untouched, when the file does not exist or is a folder. Raises
/// EFileError when it cannot be read and EPictureError when it does not decode
/// (see ReadPictureHeader; damaged data: a bad checksum, data that ends early);
/// the planes are then untouched too.
bool LoadPlaneFromPicture(TPic& plane, const std::string& fileName,
                          const TPictureSettings& settings, TDeepPic* deep = nullptr);

/// LoadPlaneFromPicture for a plane whose values are not needed: the photograph
/// is read and checked as LoadPlaneFromPicture does, with the same result and
/// errors, but as few of its rows as its format allows are made, and the plane
/// gets the picture's size with every value 0 (which costs no memory until written).
bool LoadPlaneSizeFromPicture(TPic& plane, const std::string& fileName,
                              const TPictureSettings& settings);

/// Decodes one photograph as LoadPlaneFromPicture does, handing its values to sink
/// row by row instead of keeping them: false when the file does not exist or is a
/// folder; the same errors raised, whichever rows sink needs.
bool DecodePictureRows(const std::string& fileName, const TPictureSettings& settings,
                       TPictureRowSink& sink);

/// For the decoders: the reason of a picture whose planes cannot be had, "there is
/// not enough memory for a picture of 4000 x 3000 pixels (11.4 MiB)".
std::string NoMemoryForPictureText(std::int32_t width, std::int32_t height);
