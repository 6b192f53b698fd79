// The files of a stack: the list, the truth and the photographs load and decode,
// bad options and names are refused before anything is written, colour JPEGs have
// the chosen chroma sampling, and PNG and TIFF photographs hold the rendered samples.

#include "SampleStack.h"

#include "PictureReadBack.h"
#include "SampleRender.h"
#include "SampleTestSupport.h"
#include "SampleTruth.h"
#include "StackSuite.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "files/FileUtil.h"
#include "input/Pics.h"
#include "output/JpegWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

// The luma sampling factors of a JPEG file (chroma is sampled 1 × 1).
std::pair<int, int> LumaSampling(const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    const std::pair<int, int> factors{cinfo.comp_info[0].h_samp_factor,
                                      cinfo.comp_info[0].v_samp_factor};
    EXPECT_EQ(cinfo.comp_info[1].h_samp_factor * cinfo.comp_info[1].v_samp_factor, 1);
    jpeg_destroy_decompress(&cinfo);
    return factors;
}

} // namespace

TEST(SampleStackFiles, ListTruthAndPhotographsLoadAndDecode) {
    TTempDir dir;
    TSampleOptions o = SmallOptions();
    const TSampleStack stack = WriteSampleStack(dir / "new/folder", "st", o);
    EXPECT_EQ(stack.ListFile, dir / "new/folder/st.txt");

    const std::string listText = ReadFileText(stack.ListFile);
    const std::vector<std::string> lines = SplitLines(listText);
    ASSERT_EQ(lines.size(), 19u);
    std::size_t crlf = 0;
    for (std::size_t p = 0; (p = listText.find("\r\n", p)) != std::string::npos; p += 2)
        ++crlf;
    EXPECT_EQ(crlf, 19u);
    EXPECT_EQ(listText.find('\n'), listText.find("\r\n") + 1) << "CR LF line ends";
    ASSERT_EQ(stack.Photographs.size(), 17u);
    for (int k = 0; k < kSamplePictureCount; ++k) {
        EXPECT_EQ(lines[2 + k],
                  "st_" + std::string(k < 10 ? "0" : "") + std::to_string(k) + ".jpg");
        EXPECT_EQ(stack.Photographs[k], dir / "new/folder/" + lines[2 + k]);
    }

    const std::vector<TSampleDot> truth = ReadSampleTruth(stack.TruthFile);
    ASSERT_EQ(truth.size(), stack.Dots.size());
    for (std::size_t i = 0; i < truth.size(); ++i) {
        EXPECT_EQ(truth[i].Code, stack.Dots[i].Code);
        EXPECT_NEAR(truth[i].X, stack.Dots[i].X, 0.0005);
        EXPECT_NEAR(truth[i].Y, stack.Dots[i].Y, 0.0005);
    }

    // Through the JPEG files and the engine's loader, the decoding still finds every dot.
    TPics pics;
    TLoadOptions options;
    options.BaseFolder = ExtractFilePath(stack.ListFile);
    ASSERT_TRUE(pics.LoadFromList(stack.ListFile, false, kChannelGrey, options))
        << pics.LastError();
    ASSERT_EQ(pics.Count(), 17);
    std::vector<std::vector<std::uint8_t>> planes;
    for (const TPic& plane : pics.Planes) {
        ASSERT_EQ(plane.Width, o.Width);
        ASSERT_EQ(plane.Height, o.Height);
        planes.emplace_back(plane.Data.data(), plane.Data.data() + plane.Data.size());
    }
    ExpectDecodes(planes, o.Width, o.Height, stack.Dots, 0.3);

    // Another thread count writes the same files.
    o.Threads = 1;
    o.Greyscale = true;
    o.Width = 160;
    o.Height = 120;
    const TSampleStack one = WriteSampleStack(dir.path(), "a", o);
    o.Threads = 5;
    const TSampleStack five = WriteSampleStack(dir.path(), "b", o);
    for (int k = 0; k < kSamplePictureCount; ++k)
        EXPECT_EQ(ReadFileBytes(one.Photographs[k]), ReadFileBytes(five.Photographs[k])) << k;
}

TEST(SampleStackFiles, RejectsBadOptionsNamesAndFolders) {
    TTempDir dir;
    auto expectBad = [&](auto change) {
        TSampleOptions o = SmallOptions();
        change(o);
        EXPECT_THROW(WriteSampleStack(dir.path(), "x", o), std::invalid_argument);
    };
    expectBad([](TSampleOptions& o) { o.Width = 0; });
    expectBad([](TSampleOptions& o) { o.Spacing = 2; });
    expectBad([](TSampleOptions& o) { o.DotRadius = 13; }); // discs would touch
    expectBad([](TSampleOptions& o) { o.Blur = std::nan(""); });
    expectBad([](TSampleOptions& o) { o.Quality = 101; });
    expectBad([](TSampleOptions& o) { o.Vignetting = 1; });
    expectBad([](TSampleOptions& o) { o.Tint[2] = -1; });
    expectBad([](TSampleOptions& o) { o.Depth = 16; }); // JPEG
    expectBad([](TSampleOptions& o) { o.Format = TSampleFormat::Png, o.Depth = 12; });
    expectBad([](TSampleOptions& o) { o.Format = TSampleFormat::Png, o.SignificantBits = 12; });
    expectBad([](TSampleOptions& o) {
        o.Format = TSampleFormat::Tiff, o.Depth = 16, o.SignificantBits = 0;
    });
    expectBad([](TSampleOptions& o) { o.Format = TSampleFormat::Tiff, o.TiffTile = 40; });
    EXPECT_THROW(WriteSampleStack(dir.path(), "", SmallOptions()), std::invalid_argument);
    EXPECT_THROW(WriteSampleStack(dir.path(), "a/b", SmallOptions()), std::invalid_argument);
    EXPECT_TRUE(ListFolder(dir.path()).empty()) << "nothing written for bad arguments";

    WriteFileText(dir / "file", "in the way");
    try {
        WriteSampleStack(dir / "file/sub", "x", SmallOptions());
        FAIL() << "no error for a folder below a file";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find(dir / "file/sub"), std::string::npos) << e.what();
    }
}

TEST(SampleStackFiles, ColourJpegsWithTheChosenChromaSampling) {
    TTempDir dir;
    TSampleOptions o = SmallOptions();
    o.Width = 96;
    o.Height = 64;
    o.Spacing = 16;
    o.Chroma = TJpegChroma::Chroma422;
    const TSampleStack stack = WriteSampleStack(dir.path(), "c", o);
    EXPECT_EQ(LumaSampling(stack.Photographs[2]), std::pair(2, 1));
    EXPECT_EQ(LumaSampling(stack.Photographs[16]), std::pair(2, 1));

    const std::vector<std::uint8_t> pixels = PatternPixels(40, 24, 3, 1);
    auto sampling = [&](TJpegWriteOptions options) {
        WriteJpeg(dir / "p.jpg", 40, 24, 3, pixels.data(), options);
        return LumaSampling(dir / "p.jpg");
    };
    TJpegWriteOptions options;
    EXPECT_EQ(sampling(options), std::pair(2, 2));
    options.Chroma = TJpegChroma::Chroma444;
    EXPECT_EQ(sampling(options), std::pair(1, 1));
    options.Chroma = TJpegChroma::Chroma422;
    EXPECT_EQ(sampling(options), std::pair(2, 1));
}

// The generator's PNG and TIFF photographs, read back, hold exactly the rendered samples.
TEST(SampleStackPictures, PngAndTiffStacksHoldTheRenderedSamples) {
    TTempDir dir;
    TSampleOptions o = SampleOptionsOf(96, 64, 16);
    o.Threads = 2;
    struct TCase {
        const char* Name;
        TSampleFormat Format;
        bool Grey;
        int Depth, Significant;
        TTiffCompression Compression;
        int Tile;
    };
    const TCase cases[] = {
        {"png8", TSampleFormat::Png, false, 8, 16, {}, 0},
        {"png16", TSampleFormat::Png, true, 16, 16, {}, 0},
        {"tif16", TSampleFormat::Tiff, true, 16, 16, TTiffCompression::Lzw, 32},
        {"tif12", TSampleFormat::Tiff, false, 16, 12, TTiffCompression::Deflate, 0},
        {"tif8", TSampleFormat::Tiff, false, 8, 16, TTiffCompression::PackBits, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        o.Format = c.Format;
        o.Greyscale = c.Grey;
        o.Depth = c.Depth;
        o.SignificantBits = c.Significant;
        o.TiffCompression = c.Compression;
        o.TiffTile = c.Tile;
        const TSampleStack stack = WriteSampleStack(dir.path(), c.Name, o);
        const std::vector<std::string> lines = SplitLines(ReadFileText(stack.ListFile));
        ASSERT_EQ(lines.size(), 19u);
        const std::string extension = c.Format == TSampleFormat::Png ? ".png" : ".tif";
        EXPECT_EQ(lines[2], std::string(c.Name) + "_00" + extension);
        EXPECT_EQ(lines[18], std::string(c.Name) + "_16" + extension);
        std::uint32_t brightest = 0;
        for (int k = 0; k < kSamplePictureCount; ++k) {
            SCOPED_TRACE("picture " + std::to_string(k));
            EXPECT_EQ(stack.Photographs[k], dir / lines[2 + k]);
            TRawPicture expected;
            expected.Width = o.Width;
            expected.Height = o.Height;
            expected.Samples = c.Grey ? 1 : 3;
            expected.Bits = c.Depth;
            if (c.Depth == 8) {
                const std::vector<std::uint8_t> v = RenderSamplePicture(o, stack.Dots, k);
                expected.Values.assign(v.begin(), v.end());
            } else {
                const std::vector<std::uint16_t> v = RenderSamplePicture16(o, stack.Dots, k);
                expected.Values.assign(v.begin(), v.end());
            }
            const TRawPicture read = c.Format == TSampleFormat::Png
                                         ? ReadPng(ReadFileBytes(stack.Photographs[k])).Picture
                                         : ReadTiff(stack.Photographs[k]).at(0).Picture;
            ASSERT_TRUE(SameValues(expected, read));
            for (std::uint32_t v : read.Values)
                brightest = std::max(brightest, v);
        }
        // The bright reference reaches about 235 of 255 levels at the centre.
        EXPECT_LE(brightest, SampleMaxValue(o));
        EXPECT_GT(brightest, SampleMaxValue(o) * 0.85);
    }
}
