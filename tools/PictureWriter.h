#pragma once
// PNG and TIFF encoding for the sample stacks, tests and benchmarks (the engine
// itself only decodes). Every kind of picture a reader has to take or to refuse can
// be written, its samples exactly as given, so that a reader's results can be
// checked against known values.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

/// The size and sample layout of a picture, without its samples.
struct TPictureShape {
    int Width = 0, Height = 0;
    /// Samples a pixel. PNG: 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA, 1 for a palette
    /// index. TIFF: the colour samples and then TTiffWriteOptions::ExtraSamples more.
    int Samples = 1;
    int Bits = 8; ///< bits a sample as stored: PNG 1, 2, 4, 8 or 16; TIFF 1 … 32
    /// Palette pictures only: red, green and blue of each entry. PNG: 0 … 255, 1 to
    /// 2^Bits entries. TIFF colour map: 0 … 65535, at most 2^Bits entries (Bits ≤ 16),
    /// those missing written black. Indexes beyond the palette are written as given.
    std::vector<std::array<std::uint16_t, 3>> Palette;
};

/// A picture's raw samples: row after row from the top, pixel after pixel from the
/// left, sample after sample.
struct TRawPicture : TPictureShape {
    /// Width × Height × Samples values, each below 2^Bits. A float TIFF's values are
    /// the bit patterns of its floats, a signed TIFF's the two's complement in Bits bits.
    std::vector<std::uint32_t> Values;
};

/// Fills rowCount rows from firstRow on, Width × Samples values each as in
/// TRawPicture::Values, into samples. Called for the bands from the top down, and
/// again for each pass of an interlaced PNG, so that it must give the same values
/// each time. May raise; the writing is then abandoned, nothing is put in place, and
/// the exception is passed on to the caller.
using TSampleRowSource = std::function<void(int firstRow, int rowCount, std::uint32_t* samples)>;

// ---------------------------------------------------------------------------
// PNG

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

// ---------------------------------------------------------------------------
// TIFF

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
