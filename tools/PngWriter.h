#pragma once
// PNG encoding for the sample stacks, tests and benchmarks (the engine itself only
// decodes PNG): every colour type and bit depth, interlaced or not, whole pictures
// or rows made on demand.

#include "RawPicture.h"

#include <cstdint>
#include <string>
#include <vector>

/// The colour type of a PNG, which fixes TPictureShape::Samples.
enum class TPngColour { Grey, GreyAlpha, Rgb, Rgba, Palette };

struct TPngWriteOptions {
    TPngColour Colour = TPngColour::Grey;
    bool Interlaced = false; ///< Adam7 interlacing
    int Compression = 6;     ///< zlib level 0 … 9
};
/// Encodes the picture: samples of fewer than 8 bits packed from the high bit down,
/// 16-bit ones big-endian, as PNG stores them. Raises std::invalid_argument when the
/// picture's values do not fit its shape (count, range, samples for the colour), and
/// std::runtime_error when libpng refuses the kind (a bit depth the colour type does
/// not have, a palette missing or too long) or fails.
std::vector<std::uint8_t> EncodePng(const TRawPicture& picture,
                                    const TPngWriteOptions& options = {});

/// Encodes as EncodePng and writes the file whole (TAtomicFile). The errors name the
/// file; EFileError when it cannot be written.
void WritePng(const std::string& fileName, const TRawPicture& picture,
              const TPngWriteOptions& options = {});

/// Writes a PNG whose rows are made on demand, at most bandRows rows at a time, so
/// that its samples are never held whole; the encoded bytes go straight to the file.
/// Raises as WritePng, and std::invalid_argument when the source gives a value of
/// 2^Bits or more.
void WritePngRows(const std::string& fileName, const TPictureShape& shape,
                  const TSampleRowSource& source, int bandRows,
                  const TPngWriteOptions& options = {});
