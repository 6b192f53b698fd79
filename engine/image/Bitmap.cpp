#include "image/Bitmap.h"

#include "base/Errors.h"
#include "files/FileUtil.h"
#include "base/Limits.h"
#include "base/Text.h"

#include <stdexcept>

namespace {

void PutLE16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutLE32(std::uint8_t* p, std::uint32_t v) {
    PutLE16(p, v);
    PutLE16(p + 2, v >> 16);
}

std::size_t BytesPerPixel(TPixelFormat format) {
    return format == TPixelFormat::pf24bit ? 3 : 1;
}

} // namespace

TBitmap::TBitmap(std::int32_t width, std::int32_t height, TPixelFormat format) : format_(format) {
    SetSize(width, height);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    format_ = format;
    Reallocate();
}

void TBitmap::SetSize(std::int32_t width, std::int32_t height) {
    if (!IsPictureSize(width, height))
        throw std::invalid_argument("a bitmap of " + SizeText(width, height) +
                                    " pixels is not possible");
    width_ = width;
    height_ = height;
    Reallocate();
}

void TBitmap::Reallocate() {
    stride_ = BitmapStride(width_, format_);
    try {
        pixels_.Resize(height_, static_cast<std::int32_t>(stride_));
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory("a bitmap of " + SizeText(width_, height_) + " pixels",
                         std::uint64_t(stride_) * std::uint64_t(height_));
    }
}

void TBitmap::SaveToFile(const std::string& fileName) const {
    const std::vector<std::uint8_t> header = BmpFileHeader(width_, height_, format_);
    TAtomicFile file(fileName);
    file.Write(header.data(), header.size());
    // Our rows are already padded to 4 bytes with zeros, exactly as BMP stores them;
    // they go out bottom row first, wide ones straight from the bitmap a group at a
    // time, narrow ones through the file's buffer.
    constexpr std::size_t kWideRow = 4096;
    constexpr std::size_t kRowsPerGroup = 512;
    std::vector<TAtomicFile::TBlock> blocks;
    for (std::int32_t row = height_ - 1; row >= 0; --row) {
        if (stride_ < kWideRow) {
            file.Write(ScanLine(row), stride_);
            continue;
        }
        blocks.push_back({ScanLine(row), stride_});
        if (blocks.size() == kRowsPerGroup || row == 0) {
            file.Write(blocks);
            blocks.clear();
        }
    }
    file.Commit();
}

std::size_t BitmapStride(std::int32_t width, TPixelFormat format) {
    return (std::size_t(width) * BytesPerPixel(format) + 3) & ~std::size_t(3);
}

std::vector<std::uint8_t> BmpFileHeader(std::int32_t width, std::int32_t height,
                                        TPixelFormat format) {
    const bool grey = format == TPixelFormat::pf8bit;
    const std::uint32_t paletteSize = grey ? 256 * 4 : 0;
    const std::uint32_t dataOffset = 14 + 40 + paletteSize;
    const auto imageSize =
        static_cast<std::uint32_t>(BitmapStride(width, format) * std::size_t(height));

    std::vector<std::uint8_t> header(dataOffset, 0);
    header[0] = 'B';
    header[1] = 'M';
    PutLE32(&header[2], dataOffset + imageSize);
    PutLE32(&header[10], dataOffset);
    PutLE32(&header[14], 40); // BITMAPINFOHEADER
    PutLE32(&header[18], static_cast<std::uint32_t>(width));
    PutLE32(&header[22], static_cast<std::uint32_t>(height)); // positive: bottom-up rows
    PutLE16(&header[26], 1);                                  // planes
    PutLE16(&header[28], grey ? 8 : 24);
    PutLE32(&header[30], 0); // BI_RGB, no compression
    PutLE32(&header[34], imageSize);
    PutLE32(&header[38], 2835); // 72 dots per inch
    PutLE32(&header[42], 2835);
    PutLE32(&header[46], grey ? 256 : 0);
    for (std::size_t v = 0; grey && v < 256; ++v)
        header[54 + 4 * v] = header[54 + 4 * v + 1] = header[54 + 4 * v + 2] =
            static_cast<std::uint8_t>(v);
    return header;
}
