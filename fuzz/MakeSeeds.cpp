// kelvaron-fuzz-seeds OUT: writes a few seeds for each fuzz target into
// OUT/fuzz_jpeg, OUT/fuzz_list, OUT/fuzz_picset, OUT/fuzz_png and OUT/fuzz_tiff,
// made with the sample-stack generator. Existing files of the same names are
// replaced; the fuzzers' own corpus files beside them are left alone.

#include "FuzzSupport.h"
#include "output/JpegWriter.h"
#include "PicHolder.h"
#include "PngWriter.h"
#include "TiffWriter.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <jpeglib.h>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>
#include <zlib.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string Text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What EncodeWith varies beyond EncodeJpeg's options, so that the seeds reach the
// decoder's other paths: arithmetic coding, restart markers, unusual subsampling,
// colour stored as RGB, and scan scripts of many scans.
struct TEncoding {
    int Width = 48, Height = 32, Components = 3;
    int SampleH = 2, SampleV = 2; ///< of the first component, colour only
    bool Arithmetic = false;
    bool Progressive = false;
    bool StoreRgb = false;
    int RestartRows = 0;
    int Scans = 0; ///< greyscale: this many scans, refining coefficient after coefficient
};

// Encodes sample pixels with libjpeg's own error handling: a failure ends the
// program with libjpeg's message, which for these fixed settings is a bug here.
std::string EncodeWith(const TEncoding& e) {
    const std::vector<std::uint8_t> pixels = SamplePixels(e.Width, e.Height, e.Components, 4);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(e.Width);
    cinfo.image_height = static_cast<JDIMENSION>(e.Height);
    cinfo.input_components = e.Components;
    cinfo.in_color_space = e.Components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (e.StoreRgb)
        jpeg_set_colorspace(&cinfo, JCS_RGB);
    if (e.Components == 3) {
        cinfo.comp_info[0].h_samp_factor = e.SampleH;
        cinfo.comp_info[0].v_samp_factor = e.SampleV;
    }
    cinfo.arith_code = e.Arithmetic ? TRUE : FALSE;
    cinfo.restart_in_rows = e.RestartRows;
    std::vector<jpeg_scan_info> scans;
    if (e.Scans > 0) {
        scans.push_back({1, {0}, 0, 0, 0, 0});
        for (int k = 1; k < 64; ++k) {
            scans.push_back({1, {0}, k, k, 0, 10});
            for (int al = 9; al >= 0; --al)
                scans.push_back({1, {0}, k, k, al + 1, al});
        }
        scans.resize(std::size_t(e.Scans));
        cinfo.scan_info = scans.data();
        cinfo.num_scans = e.Scans;
    } else if (e.Progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t stride = std::size_t(e.Width) * std::size_t(e.Components);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + cinfo.next_scanline * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string bytes(reinterpret_cast<const char*>(out), outSize);
    std::free(out);
    return bytes;
}

void JpegSeeds(const fs::path& folder) {
    const std::vector<std::uint8_t> colour = SamplePixels(64, 48, 3, 2);
    const std::vector<std::uint8_t> grey = SamplePixels(64, 48, 1, 7);
    const std::vector<std::uint8_t> odd = SamplePixels(37, 21, 3, 9);
    Write(folder / "colour420.jpg", Text(EncodeJpeg(64, 48, 3, colour.data())));
    Write(folder / "colour444.jpg",
          Text(EncodeJpeg(64, 48, 3, colour.data(), {75, false, TJpegChroma::Chroma444})));
    Write(folder / "grey.jpg", Text(EncodeJpeg(64, 48, 1, grey.data())));
    Write(folder / "progressive.jpg",
          Text(EncodeJpeg(64, 48, 3, colour.data(), {90, true, TJpegChroma::Chroma420})));
    Write(folder / "progressive-grey.jpg",
          Text(EncodeJpeg(64, 48, 1, grey.data(), {90, true, TJpegChroma::Chroma420})));
    Write(folder / "odd-size.jpg",
          Text(EncodeJpeg(37, 21, 3, odd.data(), {20, false, TJpegChroma::Chroma420})));
    std::vector<std::uint8_t> cmyk(std::size_t(8) * 8 * 4, 0x80);
    Write(folder / "cmyk.jpg", Text(EncodeJpeg(8, 8, 4, cmyk.data())));

    TEncoding e;
    e.Arithmetic = true;
    Write(folder / "arithmetic.jpg", EncodeWith(e));
    e.Progressive = true;
    Write(folder / "arithmetic-progressive.jpg", EncodeWith(e));
    e = {};
    e.RestartRows = 1;
    e.SampleH = 2;
    e.SampleV = 1;
    Write(folder / "restart-422.jpg", EncodeWith(e));
    e = {};
    e.SampleH = 4;
    e.SampleV = 1;
    Write(folder / "subsampled-411.jpg", EncodeWith(e));
    e = {};
    e.SampleH = 1;
    e.SampleV = 1;
    e.StoreRgb = true;
    Write(folder / "stored-rgb.jpg", EncodeWith(e));
    // Many scans over a small greyscale picture: within the limit, and beyond the
    // 500 scans a progressive file may have.
    e = {};
    e.Width = e.Height = 16;
    e.Components = 1;
    e.Arithmetic = true;
    e.Scans = 300;
    Write(folder / "scans-300.jpg", EncodeWith(e));
    e.Scans = 520;
    Write(folder / "scans-520.jpg", EncodeWith(e));
}

void ListSeeds(const fs::path& folder) {
    using namespace NListFolder;
    std::string all = "every file\r\nof the folder\r\n";
    for (const std::string& name : ListFolderNames())
        all += name + "\r\n";
    Write(folder / "all.txt", all);
    Write(folder / "three.txt", std::string("photographs\nin a list\n") + kColour + "\n" + kGrey +
                                    "\n" + kProgressive + "\n");
    Write(folder / "names-only.txt",
          std::string("N names only\n\n/somewhere/else/") + kGrey + "\n./" + kColour444 + "\n");
    std::string stack = "a stack of 17\n\n";
    for (int k = 0; k < 17; ++k)
        stack += (k % 3 == 0 ? kColour : k % 3 == 1 ? kProgressive : kColour) + std::string("\n");
    Write(folder / "stack.txt", stack);
    Write(folder / "missing.txt", std::string("x\ny\nmissing.jpg\n") + kGrey + "\n");
    Write(folder / "damaged.txt", std::string("x\ny\n") + kColour + "\n" + kDamaged + "\n" + kGrey);
    // The first byte picks the options (see FuzzList.cpp): 'd' keeps every plane at
    // full depth, 'l' also sets Bits 12, 'P' keeps the values of the even planes only.
    std::string mixed = "mixed formats\n\n";
    for (int k = 0; k < 17; ++k)
        mixed += (k % 3 == 0 ? kColour : k % 3 == 1 ? kDeepPng : kTiff) + std::string("\n");
    Write(folder / "mixed.txt", mixed);
    Write(folder / "deep.txt",
          std::string("d\n\n") + kDeepPng + "\n" + kTiff + "\n" + kGrey + "\n");
    Write(folder / "deep12.txt", std::string("l\n\n") + kDeepPng + "\n" + kDeepPng + "\n");
    Write(folder / "some-kept.txt",
          std::string("P\n\n") + kTiff + "\n" + kDeepPng + "\n" + kTiff + "\n" + kColour + "\n");
    Write(folder / "float.txt", std::string("x\ny\n") + kTiff + "\n" + kFloatTiff + "\n");
    Write(folder / "devices.txt",
          "x\ny\n/dev/zero\n/dev/null\n/proc/self/status\n" + std::string(kPipe) + "\n");
}

// A picture set saved by the engine, framed as FuzzPicSet reads it.
std::string PicSetInput(int width, int height, int planes) {
    const fs::path folder = fs::path(ScratchFolder()) / "picset";
    fs::create_directories(folder);
    TPics pics;
    pics.SetCount(planes, width, height);
    for (int k = 0; k < planes; ++k) {
        const std::vector<std::uint8_t> pixels = SamplePixels(width, height, 1, k % 17);
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col)
                pics.Planes[std::size_t(k)].Data[row][col] =
                    pixels[std::size_t(row) * std::size_t(width) + std::size_t(col)];
    }
    SavePicSet(pics, (folder / kPicSetHeader).string(), true);
    std::string input = ReadAll(folder / kPicSetHeader);
    for (int k = 0; k < planes; ++k)
        input.append(kSectionMarker).append(ReadAll(folder / PicSetFileName(std::size_t(k))));
    fs::remove_all(folder);
    return input;
}

void PicSetSeeds(const fs::path& folder) {
    Write(folder / "one-plane.bin", PicSetInput(16, 12, 1));
    Write(folder / "three-planes.bin", PicSetInput(24, 8, 3));
    Write(folder / "stack.bin", PicSetInput(12, 10, 17));
    std::string shortPlane = PicSetInput(16, 16, 2);
    shortPlane.resize(shortPlane.size() - 40);
    Write(folder / "short-plane.bin", shortPlane);
    Write(folder / "devices.bin", "title\r\n4\r\n4\r\n----\r\n/dev/zero\r\n/proc/self/status\r\n");
}

// ---------------------------------------------------------------------------
// PNG and TIFF

// PNG's chunk checksum (CRC-32 of the type and the data).
std::uint32_t ChunkCrc(std::string_view bytes) {
    return static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0),
                                            reinterpret_cast<const Bytef*>(bytes.data()),
                                            static_cast<uInt>(bytes.size())));
}

std::string BigEndian32(std::uint32_t v) {
    return {char(v >> 24), char(v >> 16 & 0xFF), char(v >> 8 & 0xFF), char(v & 0xFF)};
}

std::string Chunk(const std::string& type, const std::string& data) {
    return BigEndian32(std::uint32_t(data.size())) + type + data +
           BigEndian32(ChunkCrc(type + data));
}

// The PNG with chunks put before its first IDAT chunk.
std::string WithChunks(std::string png, const std::string& chunks) {
    png.insert(png.find("IDAT") - 4, chunks);
    return png;
}

// The PNG with its IHDR chunk announcing another size, its checksum fixed.
std::string Resized(std::string png, std::uint32_t width, std::uint32_t height) {
    png.replace(16, 8, BigEndian32(width) + BigEndian32(height));
    png.replace(29, 4, BigEndian32(ChunkCrc(png.substr(12, 17))));
    return png;
}

std::string Png(const TRawPicture& picture, TPngColour colour, bool interlaced = false) {
    return Text(EncodePng(picture, {colour, interlaced, 9}));
}

TRawPicture WithPalette(TRawPicture picture, std::size_t entries, std::uint16_t scale) {
    for (std::uint32_t& v : picture.Values)
        v = v * std::uint32_t(entries) / (std::uint32_t(1) << picture.Bits);
    picture.Bits = 1;
    while ((std::size_t(1) << picture.Bits) < entries)
        ++picture.Bits;
    for (std::size_t k = 0; k < entries; ++k)
        picture.Palette.push_back({std::uint16_t(k * 255 / entries * scale),
                                   std::uint16_t((entries - 1 - k) * 255 / entries * scale),
                                   std::uint16_t((k * 7 % entries) * 255 / entries * scale)});
    return picture;
}

void PngSeeds(const fs::path& folder) {
    constexpr int w = 24, h = 16;
    for (int bits : {1, 2, 4, 8, 16})
        Write(folder / ("grey" + std::to_string(bits) + ".png"),
              Png(SamplePicture(w, h, 1, 0, bits, bits), TPngColour::Grey));
    for (int bits : {8, 16}) {
        const std::string depth = std::to_string(bits);
        Write(folder / ("grey-alpha" + depth + ".png"),
              Png(SamplePicture(w, h, 1, 1, bits, 3), TPngColour::GreyAlpha));
        Write(folder / ("rgb" + depth + ".png"),
              Png(SamplePicture(w, h, 3, 0, bits, 4), TPngColour::Rgb));
        Write(folder / ("rgba" + depth + ".png"),
              Png(SamplePicture(w, h, 3, 1, bits, 5), TPngColour::Rgba));
    }
    for (std::size_t entries : {2, 4, 16, 200})
        Write(folder / ("palette" + std::to_string(entries) + ".png"),
              Png(WithPalette(SamplePicture(w, h, 1, 0, 8, 6), entries, 1), TPngColour::Palette));
    Write(folder / "interlaced-grey8.png",
          Png(SamplePicture(w, h, 1, 0, 8, 7), TPngColour::Grey, true));
    Write(folder / "interlaced-grey1.png",
          Png(SamplePicture(13, 11, 1, 0, 1, 8), TPngColour::Grey, true));
    Write(folder / "interlaced-rgb16.png",
          Png(SamplePicture(w, h, 3, 0, 16, 9), TPngColour::Rgb, true));
    Write(folder / "interlaced-palette.png",
          Png(WithPalette(SamplePicture(w, h, 1, 0, 8, 10), 16, 1), TPngColour::Palette, true));
    // Stored without compression, so that the fuzzer's changes to the picture data
    // give other samples instead of a broken stream.
    for (const auto& [name, colour, samples, extra, bits] :
         {std::tuple{"stored-grey8.png", TPngColour::Grey, 1, 0, 8},
          std::tuple{"stored-grey16.png", TPngColour::Grey, 1, 0, 16},
          std::tuple{"stored-rgb8.png", TPngColour::Rgb, 3, 0, 8},
          std::tuple{"stored-rgba16.png", TPngColour::Rgba, 3, 1, 16}})
        Write(folder / name,
              Text(EncodePng(SamplePicture(16, 8, samples, extra, bits, 15), {colour, false, 0})));
    Write(folder / "stored-palette.png",
          Text(EncodePng(WithPalette(SamplePicture(16, 8, 1, 0, 8, 16), 16, 1),
                         {TPngColour::Palette, false, 0})));
    Write(folder / "stored-interlaced-grey4.png",
          Text(EncodePng(SamplePicture(16, 8, 1, 0, 4, 0), {TPngColour::Grey, true, 0})));
    Write(folder / "one-pixel.png", Png(SamplePicture(1, 1, 3, 0, 8, 11), TPngColour::Rgb));
    Write(folder / "one-row.png", Png(SamplePicture(37, 1, 1, 0, 4, 12), TPngColour::Grey));

    // Chunks beside the picture: transparency, gamma, colour space, text, resolution.
    const std::string grey = Png(SamplePicture(w, h, 1, 0, 8, 13), TPngColour::Grey);
    Write(folder / "ancillary.png",
          WithChunks(grey, Chunk("gAMA", BigEndian32(45455)) + Chunk("sRGB", "\x00"s) +
                               Chunk("tEXt", "Comment\0sample"s) +
                               Chunk("pHYs", BigEndian32(2835) + BigEndian32(2835) + "\x01") +
                               Chunk("tRNS", "\x00\x10"s)));
    Write(folder / "palette-trns.png",
          WithChunks(Png(WithPalette(SamplePicture(w, h, 1, 0, 8, 14), 4, 1), TPngColour::Palette),
                     Chunk("tRNS", "\x00\x80\xFF"s)));
    // Damaged: a changed byte in the picture data (its first byte not the
    // signature's, so that FuzzPng.cpp leaves the checksum wrong), cut short, sizes
    // its data cannot fill, and one beyond the limit.
    std::string damaged = grey;
    damaged[damaged.find("IDAT") + 10] ^= 0x21;
    damaged[0] = 'K';
    Write(folder / "bad-crc.png", damaged);
    Write(folder / "cut-short.png", grey.substr(0, grey.size() * 2 / 3));
    Write(folder / "too-short.png", Resized(grey, 4000, 3000));
    Write(folder / "beyond-limit.png", Resized(grey, 20000, 20000));
}

std::string Tiff(const std::vector<TRawPicture>& images, const TTiffWriteOptions& options) {
    return Text(EncodeTiff(images, options));
}

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

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
        return 2;
    }
    try {
        const fs::path out = argv[1];
        for (const char* target :
             {"fuzz_jpeg", "fuzz_list", "fuzz_picset", "fuzz_png", "fuzz_tiff"})
            fs::create_directories(out / target);
        JpegSeeds(out / "fuzz_jpeg");
        ListSeeds(out / "fuzz_list");
        PicSetSeeds(out / "fuzz_picset");
        PngSeeds(out / "fuzz_png");
        TiffSeeds(out / "fuzz_tiff");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kelvaron-fuzz-seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
