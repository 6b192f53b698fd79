// The seeds of fuzz_png: every colour type and depth, interlaced and stored
// pictures, ancillary chunks, and damaged files, made with the PNG writer of the tools.

#include "FuzzSupport.h"
#include "PngWriter.h"
#include "Seeds.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <tuple>
#include <zlib.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace NSeeds {

namespace {

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

} // namespace

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

} // namespace NSeeds
