// The seeds of fuzz_jpeg: photographs encoded by the project's JPEG writer and, with
// settings it does not offer, by libjpeg itself.

#include "FuzzSupport.h"
#include "Seeds.h"
#include "output/JpegWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <jpeglib.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace NSeeds {

namespace {

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

} // namespace

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

} // namespace NSeeds
