#pragma once
// JPEG encoding: the pictures of the report page, and the sample stacks, tests and
// benchmarks.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/// How colour JPEGs sample their chroma against their luma.
enum class TJpegChroma {
    Chroma444, ///< every pixel
    Chroma422, ///< every other column (luma sampling factors 2 × 1)
    Chroma420, ///< every other column of every other row (luma 2 × 2)
};

struct TJpegWriteOptions {
    int Quality = 90; ///< 1 … 100
    bool Progressive = false;
    TJpegChroma Chroma = TJpegChroma::Chroma420; ///< colour: the chroma sampling
};

/// Encodes width × height pixels with components bytes each, row after row:
/// 1 = grey, 3 = red, green, blue, 4 = CMYK. Raises std::runtime_error on failure.
std::vector<std::uint8_t> EncodeJpeg(int width, int height, int components,
                                     const std::uint8_t* pixels,
                                     const TJpegWriteOptions& options = {});

/// Encodes as EncodeJpeg and writes the file. Raises on failure.
void WriteJpeg(const std::string& fileName, int width, int height, int components,
               const std::uint8_t* pixels, const TJpegWriteOptions& options = {});

/// Fills rowCount rows from firstRow on, row after row, width × components bytes
/// each, into rows. May raise; the encoding is then abandoned and the exception
/// passed on to the caller.
using TJpegRowSource = std::function<void(int firstRow, int rowCount, std::uint8_t* rows)>;

/// Encodes a picture whose rows are made on demand, a band of at most bandRows rows
/// at a time, so that the whole picture never has to be held in memory.
std::vector<std::uint8_t> EncodeJpegRows(int width, int height, int components,
                                         const TJpegRowSource& source, int bandRows,
                                         const TJpegWriteOptions& options = {});

/// Encodes as EncodeJpegRows and writes the file. Raises on failure.
void WriteJpegRows(const std::string& fileName, int width, int height, int components,
                   const TJpegRowSource& source, int bandRows,
                   const TJpegWriteOptions& options = {});
