// kelvaron-fuzz-seeds OUT: writes a few seeds for each fuzz target into
// OUT/fuzz_jpeg, OUT/fuzz_list and OUT/fuzz_picset, made with the sample-stack
// generator. Existing files of the same names are replaced; the fuzzers' own
// corpus files beside them are left alone.

#include "FuzzSupport.h"
#include "JpegWriter.h"
#include "PicHolder.h"
#include "SampleStack.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <jpeglib.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

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
    Write(folder / "colour444.jpg", Text(EncodeJpeg(64, 48, 3, colour.data(), {75, false, false})));
    Write(folder / "grey.jpg", Text(EncodeJpeg(64, 48, 1, grey.data())));
    Write(folder / "progressive.jpg", Text(EncodeJpeg(64, 48, 3, colour.data(), {90, true, true})));
    Write(folder / "progressive-grey.jpg",
          Text(EncodeJpeg(64, 48, 1, grey.data(), {90, true, true})));
    Write(folder / "odd-size.jpg", Text(EncodeJpeg(37, 21, 3, odd.data(), {20, true, false})));
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

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
        return 2;
    }
    try {
        const fs::path out = argv[1];
        for (const char* target : {"fuzz_jpeg", "fuzz_list", "fuzz_picset"})
            fs::create_directories(out / target);
        JpegSeeds(out / "fuzz_jpeg");
        ListSeeds(out / "fuzz_list");
        PicSetSeeds(out / "fuzz_picset");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kelvaron-fuzz-seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
