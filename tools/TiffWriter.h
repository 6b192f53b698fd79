#pragma once
// TIFF encoding for the sample stacks, tests and benchmarks (the engine itself only
// decodes TIFF): every photometric interpretation, depth, sample format, byte order,
// strips or tiles, one image or several, whole pictures or rows made on demand.

#include "RawPicture.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// The Photometric tag. YCbCr pictures are written without chroma subsampling
/// (YCbCrSubsampling 1, 1), their samples as given.
enum class TTiffPhotometric { MinIsBlack, MinIsWhite, Rgb, Palette, Separated /*CMYK*/, YCbCr };
enum class TTiffCompression { None, Lzw, Deflate, PackBits };
enum class TTiffSampleFormat { Unsigned, Signed, Float };

struct TTiffWriteOptions {
    TTiffPhotometric Photometric = TTiffPhotometric::MinIsBlack;
    TTiffCompression Compression = TTiffCompression::None;
    /// Written as a SampleFormat tag unless Unsigned, which a file without one means.
    TTiffSampleFormat SampleFormat = TTiffSampleFormat::Unsigned;
    bool BigEndian = false;      ///< "MM" byte order instead of "II"
    bool PlanarSeparate = false; ///< PlanarConfiguration 2: one plane after another
    int RowsPerStrip = 0; ///< 0: libtiff's default (strips of about 8 KiB); ignored when tiled
    int TileWidth = 0, TileHeight = 0; ///< both > 0, multiples of 16: tiles instead of strips
    /// Samples beyond the colour ones (the last ones of a pixel), marked as
    /// unassociated alpha. The colour samples are written as they are, whether or not
    /// their number suits the photometric interpretation.
    int ExtraSamples = 0;
    std::optional<std::uint16_t> MaxSampleValue; ///< writes the MaxSampleValue tag
};

/// Encodes one image per entry, in their order (a multi-image TIFF for more than
/// one), all with the same options. Samples of 8, 16, 24 and 32 bits are whole bytes
/// in the file's byte order, samples of other depths packed from the high bit down,
/// each row starting on a byte. Raises std::invalid_argument for images or options
/// that do not fit together (see TRawPicture, TPictureShape), and std::runtime_error
/// when libtiff fails.
std::vector<std::uint8_t> EncodeTiff(const std::vector<TRawPicture>& images,
                                     const TTiffWriteOptions& options = {});

/// Encodes as EncodeTiff and writes the file whole (TAtomicFile). The errors name the
/// file; EFileError when it cannot be written.
void WriteTiff(const std::string& fileName, const std::vector<TRawPicture>& images,
               const TTiffWriteOptions& options = {});

/// Writes a one-image TIFF whose rows are made on demand, in bands of bandRows rows
/// rounded up to whole strips or tiles, so that its samples are never held whole;
/// the encoded bytes go straight to the file. Raises as WriteTiff, and
/// std::invalid_argument when the source gives a value of 2^Bits or more.
void WriteTiffRows(const std::string& fileName, const TPictureShape& shape,
                   const TSampleRowSource& source, int bandRows,
                   const TTiffWriteOptions& options = {});
