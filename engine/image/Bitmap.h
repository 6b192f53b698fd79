#pragma once
// The engine's bitmap: an image owning its pixel buffer, with the row addresses,
// pixel format and BMP writer that the pixel accessor and the front ends need.

#include "base/Grid.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TAtomicFile;

enum class TPixelFormat {
    pf8bit,  ///< one byte per pixel, a grey level
    pf24bit, ///< three bytes per pixel: blue, green, red
};

/// Bytes of one row of a bitmap, padded to a multiple of 4 as BMP files store them.
std::size_t BitmapStride(std::int32_t width, TPixelFormat format);

/// The start of a Windows BMP file of width × height pixels (BITMAPINFOHEADER, no
/// compression, rows bottom-up), with the grey palette of an 8-bit one; the rows
/// follow it.
std::vector<std::uint8_t> BmpFileHeader(std::int32_t width, std::int32_t height,
                                        TPixelFormat format);

/// The BMP writer every bitmap file goes through: the header of a width × height
/// file of format, then its rows, bottom row first as the file stores them, a
/// megabyte of rows at a time. draw(row, out) fills the BitmapStride bytes of a row
/// (they are 0 before, and its padding must stay 0). Stops early once stopped()
/// holds. Gives the header's size; raises what file raises.
std::size_t WriteBmpRows(TAtomicFile& file, std::int32_t width, std::int32_t height,
                         TPixelFormat format,
                         const std::function<void(std::int32_t row, std::uint8_t* out)>& draw,
                         const std::function<bool()>& stopped = {});

/// An image of Width × Height pixels. Rows are stored top row first, each padded
/// to a multiple of 4 bytes, so a 24-bit image can be shown as it stands by a
/// toolkit image that wraps the buffer (BGR byte order, 4-byte aligned rows).
/// Every change of size or format clears the image to black.
class TBitmap {
public:
    TBitmap() = default;
    /// Raises std::invalid_argument for a negative size or more than 2^28 pixels.
    TBitmap(std::int32_t width, std::int32_t height, TPixelFormat format = TPixelFormat::pf24bit);

    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }
    TPixelFormat PixelFormat() const { return format_; }

    void SetPixelFormat(TPixelFormat format);
    void SetWidth(std::int32_t width) { SetSize(width, height_); }
    void SetHeight(std::int32_t height) { SetSize(width_, height); }
    void SetSize(std::int32_t width, std::int32_t height);

    /// Bytes from the start of one row to the start of the next.
    std::size_t BytesPerLine() const { return stride_; }
    /// Start of row 0 ≤ row < Height (row 0 = top); the rows follow at BytesPerLine.
    std::uint8_t* Bits() { return pixels_.data(); }
    const std::uint8_t* Bits() const { return pixels_.data(); }
    /// Writable start of row 0 ≤ row < Height. Not checked.
    std::uint8_t* ScanLine(std::int32_t row) { return pixels_.data() + row * stride_; }
    const std::uint8_t* ScanLine(std::int32_t row) const { return pixels_.data() + row * stride_; }

    /// Writes an uncompressed Windows BMP (24 bits, or 8 bits with a grey palette),
    /// replacing the file atomically. Raises EFileError when it cannot be written.
    void SaveToFile(const std::string& fileName) const;

private:
    void Reallocate();

    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    TPixelFormat format_ = TPixelFormat::pf24bit;
    std::size_t stride_ = 0;
    TGrid<std::uint8_t> pixels_; // Height rows of BytesPerLine bytes
};
