#include "TestSupport.h"

#include "input/PictureRows.h"
#include "output/JpegWriter.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>
#include <zlib.h>

namespace fs = std::filesystem;

TTempDir::TTempDir() {
    std::string pattern = (fs::temp_directory_path() / "kelvaron-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a scratch folder");
    path_ = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

TCurrentDir::TCurrentDir(const std::string& folder) : previous_(fs::current_path().string()) {
    fs::current_path(folder);
}

TCurrentDir::~TCurrentDir() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void WriteFileText(const std::string& path, const std::string& text) {
    WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadFileText(const std::string& path) {
    std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::uint8_t> PatternPixels(int width, int height, int components, unsigned seed) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * std::size_t(height) *
                                     std::size_t(components));
    unsigned state = seed * 2654435761u + 1;
    std::size_t i = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c) {
                state = state * 1103515245u + 12345u;
                unsigned smooth = unsigned(x * (40 + 30 * c) / std::max(width, 1) +
                                           y * (90 - 20 * c) / std::max(height, 1));
                pixels[i++] = static_cast<std::uint8_t>(smooth + seed * 37 + ((state >> 16) & 63));
            }
    return pixels;
}

TRawPicture PatternSamples(int width, int height, int samples, int bits, unsigned seed) {
    TRawPicture picture;
    picture.Width = width;
    picture.Height = height;
    picture.Samples = samples;
    picture.Bits = bits;
    const std::uint64_t largest = LargestSample(bits);
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    picture.Values.resize(std::size_t(width) * std::size_t(height) * std::size_t(samples));
    for (std::size_t i = 0; i < picture.Values.size(); ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const bool top = i == 1 || (i > 1 && i % 11 == 0);
        const bool bottom = i == 0 || (i > 1 && i % 7 == 0);
        picture.Values[i] = std::uint32_t(bottom ? 0
                                          : top  ? largest
                                                 : (state >> 20) % (largest + 1));
    }
    return picture;
}

void WritePatternJpeg(const std::string& path, int width, int height, int components, unsigned seed,
                      bool subsample420, bool progressive) {
    TJpegWriteOptions options;
    options.Chroma = subsample420 ? TJpegChroma::Chroma420 : TJpegChroma::Chroma444;
    options.Progressive = progressive;
    std::vector<std::uint8_t> pixels = PatternPixels(width, height, components, seed);
    WriteJpeg(path, width, height, components, pixels.data(), options);
}

std::vector<std::uint8_t> TinyJpegHeader(int width, int height) {
    std::vector<std::uint8_t> bytes{0xFF, 0xD8};
    auto segment = [&bytes](std::uint8_t marker, std::vector<std::uint8_t> payload) {
        const std::size_t length = payload.size() + 2;
        bytes.insert(bytes.end(), {0xFF, marker, std::uint8_t(length >> 8), std::uint8_t(length)});
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    };
    std::vector<std::uint8_t> table(65, 1); // one quantisation table of ones
    table[0] = 0;
    segment(0xDB, table);
    segment(0xC0, {8, std::uint8_t(height >> 8), std::uint8_t(height), std::uint8_t(width >> 8),
                   std::uint8_t(width), 1, 1, 0x11, 0});
    for (const std::uint8_t kind : {std::uint8_t(0x00), std::uint8_t(0x10)}) {
        std::vector<std::uint8_t> huffman(18, 0); // DC, then AC: one code, for symbol 0
        huffman[0] = kind;
        huffman[1] = 1;
        segment(0xC4, huffman);
    }
    segment(0xDA, {1, 1, 0, 0, 63, 0});
    bytes.insert(bytes.end(), 4, 0);
    return bytes;
}

namespace {

void PutBE32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    for (int shift : {24, 16, 8, 0})
        bytes.push_back(std::uint8_t(value >> shift));
}

// A PNG chunk with its length and checksum.
void AppendChunk(std::vector<std::uint8_t>& png, const char* type,
                 const std::vector<std::uint8_t>& data) {
    PutBE32(png, std::uint32_t(data.size()));
    const std::size_t typeAt = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    PutBE32(png, std::uint32_t(crc32(0, png.data() + typeAt, uInt(4 + data.size()))));
}

} // namespace

std::vector<std::uint8_t> TinyPngHeader(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    PutBE32(header, width);
    PutBE32(header, height);
    header.insert(header.end(), {8, 0, 0, 0, 0}); // 8-bit grey, not interlaced
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT", {0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01});
    AppendChunk(png, "IEND", {});
    return png;
}

std::vector<std::uint8_t> TinyTiffHeader(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> tiff{'I', 'I', 42, 0, 8, 0, 0, 0};
    auto put = [&tiff](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            tiff.push_back(std::uint8_t(value >> (8 * i)));
    };
    const std::uint32_t entries[][3] = {
        // tag, type (3 SHORT, 4 LONG), value
        {256, 4, width}, {257, 4, height}, {258, 3, 8},      {259, 3, 1},  {262, 3, 1},
        {273, 4, 0},     {277, 3, 1},      {278, 4, height}, {279, 4, 16},
    };
    const std::uint32_t dataAt = 8 + 2 + 12 * std::uint32_t(std::size(entries)) + 4;
    put(std::uint32_t(std::size(entries)), 2);
    for (const auto& entry : entries) {
        put(entry[0], 2);
        put(entry[1], 2);
        put(1, 4);
        put(entry[0] == 273 ? dataAt : entry[2], 4);
    }
    put(0, 4); // no next directory
    tiff.resize(tiff.size() + 16, 0x80);
    return tiff;
}

bool BrowserTestsRun() {
    const char* ci = std::getenv("CI");
    return std::filesystem::exists(kChromium) || (ci && std::string(ci) == "true");
}

std::string BrowserReportState(const std::string& page, const std::string& screenshot) {
    TTempDir folder;
    const auto run = [&](const std::string& profile, const std::string& what) {
        const std::string command =
            std::string("timeout 60 ") + kChromium +
            " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
            " --disable-background-networking --disable-component-update --disable-sync"
            " --user-data-dir='" +
            (folder / profile) + "' --virtual-time-budget=10000 " + what + " 'file://" +
            std::filesystem::absolute(page).string() + "' 2>'" + (folder / (profile + ".log")) +
            "'";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("Chromium failed on " + page + ": " +
                                     ReadFileText(folder / (profile + ".log")));
    };
    const std::string dom = folder / "dom.html";
    run("dump", "--dump-dom >'" + dom + "'");
    if (!screenshot.empty())
        run("shot", "--screenshot='" + screenshot + "' --window-size=1600,1200");
    const std::string text = ReadFileText(dom);
    const std::size_t body = text.find("<body");
    const std::size_t end = text.find('>', body);
    const std::size_t at = text.find(" data-report=\"", body);
    if (body == std::string::npos || at == std::string::npos || at > end)
        return "(none)";
    const std::size_t begin = at + 14;
    return text.substr(begin, text.find('"', begin) - begin);
}
