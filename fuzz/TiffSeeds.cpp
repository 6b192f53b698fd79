// The seeds of fuzz_tiff: depths, compressions, byte orders, separate planes, strips
// and tiles, palettes, kinds the input refuses, and damaged data, made with the TIFF
// writer of the tools.

#include "FuzzSupport.h"
#include "Seeds.h"
#include "TiffWriter.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace NSeeds {

namespace {

std::string Tiff(const std::vector<TRawPicture>& images, const TTiffWriteOptions& options) {
    return Text(EncodeTiff(images, options));
}

} // namespace

void TiffSeeds(const fs::path& folder) {
    constexpr int w = 24, h = 16;
    TTiffWriteOptions o;
    for (int bits : {1, 2, 4, 8, 12, 16})
        Write(folder / ("grey" + std::to_string(bits) + ".tif"),
              Tiff({SamplePicture(w, h, 1, 0, bits, bits)}, o));
    o.Photometric = TTiffPhotometric::MinIsWhite;
    o.Compression = TTiffCompression::PackBits;
    Write(folder / "min-is-white-packbits.tif", Tiff({SamplePicture(w, h, 1, 0, 8, 1)}, o));

    o = {};
    o.Photometric = TTiffPhotometric::Rgb;
    o.Compression = TTiffCompression::Lzw;
    Write(folder / "rgb8-lzw.tif", Tiff({SamplePicture(w, h, 3, 0, 8, 2)}, o));
    o.Compression = TTiffCompression::Deflate;
    o.BigEndian = true;
    Write(folder / "rgb16-deflate-mm.tif", Tiff({SamplePicture(w, h, 3, 0, 16, 3)}, o));
    o.Compression = TTiffCompression::PackBits;
    o.ExtraSamples = 1;
    o.BigEndian = false;
    Write(folder / "rgba8-packbits.tif", Tiff({SamplePicture(w, h, 3, 1, 8, 4)}, o));
    o.Compression = TTiffCompression::None;
    o.RowsPerStrip = 5;
    Write(folder / "rgba8-strips5.tif", Tiff({SamplePicture(w, h, 3, 1, 8, 5)}, o));

    o = {};
    o.RowsPerStrip = 1;
    o.Compression = TTiffCompression::Lzw;
    Write(folder / "grey8-strips1-lzw.tif", Tiff({SamplePicture(w, h, 1, 0, 8, 6)}, o));

    // Separate planes, in strips and in tiles; tiles that reach beyond the picture.
    o = {};
    o.Photometric = TTiffPhotometric::Rgb;
    o.PlanarSeparate = true;
    Write(folder / "rgb8-separate.tif", Tiff({SamplePicture(w, h, 3, 0, 8, 7)}, o));
    o.BigEndian = true;
    o.ExtraSamples = 1;
    o.Compression = TTiffCompression::Deflate;
    Write(folder / "rgba16-separate-mm.tif", Tiff({SamplePicture(w, h, 3, 1, 16, 8)}, o));
    o = {};
    o.TileWidth = o.TileHeight = 16;
    o.Compression = TTiffCompression::Lzw;
    Write(folder / "grey8-tiles-lzw.tif", Tiff({SamplePicture(w, h + 3, 1, 0, 8, 9)}, o));
    o.Photometric = TTiffPhotometric::Rgb;
    o.PlanarSeparate = true;
    o.Compression = TTiffCompression::Deflate;
    o.BigEndian = true;
    Write(folder / "rgb16-tiles-separate-mm.tif", Tiff({SamplePicture(w, h, 3, 0, 16, 10)}, o));
    o.PlanarSeparate = false;
    o.Compression = TTiffCompression::PackBits;
    Write(folder / "rgb4-tiles-packbits.tif", Tiff({SamplePicture(w, h, 3, 0, 4, 11)}, o));

    // Palettes of 16-bit colours and of 8-bit ones stored unscaled.
    o = {};
    o.Photometric = TTiffPhotometric::Palette;
    Write(folder / "palette4.tif",
          Tiff({WithPalette(SamplePicture(w, h, 1, 0, 8, 12), 16, 257)}, o));
    o.Compression = TTiffCompression::Lzw;
    Write(folder / "palette8-unscaled.tif",
          Tiff({WithPalette(SamplePicture(w, h, 1, 0, 8, 13), 256, 1)}, o));

    // Several images, of which only the first is read.
    o = {};
    o.Compression = TTiffCompression::Deflate;
    Write(folder / "two-images.tif",
          Tiff({SamplePicture(w, h, 1, 0, 8, 14), SamplePicture(16, 8, 1, 0, 16, 15)}, o));

    // 16-bit samples whose largest value the file tells, and one that tells 0.
    o = {};
    o.MaxSampleValue = 4095;
    TRawPicture deep = SamplePicture(w, h, 1, 0, 12, 16);
    deep.Bits = 16;
    Write(folder / "grey16-max4095.tif", Tiff({deep}, o));
    o.MaxSampleValue = 0;
    deep = SamplePicture(8, 8, 1, 0, 12, 17);
    deep.Bits = 16;
    Write(folder / "grey16-max0.tif", Tiff({deep}, o));

    // Kinds that must be refused.
    o = {};
    TRawPicture floats = SamplePicture(8, 8, 1, 0, 16, 18);
    floats.Bits = 32;
    for (std::uint32_t& v : floats.Values)
        v = std::bit_cast<std::uint32_t>(float(v) / 65535);
    o.SampleFormat = TTiffSampleFormat::Float;
    Write(folder / "float32.tif", Tiff({floats}, o));
    o.SampleFormat = TTiffSampleFormat::Signed;
    Write(folder / "signed16.tif", Tiff({SamplePicture(8, 8, 1, 0, 16, 19)}, o));
    o = {};
    o.Photometric = TTiffPhotometric::Separated;
    Write(folder / "cmyk.tif", Tiff({SamplePicture(8, 8, 4, 0, 8, 20)}, o));
    o.Photometric = TTiffPhotometric::YCbCr;
    Write(folder / "ycbcr.tif", Tiff({SamplePicture(8, 8, 3, 0, 8, 21)}, o));
    o.Photometric = TTiffPhotometric::Rgb;
    o.ExtraSamples = 2;
    Write(folder / "five-samples.tif", Tiff({SamplePicture(8, 8, 3, 2, 8, 22)}, o));
    o = {};
    TRawPicture wide = SamplePicture(8, 8, 1, 0, 16, 23);
    wide.Bits = 24;
    Write(folder / "grey24.tif", Tiff({wide}, o));

    // Damaged: bytes changed in the compressed data, which comes before the directory.
    o = {};
    o.Compression = TTiffCompression::Lzw;
    o.BigEndian = true;
    std::string lzw = Tiff({SamplePicture(w, h, 1, 0, 8, 24)}, o);
    for (std::size_t i = 12; i < 40; i += 3)
        lzw[i] = char(lzw[i] ^ 0x5A);
    Write(folder / "damaged-lzw.tif", lzw);
}

} // namespace NSeeds
