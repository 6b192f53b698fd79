#pragma once
// JPEG input: a photograph's header, and its pixels decoded into a plane.

#include "input/PictureInput.h"
#include "image/Plane.h"

#include <cstddef>
#include <cstdint>
#include <string>

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

/// LoadPlaneFromJpeg for a photograph held in memory; name stands for it in error
/// messages. Raises EJpegError as LoadPlaneFromJpeg does.
void DecodeJpegPlane(TPic& plane, const std::uint8_t* data, std::size_t size,
                     const std::string& name, std::uint8_t channel);

class TInputFile;

/// Decodes the JPEG photograph of an open file, from its start, as
/// LoadPlaneFromJpeg does, handing its values to sink row by row instead of keeping
/// them (DecodePictureRows); fileName stands for it in messages. The same errors
/// are raised, whichever rows sink needs.
void DecodeJpegRows(const TInputFile& file, const std::string& fileName, std::uint8_t channel,
                    TPictureRowSink& sink);

/// Reads the header of the JPEG photograph of an open file, from its start, as far
/// as its first scan (ReadPictureHeader). Raises EFileError and EJpegError as
/// LoadPlaneFromJpeg does for a file whose header is unusable.
TPictureHeader ReadJpegHeader(const TInputFile& file, const std::string& fileName);
