#pragma once
// PNG input through libpng: a picture's header, and its rows as they are decoded.

#include "input/PictureInput.h"

#include <string>

class TInputFile;

/// Reads the header of the PNG picture of an open file, up to its picture data
/// (ReadPictureHeader). Raises EFileError when the file cannot be read and
/// EPictureError when the header is damaged or announces a picture that cannot be
/// held or that its data is too short ever to fill.
TPictureHeader ReadPngHeader(const TInputFile& file, const std::string& fileName,
                             const TPictureSettings& settings);

/// Decodes the PNG picture of an open file into sink row by row, as
/// DecodePictureRows does: every row is decoded, and the rows sink does not need
/// are not converted. Raises as ReadPngHeader does, and EPictureError for damaged
/// data (a bad checksum, data that ends early, chunks out of order).
void DecodePngRows(const TInputFile& file, const std::string& fileName,
                   const TPictureSettings& settings, TPictureRowSink& sink);
