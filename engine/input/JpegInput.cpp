// JPEG input: decodes a photograph through libjpeg straight into a plane or a row
// sink, one scanline at a time, passing over the rows of blocks that are not
// needed where that leaves the others as they are. The decompressor is in
// JpegDecoder, libjpeg's error callbacks in JpegErrors.

#include "input/JpegInput.h"

#include "files/FileUtil.h"
#include "image/GreyMix.h"
#include "input/JpegDecoder.h"

#include <cstdint>
#include <cstdio>
#include <jpeglib.h>
#include <new>
#include <string>
#include <utility>
#include <vector>

using jpeg_detail::TJpegDecoder;

namespace {

// Whether rows can be skipped without changing the rows that are made: a file in
// one scan (a progressive file keeps its coefficients until the end anyway) whose
// colour components are not subsampled while the brightness is subsampled in one
// of the usual ways: 4:4:4, 4:2:0, 4:2:2, 4:4:0 or 4:1:1. Other layouts are rare
// enough to be decoded whole.
bool CanSkipRows(const jpeg_decompress_struct& info) {
    if (jpeg_has_multiple_scans(const_cast<jpeg_decompress_struct*>(&info)))
        return false;
    if (info.num_components == 1)
        return true;
    auto factors = [&info](int component, int h, int v) {
        return info.comp_info[component].h_samp_factor == h &&
               info.comp_info[component].v_samp_factor == v;
    };
    const bool usual = factors(0, 1, 1) || factors(0, 2, 2) || factors(0, 2, 1) ||
                       factors(0, 1, 2) || factors(0, 4, 1);
    return usual && factors(1, 1, 1) && factors(2, 1, 1);
}

// Decodes the photograph whose header readHeader reads into sink.
template <class TReadHeader>
void DecodeInto(TPictureRowSink& sink, const std::string& fileName, std::uint8_t channel,
                TReadHeader readHeader) {
    TJpegDecoder decoder(fileName);
    jpeg_decompress_struct& info = decoder.info();
    readHeader(decoder);
    decoder.CheckHeader();

    if (info.num_components == 3)
        info.out_color_space = JCS_EXT_RGBX; // the same values as RGB, in four-byte pixels
    decoder.Start();
    const auto width = static_cast<std::int32_t>(info.output_width);
    const auto height = static_cast<std::int32_t>(info.output_height);
    const bool grey = info.output_components == 1;
    // Rows are skipped a whole row of blocks at a time, and never the last one: a
    // skip to the bottom would end the decoding without reading the rest of the data.
    const std::int32_t group =
        CanSkipRows(info) ? info.max_v_samp_factor * info.min_DCT_scaled_size : 0;
    const std::int32_t lastGroup = group > 0 ? (height - 1) / group * group : 0;
    try {
        sink.Begin({width, height, 255});
        // A grey row that is not needed goes to rgbx too.
        std::vector<std::uint8_t> rgbx((grey ? 1 : 4) * std::size_t(width));
        std::int32_t row = 0;
        while (row < height) {
            if (group > 0 && row % group == 0) {
                std::int32_t skip = 0;
                while (row + skip < lastGroup && !sink.Needed(row + skip, group))
                    skip += group;
                if (skip > 0) {
                    decoder.SkipScanlines(JDIMENSION(skip));
                    row += skip;
                    continue;
                }
            }
            // Within a row of blocks that is made, a row that is not needed is still
            // read, but neither its channel nor its grey mix is taken.
            if (!sink.Needed(row, 1)) {
                decoder.ReadScanline(rgbx.data());
                ++row;
                continue;
            }
            std::uint8_t* values = sink.RowBuffer(row);
            if (grey) {
                decoder.ReadScanline(values);
            } else {
                decoder.ReadScanline(rgbx.data());
                if (channel <= kChannelBlue)
                    ChannelRow(rgbx.data(), values, width, channel);
                else
                    GreyRow(rgbx.data(), values, width);
            }
            if (std::uint16_t* deep = sink.DeepRowBuffer(row))
                for (std::int32_t col = 0; col < width; ++col)
                    deep[col] = std::uint16_t(257 * values[col]); // v·65535/255 exactly
            sink.RowDone(row++);
        }
    } catch (const std::bad_alloc&) {
        decoder.Raise(NoMemoryForPictureText(width, height));
    }
    decoder.Finish();
}

} // namespace

TPictureHeader ReadJpegHeader(const TInputFile& file, const std::string& fileName) {
    TJpegDecoder decoder(fileName);
    decoder.ReadHeader(file.Descriptor());
    decoder.CheckHeader();
    const jpeg_decompress_struct& info = decoder.info();
    TPictureHeader header;
    header.Format = TPictureFormat::Jpeg;
    header.Width = static_cast<std::int32_t>(info.image_width);
    header.Height = static_cast<std::int32_t>(info.image_height);
    header.Components = info.num_components;
    header.DecoderBytes = decoder.DecoderBytes();
    return header;
}

bool LoadPlaneFromJpeg(TPic& plane, const std::string& fileName, std::uint8_t channel) {
    if (NoFileAt(fileName))
        return false;
    TInputFile file(fileName);
    TPic decoded;
    TPlaneRowSink sink(decoded);
    DecodeInto(sink, fileName, channel,
               [&](TJpegDecoder& decoder) { decoder.ReadHeader(file.Descriptor()); });
    plane = std::move(decoded);
    return true;
}

void DecodeJpegRows(const TInputFile& file, const std::string& fileName, std::uint8_t channel,
                    TPictureRowSink& sink) {
    DecodeInto(sink, fileName, channel,
               [&](TJpegDecoder& decoder) { decoder.ReadHeader(file.Descriptor()); });
}

void DecodeJpegPlane(TPic& plane, const std::uint8_t* data, std::size_t size,
                     const std::string& name, std::uint8_t channel) {
    TPic decoded;
    TPlaneRowSink sink(decoded);
    DecodeInto(sink, name, channel, [&](TJpegDecoder& decoder) { decoder.ReadHeader(data, size); });
    plane = std::move(decoded);
}
