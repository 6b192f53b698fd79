#pragma once
// TIFF input through libtiff: the first image's header, and its rows as they are
// decoded.

#include "input/PictureInput.h"

#include <string>

class TInputFile;

/// Reads the first image directory of the TIFF of an open file and checks that its
/// picture can be read (ReadPictureHeader): grey, colour or palette samples of 1
/// to 16 bits, unsigned, at most 4 a pixel, in strips or tiles, uncompressed or
/// compressed with LZW, Deflate or PackBits, each strip or tile inside the file and
/// large enough ever to fill its part of the picture. Raises EFileError when the
/// file cannot be read and EPictureError otherwise: for a kind of picture that
/// cannot be read, one sentence that says what it is (`"p05.tif" is a 32-bit
/// floating-point TIFF; only 1- to 16-bit unsigned pictures can be read.`).
TPictureHeader ReadTiffHeader(const TInputFile& file, const std::string& fileName,
                              const TPictureSettings& settings);

/// Decodes the first image of the TIFF of an open file into sink row by row, as
/// DecodePictureRows does: every strip or tile is decoded, and the rows sink does
/// not need are not converted. Raises as ReadTiffHeader does, and EPictureError for
/// damaged data.
void DecodeTiffRows(const TInputFile& file, const std::string& fileName,
                    const TPictureSettings& settings, TPictureRowSink& sink);
