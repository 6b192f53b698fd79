// TIFF input: libtiff reads the first image through positioned reads of the open
// file, a strip's rows or a row of tiles at a time, and each row goes to the sink
// as it comes. Samples of any width from 1 to 16 bits are unpacked here; libtiff
// has put 16-bit ones in the machine's byte order already. The image's directory
// is read and checked in TiffHeader, the handle made in TiffHandle.

#include "input/TiffInput.h"

#include "files/FileUtil.h"
#include "input/TiffHandle.h"
#include "input/TiffHeader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <tiffio.h>
#include <utility>
#include <vector>

using tiff_detail::RaiseDamaged;
using tiff_detail::TOpenTiff;
using tiff_detail::TTiff;
using tiff_detail::TTiffPicture;

namespace {

// Unpacks count samples of bits bits each, packed from the most significant bit
// on, into one container value each.
template <class T> void Unpack(const std::uint8_t* packed, int bits, std::size_t count, T* out) {
    if constexpr (sizeof(T) == 1) {
        if (bits == 8) {
            std::memcpy(out, packed, count);
            return;
        }
    } else {
        if (bits == 16) {
            std::memcpy(out, packed, 2 * count);
            return;
        }
    }
    std::uint32_t buffer = 0;
    int held = 0;
    for (std::size_t i = 0; i < count; ++i) {
        while (held < bits) {
            buffer = buffer << 8 | *packed++;
            held += 8;
        }
        held -= bits;
        out[i] = T((buffer >> held) & LargestSample(bits));
    }
}

// Reads the picture's rows from the top, as packed samples of each plane read.
class TTiffRows {
public:
    /// tiff: the handle that read the picture's directory, which reads plane 0.
    TTiffRows(std::unique_ptr<TTiff> tiff, const TInputFile& file, const std::string& fileName,
              const TTiffPicture& picture)
        : picture_(picture) {
        handles_.push_back(std::move(tiff));
        // A picture stored plane by plane is read with a handle for each plane, so
        // that each reads its strips in order.
        if (!picture.Tiled)
            for (int plane = 1; plane < picture.PlanesRead(); ++plane)
                handles_.push_back(std::make_unique<TTiff>(file, fileName));
        TIFF* tif = handles_.front()->get();
        if (picture.Tiled) {
            tileRowBytes_ = std::size_t(TIFFTileRowSize64(tif));
            const std::size_t across = (picture.Width + picture.TileWidth - 1) / picture.TileWidth;
            bandRowBytes_ = across * tileRowBytes_;
            tile_.resize(std::size_t(TIFFTileSize64(tif)));
            bands_.resize(std::size_t(picture.PlanesRead()));
            for (std::vector<std::uint8_t>& band : bands_)
                band.resize(bandRowBytes_ * std::min(picture.TileLength, picture.Height));
        } else {
            lines_.resize(std::size_t(picture.PlanesRead()));
            for (std::vector<std::uint8_t>& line : lines_)
                line.resize(std::size_t(TIFFScanlineSize64(tif)));
        }
    }

    /// Reads row (the rows come in order, from 0).
    void Read(std::uint32_t row) {
        if (!picture_.Tiled) {
            for (std::size_t plane = 0; plane < lines_.size(); ++plane) {
                const TTiff& tiff = *handles_[plane];
                if (TIFFReadScanline(tiff.get(), lines_[plane].data(), row, std::uint16_t(plane)) <
                    0)
                    tiff.RaiseLast("row " + std::to_string(row) + " cannot be read");
            }
            return;
        }
        bandRow_ = row % picture_.TileLength;
        if (bandRow_ != 0)
            return;
        const TTiff& tiff = *handles_.front();
        const std::size_t rows = std::min(picture_.TileLength, picture_.Height - row);
        for (std::size_t plane = 0; plane < bands_.size(); ++plane) {
            for (std::uint32_t x = 0, i = 0; x < picture_.Width; x += picture_.TileWidth, ++i) {
                if (TIFFReadTile(tiff.get(), tile_.data(), x, row, 0, std::uint16_t(plane)) < 0)
                    tiff.RaiseLast("the tile at column " + std::to_string(x) + ", row " +
                                   std::to_string(row) + " cannot be read");
                for (std::size_t r = 0; r < rows; ++r)
                    std::memcpy(bands_[plane].data() + r * bandRowBytes_ + i * tileRowBytes_,
                                tile_.data() + r * tileRowBytes_, tileRowBytes_);
            }
        }
    }

    /// The packed samples of the last row read, of one plane.
    const std::uint8_t* Packed(std::size_t plane) const {
        return picture_.Tiled ? bands_[plane].data() + bandRow_ * bandRowBytes_
                              : lines_[plane].data();
    }

private:
    const TTiffPicture& picture_;
    std::vector<std::unique_ptr<TTiff>> handles_;
    std::vector<std::vector<std::uint8_t>> lines_; // of each plane, strips
    std::vector<std::uint8_t> tile_;
    std::vector<std::vector<std::uint8_t>> bands_; // of each plane, a row of tiles
    std::size_t tileRowBytes_ = 0, bandRowBytes_ = 0;
    std::size_t bandRow_ = 0;
};

// Turns packed rows into the samples the converter takes: one container value a
// sample, planes interleaved, a palette's indices its colours.
class TTiffSamples {
public:
    explicit TTiffSamples(const TTiffPicture& picture) : picture_(picture) {
        const std::size_t pixels = picture.Width;
        const std::size_t samples = pixels * std::size_t(Layout().Samples);
        if (Layout().Wide)
            wide_.resize(samples);
        else
            bytes_.resize(samples);
        // A palette's indices, or one plane's samples, before they are spread out.
        if (picture.Separate || picture.Palette) {
            const std::size_t plane = pixels * std::size_t(picture.Samples);
            if (picture.Bits > 8)
                planeWide_.resize(plane);
            else
                planeBytes_.resize(plane);
        }
    }

    TSampleLayout Layout() const {
        TSampleLayout layout;
        layout.Samples = picture_.Palette    ? 3
                         : picture_.Separate ? picture_.ColourSamples
                                             : picture_.Samples;
        layout.ColourSamples = picture_.Palette ? 3 : picture_.ColourSamples;
        layout.Wide = picture_.Bits > 8 || picture_.Palette;
        layout.MaxValue = picture_.MaxValue;
        layout.Inverted = picture_.Inverted;
        return layout;
    }

    /// The samples of the row whose planes rows has just read.
    const void* Row(const TTiffRows& rows) {
        if (picture_.Bits > 8)
            return Fill(rows, planeWide_, wide_);
        return Fill(rows, planeBytes_, bytes_);
    }

private:
    template <class T>
    const void* Fill(const TTiffRows& rows, std::vector<T>& plane, std::vector<T>& out) {
        const std::size_t pixels = picture_.Width;
        if (!picture_.Separate && !picture_.Palette) {
            Unpack(rows.Packed(0), picture_.Bits, pixels * std::size_t(picture_.Samples),
                   out.data());
            return out.data();
        }
        if (picture_.Palette) {
            Unpack(rows.Packed(0), picture_.Bits, pixels * std::size_t(picture_.PlaneSamples()),
                   plane.data());
            const std::size_t step = std::size_t(picture_.PlaneSamples());
            for (std::size_t c = 0; c < pixels; ++c)
                for (std::size_t k = 0; k < 3; ++k)
                    wide_[3 * c + k] = picture_.Colours[k][plane[c * step]];
            return wide_.data();
        }
        const std::size_t planes = std::size_t(picture_.PlanesRead());
        for (std::size_t k = 0; k < planes; ++k) {
            Unpack(rows.Packed(k), picture_.Bits, pixels, plane.data());
            for (std::size_t c = 0; c < pixels; ++c)
                out[c * planes + k] = plane[c];
        }
        return out.data();
    }

    const TTiffPicture& picture_;
    std::vector<std::uint8_t> bytes_, planeBytes_;
    std::vector<std::uint16_t> wide_, planeWide_;
};

} // namespace

void DecodeTiffRows(const TInputFile& file, const std::string& fileName,
                    const TPictureSettings& settings, TPictureRowSink& sink) {
    TOpenTiff open = tiff_detail::OpenTiffPicture(file, fileName, settings);
    const TTiffPicture& p = open.Picture;
    const auto width = std::int32_t(p.Width), height = std::int32_t(p.Height);
    try {
        TTiffRows rows(std::move(open.Tiff), file, fileName, p);
        TTiffSamples samples(p);
        TSampleConverter converter(samples.Layout(), settings.Channel);
        sink.Begin({width, height, p.MaxValue});
        for (std::int32_t row = 0; row < height; ++row) {
            rows.Read(std::uint32_t(row));
            if (!sink.Needed(row, 1))
                continue;
            converter.Convert(samples.Row(rows), width, sink.RowBuffer(row),
                              sink.DeepRowBuffer(row));
            sink.RowDone(row);
        }
    } catch (const std::bad_alloc&) {
        RaiseDamaged(fileName, NoMemoryForPictureText(width, height));
    }
}
