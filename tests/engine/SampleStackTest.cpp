#include "SampleStack.h"

#include "base/Errors.h"
#include "files/FileUtil.h"
#include "output/JpegWriter.h"
#include "PicHolder.h"
#include "TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <map>
#include <numbers>
#include <optional>
#include <set>
#include <stdexcept>

namespace {

// A small stack that renders in milliseconds.
TSampleOptions SmallOptions() {
    TSampleOptions o;
    o.Width = 320;
    o.Height = 240;
    o.Threads = 2;
    return o;
}

struct TPoint {
    double X = 0, Y = 0;
    int Pixels = 0;
};

// The evaluator's decoding rule on 17 grey planes: a pixel lies on a lit dot when
// plane 2 exceeds plane 0 by more than 80; bit l of its code is set when plane l + 2
// exceeds plane 2 − 30. Pixels sharing a code form a point at their mean position.
std::map<int, TPoint> DecodePoints(const std::vector<std::vector<std::uint8_t>>& planes, int width,
                                   int height) {
    std::map<int, TPoint> points;
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col) {
            const std::size_t i = std::size_t(row) * width + col;
            const int lit = planes[2][i];
            if (lit - planes[0][i] <= 80)
                continue;
            int code = 0;
            for (int l = 0; l <= 14; ++l)
                if (planes[l + 2][i] > lit - 30)
                    code |= 1 << l;
            TPoint& p = points[code];
            p.X += col;
            p.Y += row;
            ++p.Pixels;
        }
    for (auto& [code, p] : points) {
        p.X /= p.Pixels;
        p.Y /= p.Pixels;
    }
    return points;
}

std::vector<std::uint8_t> GreyPlane(const std::vector<std::uint8_t>& pixels, bool rgb) {
    if (!rgb)
        return pixels;
    std::vector<std::uint8_t> grey(pixels.size() / 3);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = GreyValue(pixels[3 * i], pixels[3 * i + 1], pixels[3 * i + 2]);
    return grey;
}

// Every dot decodes to its own code, no pixel to another code, and the point lies
// within maxError pixels of the dot's centre. A thresholded blob's mean position
// wobbles by up to ~0.2 pixels with its pixel outline, but over all dots the error
// averages out: a bias means the centres are rendered off by a constant offset.
void ExpectDecodes(const std::vector<std::vector<std::uint8_t>>& planes, int width, int height,
                   const std::vector<TSampleDot>& dots, double maxError) {
    const std::map<int, TPoint> points = DecodePoints(planes, width, height);
    EXPECT_EQ(points.size(), dots.size());
    double biasX = 0, biasY = 0;
    for (const TSampleDot& dot : dots) {
        auto it = points.find(dot.Code);
        ASSERT_NE(it, points.end()) << "dot " << dot.Number << " not found";
        EXPECT_GT(it->second.Pixels, 20) << "dot " << dot.Number;
        EXPECT_NEAR(it->second.X, dot.X, maxError) << "dot " << dot.Number;
        EXPECT_NEAR(it->second.Y, dot.Y, maxError) << "dot " << dot.Number;
        biasX += (it->second.X - dot.X) / double(dots.size());
        biasY += (it->second.Y - dot.Y) / double(dots.size());
    }
    EXPECT_NEAR(biasX, 0, 0.03);
    EXPECT_NEAR(biasY, 0, 0.03);
}

void ExpectRenderedStackDecodes(const TSampleOptions& options) {
    const std::vector<TSampleDot> dots = LayoutSampleDots(options);
    ASSERT_GT(dots.size(), 50u);
    std::vector<std::vector<std::uint8_t>> planes;
    for (int k = 0; k < kSamplePictureCount; ++k)
        planes.push_back(GreyPlane(RenderSamplePicture(options, dots, k), !options.Greyscale));
    ExpectDecodes(planes, options.Width, options.Height, dots, 0.25);
}

template <class TSample>
double Mean(const std::vector<TSample>& plane, int width, int col0, int row0, int size) {
    double sum = 0;
    for (int r = row0; r < row0 + size; ++r)
        for (int c = col0; c < col0 + size; ++c)
            sum += plane[std::size_t(r) * width + c];
    return sum / (size * size);
}

template <class TSample>
double Spread(const std::vector<TSample>& plane, int width, int col0, int row0, int size) {
    const double mean = Mean(plane, width, col0, row0, size);
    double sum2 = 0;
    for (int r = row0; r < row0 + size; ++r)
        for (int c = col0; c < col0 + size; ++c)
            sum2 += (plane[std::size_t(r) * width + c] - mean) *
                    (plane[std::size_t(r) * width + c] - mean);
    return std::sqrt(sum2 / (size * size));
}

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

TEST(SampleLayout, NumbersCodesAndPlacement) {
    TSampleOptions o = SmallOptions();
    std::vector<TSampleDot> dots = LayoutSampleDots(o);
    ASSERT_FALSE(dots.empty());
    std::set<int> codes;
    int offGrid = 0;
    for (std::size_t n = 0; n < dots.size(); ++n) {
        const TSampleDot& d = dots[n];
        EXPECT_EQ(d.Number, int(n));
        EXPECT_EQ(d.Code, 2 * d.Number + 1);
        codes.insert(d.Code);
        // A pitch of margin on every side.
        EXPECT_GE(d.X, o.Spacing - o.Jitter);
        EXPECT_LE(d.X, o.Width - 1 - o.Spacing + o.Jitter);
        EXPECT_GE(d.Y, o.Spacing - o.Jitter);
        EXPECT_LE(d.Y, o.Height - 1 - o.Spacing + o.Jitter);
        if (std::abs(d.X - dots[0].X - std::round((d.X - dots[0].X) / o.Spacing) * o.Spacing) >
            0.01)
            ++offGrid;
    }
    EXPECT_EQ(codes.size(), dots.size());
    EXPECT_GT(offGrid, int(dots.size()) / 2) << "jitter moves the centres off the grid";
    EXPECT_NEAR(dots[1].X - dots[0].X, o.Spacing, 2 * o.Jitter);

    o.MaxDots = 7;
    EXPECT_EQ(LayoutSampleDots(o).size(), 7u);
    o.MaxDots = 0;
    EXPECT_TRUE(LayoutSampleDots(o).empty());

    // Fewer distinct codes than dots: the codes repeat in dot order.
    o.MaxDots = 7;
    o.DistinctCodes = 3;
    std::vector<int> shared;
    for (const TSampleDot& d : LayoutSampleDots(o))
        shared.push_back(d.Code);
    EXPECT_EQ(shared, (std::vector<int>{1, 3, 5, 1, 3, 5, 1}));
    o.DistinctCodes = 0;

    // A grid with more cells than dot numbers is filled up to 16384, centred.
    o = TSampleOptions{};
    o.Width = 4000;
    o.Height = 3000;
    o.MaxDots = 100000;
    dots = LayoutSampleDots(o);
    ASSERT_EQ(dots.size(), std::size_t(kSampleMaxDots));
    EXPECT_EQ(dots.back().Code, 2 * 16383 + 1);
    EXPECT_NEAR(dots.front().Y + dots.back().Y, o.Height - 1, o.Spacing);
}

TEST(SampleLayout, ShuffledNumbersAndUnevenGainsKeepThePositions) {
    const TSampleOptions plain = SmallOptions();
    TSampleOptions varied = plain;
    varied.Shuffle = true;
    varied.GainSpread = 0.4;
    const std::vector<TSampleDot> a = LayoutSampleDots(plain);
    const std::vector<TSampleDot> b = LayoutSampleDots(varied);
    ASSERT_EQ(a.size(), b.size());
    std::set<int> codesA, codesB;
    int moved = 0;
    double lowest = 2, highest = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(b[i].X, a[i].X);
        EXPECT_EQ(b[i].Y, a[i].Y);
        EXPECT_EQ(b[i].Code, 2 * b[i].Number + 1);
        EXPECT_EQ(a[i].Gain, 1);
        codesA.insert(a[i].Code);
        codesB.insert(b[i].Code);
        moved += b[i].Code != a[i].Code;
        lowest = std::min(lowest, b[i].Gain);
        highest = std::max(highest, b[i].Gain);
    }
    EXPECT_EQ(codesB, codesA) << "the same numbers, dealt out anew";
    EXPECT_GT(moved, int(a.size()) / 2);
    EXPECT_GE(lowest, 0.6);
    EXPECT_LE(highest, 1.4);
    EXPECT_LT(lowest, 0.8);
    EXPECT_GT(highest, 1.2);

    varied.GainSpread = 0.95;
    EXPECT_THROW(LayoutSampleDots(varied), std::invalid_argument);
}

TEST(SampleRender, EveryDotDecodesWithItsCentre) {
    TSampleOptions o = SmallOptions();
    ExpectRenderedStackDecodes(o);
    o.Greyscale = true;
    o.Seed = 7;
    ExpectRenderedStackDecodes(o);
    // A warm tint and heavier blur still leave every dot well above the threshold.
    o.Greyscale = false;
    o.Tint = {1.0, 0.8, 0.6};
    o.Blur = 2.0;
    ExpectRenderedStackDecodes(o);
}

TEST(SampleRender, LevelsNoiseAndVignetting) {
    TSampleOptions o = SmallOptions();
    o.Greyscale = true;
    const std::vector<TSampleDot> dots = LayoutSampleDots(o);
    const std::vector<std::uint8_t> dark = RenderSamplePicture(o, dots, 0);
    const std::vector<std::uint8_t> bright = RenderSamplePicture(o, dots, 1);
    ASSERT_EQ(dark.size(), std::size_t(o.Width) * o.Height);

    // The picture's centre has no vignetting.
    EXPECT_NEAR(Mean(dark, o.Width, 150, 110, 20), o.Ambient, 1.0);
    EXPECT_NEAR(Mean(bright, o.Width, 150, 110, 20), o.Ambient + o.Brightness, 2.0);
    // Corners lose Vignetting of their light.
    EXPECT_NEAR(Mean(bright, o.Width, 0, 0, 4), (o.Ambient + o.Brightness) * (1 - o.Vignetting),
                4.0);

    // Noise: the spread in a flat region matches the option.
    double sum = 0, sum2 = 0;
    int n = 0;
    for (int r = 100; r < 140; ++r)
        for (int c = 140; c < 180; ++c, ++n) {
            const double v = bright[std::size_t(r) * o.Width + c];
            sum += v;
            sum2 += v * v;
        }
    const double sigma = std::sqrt(sum2 / n - (sum / n) * (sum / n));
    EXPECT_NEAR(sigma, o.Noise, 0.5);

    // Dot 0 (code 1) is lit only in picture 2; elsewhere its pixel is at the dark level.
    const TSampleDot& d = dots[0];
    const std::size_t core = std::size_t(std::lround(d.Y)) * o.Width + std::lround(d.X);
    EXPECT_GT(RenderSamplePicture(o, dots, 2)[core], dark[core] + 150);
    EXPECT_NEAR(RenderSamplePicture(o, dots, 3)[core], dark[core], 12);
}

// A 16-bit picture is the 8-bit one's light at a finer step: reduced to 8 bits it
// rounds to the same levels, and noise of a tenth of a level shows.
TEST(SampleRender, SixteenBitPicturesKeepTheEightBitLight) {
    TSampleOptions o = SmallOptions();
    o.Width = 96;
    o.Height = 64;
    o.Spacing = 16;
    o.Format = TSampleFormat::Tiff;
    o.Depth = 16;
    const std::vector<TSampleDot> dots = LayoutSampleDots(o);
    for (int bits : {16, 12}) {
        o.SignificantBits = bits;
        const double top = SampleMaxValue(o);
        ASSERT_EQ(top, (1 << bits) - 1);
        // Rounding to a 16-bit step and to a level are each off by at most half a step.
        const double tolerance = 0.5 + 0.5 * 255 / top + 1e-3;
        for (int k : {0, 1, 2, 9}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, picture " + std::to_string(k));
            const std::vector<std::uint16_t> fine = RenderSamplePicture16(o, dots, k);
            const std::vector<std::uint8_t> coarse = RenderSamplePicture(o, dots, k);
            ASSERT_EQ(fine.size(), coarse.size());
            std::size_t offLevel = 0;
            for (std::size_t i = 0; i < fine.size(); ++i) {
                ASSERT_LE(fine[i], top) << "value " << i;
                ASSERT_NEAR(fine[i] * 255 / top, coarse[i], tolerance) << "value " << i;
                offLevel += std::fmod(fine[i] * 255 / top, 1.0) > 0.01;
            }
            EXPECT_GT(offLevel, fine.size() * 9 / 10) << "not merely the bytes scaled up";
        }
    }

    o.SignificantBits = 16;
    o.Noise = 0.1;
    o.Vignetting = 0;
    o.Greyscale = true;
    const std::vector<std::uint16_t> fine = RenderSamplePicture16(o, dots, 1);
    const std::vector<std::uint8_t> coarse = RenderSamplePicture(o, dots, 1);
    EXPECT_NEAR(Mean(fine, o.Width, 30, 20, 30), (o.Ambient + o.Brightness) * 257, 10);
    EXPECT_NEAR(Spread(fine, o.Width, 30, 20, 30), 0.1 * 257, 4);
    EXPECT_EQ(Spread(coarse, o.Width, 30, 20, 30), 0) << "less than a level vanishes in bytes";
}

// Stacks of earlier versions must stay what they were: the 8-bit light model and its
// noise are unchanged.
TEST(SampleRender, EightBitPicturesAreThoseOfEarlierVersions) {
    TSampleOptions o = SmallOptions();
    o.Width = 96;
    o.Height = 64;
    o.Spacing = 16;
    for (const auto& [grey, expected] :
         {std::pair{false, 0x6ecfe862bb62a02cull}, std::pair{true, 0xd08ebe880d4b061eull}}) {
        o.Greyscale = grey;
        const std::vector<TSampleDot> dots = LayoutSampleDots(o);
        std::uint64_t hash = 1469598103934665603ull; // FNV-1a over every picture
        for (int k = 0; k < kSamplePictureCount; ++k)
            for (std::uint8_t v : RenderSamplePicture(o, dots, k))
                hash = (hash ^ v) * 1099511628211ull;
        EXPECT_EQ(hash, expected) << (grey ? "grey" : "colour");
    }
}

TEST(SampleRender, DeterministicForASeed) {
    TSampleOptions o = SmallOptions();
    const std::vector<TSampleDot> dots = LayoutSampleDots(o);
    const std::vector<std::uint8_t> a = RenderSamplePicture(o, dots, 5);
    EXPECT_EQ(a, RenderSamplePicture(o, dots, 5));
    const std::vector<TSampleDot> again = LayoutSampleDots(o);
    ASSERT_EQ(again.size(), dots.size());
    EXPECT_EQ(again[5].X, dots[5].X);
    EXPECT_EQ(again[5].Y, dots[5].Y);
    o.Seed = 99;
    EXPECT_NE(a, RenderSamplePicture(o, dots, 5)) << "the seed drives the noise";
    EXPECT_NE(LayoutSampleDots(o)[5].X, dots[5].X) << "and the jitter";
    EXPECT_THROW(RenderSamplePicture(o, dots, 17), std::invalid_argument);
    EXPECT_THROW(RenderSamplePicture(o, dots, -1), std::invalid_argument);
}

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

TEST(SampleStackFiles, TruthReaderNamesTheBadLine) {
    TTempDir dir;
    WriteFileText(dir / "t.csv", "dot,code,x,y\n0,1,10.000,12.500\n1,3,34.0\n");
    try {
        ReadSampleTruth(dir / "t.csv");
        FAIL() << "no error for a short line";
    } catch (const EFileError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find(dir / "t.csv"), std::string::npos) << what;
        EXPECT_NE(what.find("line 3"), std::string::npos) << what;
    }
    WriteFileText(dir / "h.csv", "n,code,x,y\n");
    EXPECT_THROW(ReadSampleTruth(dir / "h.csv"), EFileError);
}

TEST(TruthComparison, PointsFilesAndTablesAreScoredByCode) {
    TTempDir dir;
    const std::vector<TSampleDot> truth = {{0, 1, 10.0, 20.0}, {1, 3, 30.0, 40.0}, {2, 5, 50, 60}};
    WriteFileText(dir / "p.txt", "1 10.30 20.40 12\r\n3 30.00 40.00 9\r\n7 1.00 1.00 2\r\n");
    const TTruthComparison points = CompareWithTruth(truth, dir / "p.txt");
    EXPECT_EQ(points.Dots, 3u);
    EXPECT_EQ(points.Found, 2u);
    EXPECT_EQ(points.Extra, 1u);
    EXPECT_NEAR(points.MeanError, 0.25, 1e-9);
    EXPECT_NEAR(points.MaxError, 0.5, 1e-9);
    EXPECT_EQ(points.Far, 0u);

    WriteFileText(dir / "t.csv",
                  "code,dot,x,y,pixels,refined_x,refined_y,blob_pixels,stray_pixels,contrast,"
                  "radius,flags\n"
                  "1,0,10.3000,20.4000,12,10.0100,20.0000,12,0,200,1.9544,\n"
                  "3,1,31.0000,40.0000,9,30.0000,40.6000,9,0,200,1.6926,border\n");
    const TTableComparison table = CompareTableWithTruth(truth, dir / "t.csv");
    EXPECT_EQ(table.Plain.Found, 2u);
    EXPECT_NEAR(table.Plain.MaxError, 1.0, 1e-9);
    EXPECT_EQ(table.Plain.Far, 1u);
    EXPECT_NEAR(table.Refined.MeanError, 0.305, 1e-9);
    EXPECT_NEAR(table.Refined.MaxError, 0.6, 1e-9);
    EXPECT_EQ(table.Refined.Far, 1u);

    for (const char* bad :
         {"code,dot,x\n", "code,dot,x,y,pixels,refined_x,refined_y\n1,0,1,2,3,4\n",
          "code,dot,x,y,pixels,refined_x,refined_y\n1,0,1,2,3,4,x\n"}) {
        WriteFileText(dir / "bad.csv", bad);
        EXPECT_THROW(CompareTableWithTruth(truth, dir / "bad.csv"), EFileError) << bad;
    }
}

// The stack streams its photographs band by band through EncodeJpegRows.
TEST(JpegRows, SameBytesAsAWholeBufferAndSourceErrorsPassThrough) {
    const int width = 70, height = 45;
    const std::vector<std::uint8_t> pixels = PatternPixels(width, height, 3, 5);
    auto copyRows = [&](int first, int count, std::uint8_t* rows) {
        ASSERT_LE(first + count, height);
        std::copy_n(pixels.data() + std::size_t(first) * width * 3, std::size_t(count) * width * 3,
                    rows);
    };
    EXPECT_EQ(EncodeJpegRows(width, height, 3, copyRows, 7),
              EncodeJpeg(width, height, 3, pixels.data()));

    // Under the sanitizers this also shows that the abandoned encoder frees its memory.
    auto failing = [](int first, int, std::uint8_t*) {
        if (first > 0)
            throw std::length_error("band failed");
    };
    EXPECT_THROW(EncodeJpegRows(width, height, 3, failing, 16), std::length_error);
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

// ---------------------------------------------------------------------------
// A camera photographing a planar target.

namespace {

// A camera of fixed intrinsics 1000 / 1100 px, principal point (600, 400), barrel
// distortion, looking at a target 400 units away, turned by 30° about the camera's
// y axis.
TSampleCamera TiltedCamera() {
    TSampleCamera camera;
    camera.Intrinsics = {1000, 1100, 600, 400, -0.2, 0.05};
    camera.Pose.Rotation = {0, std::numbers::pi / 6, 0};
    camera.Pose.Translation = {5, 10, 400};
    return camera;
}

using TMatrix3 = std::array<double, 9>;

TMatrix3 Multiply(const TMatrix3& a, const TMatrix3& b) {
    TMatrix3 c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                c[3 * i + j] += a[3 * i + k] * b[3 * k + j];
    return c;
}

TMatrix3 Inverse(const TMatrix3& m) {
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    return {(m[4] * m[8] - m[5] * m[7]) / det, (m[2] * m[7] - m[1] * m[8]) / det,
            (m[1] * m[5] - m[2] * m[4]) / det, (m[5] * m[6] - m[3] * m[8]) / det,
            (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det,
            (m[3] * m[7] - m[4] * m[6]) / det, (m[1] * m[6] - m[0] * m[7]) / det,
            (m[0] * m[4] - m[1] * m[3]) / det};
}

TMatrix3 Transposed(const TMatrix3& m) {
    return {m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]};
}

// Without distortion the image of a circle is an ellipse: the conic of the circle
// carried through the homography pixel ← target. Its centre, where the light of the
// disc has its centroid, is not the image of the circle's centre.
TSampleXY EllipseCentre(const TSampleCamera& camera, double u, double v, double radius) {
    const TSampleIntrinsics& in = camera.Intrinsics;
    const TMatrix3 R = SampleRotationMatrix(camera.Pose.Rotation);
    const auto& t = camera.Pose.Translation;
    const TMatrix3 K = {in.Fx, 0, in.Cx, 0, in.Fy, in.Cy, 0, 0, 1};
    const TMatrix3 H = Multiply(K, {R[0], R[1], t[0], R[3], R[4], t[1], R[6], R[7], t[2]});
    const TMatrix3 circle = {1, 0, -u, 0, 1, -v, -u, -v, u * u + v * v - radius * radius};
    const TMatrix3 inv = Inverse(H);
    const TMatrix3 c = Multiply(Transposed(inv), Multiply(circle, inv));
    // The centre solves [a b; b d] (x, y) = −(e, f).
    const double a = c[0], b = c[1], d = c[4], e = c[2], f = c[5];
    const double det = a * d - b * b;
    return {(-e * d + f * b) / det, (-a * f + b * e) / det};
}

// The light-weighted centre of a grey picture's pixels within radius of (x, y).
TSampleXY LightCentroid(const std::vector<std::uint16_t>& picture, int width, double x, double y,
                        double radius) {
    double sum = 0, sx = 0, sy = 0;
    const int height = int(picture.size()) / width;
    for (int row = std::max(0, int(y - radius)); row <= std::min(height - 1, int(y + radius));
         ++row)
        for (int col = std::max(0, int(x - radius)); col <= std::min(width - 1, int(x + radius));
             ++col) {
            if (std::hypot(col - x, row - y) > radius)
                continue;
            const double w = picture[std::size_t(row) * width + col];
            sum += w;
            sx += w * col;
            sy += w * row;
        }
    return {sx / sum, sy / sum};
}

// Light only, neither noise nor vignetting nor a dark level, at a fine step.
TSampleOptions CleanCameraOptions(const TSampleCamera& camera) {
    TSampleOptions o;
    o.Width = 640;
    o.Height = 480;
    o.Greyscale = true;
    o.Noise = 0;
    o.Vignetting = 0;
    o.Ambient = 0;
    o.Threads = 2;
    o.Camera = camera;
    return o;
}

} // namespace

TEST(SampleCamera, ProjectsAsComputedByHand) {
    const TSampleCamera camera = TiltedCamera();
    const TSampleProjection projection(camera);

    // Turned by θ about y: X = cos θ u + tx, Y = v + ty, Z = −sin θ u + tz.
    const double u = 30, v = -20;
    const double X = std::sqrt(3.0) / 2 * u + 5, Y = v + 10, Z = -0.5 * u + 400;
    const double x = X / Z, y = Y / Z, r2 = x * x + y * y;
    const double d = 1 - 0.2 * r2 + 0.05 * r2 * r2;
    const std::optional<TSampleXY> p = projection.ToImage(u, v);
    ASSERT_TRUE(p);
    EXPECT_NEAR(p->X, 1000 * x * d + 600, 1e-9);
    EXPECT_NEAR(p->Y, 1100 * y * d + 400, 1e-9);

    // Tracing the pixel back lands on the target point.
    const std::optional<TSampleXY> back = projection.ToTarget(p->X, p->Y);
    ASSERT_TRUE(back);
    EXPECT_NEAR(back->X, u, 1e-9);
    EXPECT_NEAR(back->Y, v, 1e-9);

    // A general rotation vector: orthonormal, its axis fixed, turning by its length.
    const std::array<double, 3> w = {0.3, -0.4, 1.2};
    const TMatrix3 R = SampleRotationMatrix(w);
    const TMatrix3 identity = Multiply(R, Transposed(R));
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(identity[i], i % 4 == 0 ? 1 : 0, 1e-12);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(R[3 * i] * w[0] + R[3 * i + 1] * w[1] + R[3 * i + 2] * w[2], w[i], 1e-12);
    const double angle = std::sqrt(0.09 + 0.16 + 1.44);
    EXPECT_NEAR((R[0] + R[4] + R[8] - 1) / 2, std::cos(angle), 1e-12);
    EXPECT_EQ(SampleRotationMatrix({0, 0, 0}), (TMatrix3{1, 0, 0, 0, 1, 0, 0, 0, 1}));

    // Behind the camera there is no image, and rays that miss the plane meet no target.
    TSampleCamera behind = camera;
    behind.Pose.Translation = {0, 0, -400};
    EXPECT_FALSE(TSampleProjection(behind).ToImage(0, 0));
    EXPECT_FALSE(TSampleProjection(behind).ToTarget(600, 400));
    TSampleCamera edgeOn = camera;
    edgeOn.Intrinsics.K1 = edgeOn.Intrinsics.K2 = 0;
    // Turned by 1.2 about y, the plane's horizon is seen at column 600 − 1000 cot 1.2.
    edgeOn.Pose.Rotation = {0, 1.2, 0};
    const TSampleProjection steep(edgeOn);
    const double horizon = 600 - 1000 / std::tan(1.2);
    EXPECT_TRUE(steep.ToTarget(horizon + 0.5, 400));
    EXPECT_FALSE(steep.ToTarget(horizon - 0.5, 400)) << "beyond the horizon";
}

TEST(SampleCamera, UndistortionInvertsTheDistortion) {
    for (const auto& [k1, k2] :
         {std::pair{-0.2, 0.05}, std::pair{0.15, 0.0}, std::pair{-0.35, -0.05},
          std::pair{-0.4, 0.02}, std::pair{-0.2, 0.0}, std::pair{0.0, 0.0}}) {
        TSampleCamera camera = TiltedCamera();
        camera.Intrinsics.K1 = k1;
        camera.Intrinsics.K2 = k2;
        const TSampleProjection projection(camera);
        const double fold = projection.FoldRadius();
        if (std::isinf(fold)) {
            // Then the distorted radius grows everywhere.
            for (double r = 0; r < 20; r += 0.01)
                ASSERT_GT(1 + 3 * k1 * r * r + 5 * k2 * std::pow(r, 4), 0) << k1 << ' ' << k2;
        } else {
            // The distorted radius stops growing there.
            const double slope = 1 + 3 * k1 * fold * fold + 5 * k2 * std::pow(fold, 4);
            EXPECT_NEAR(slope, 0, 1e-9) << k1 << ' ' << k2;
        }
        const double reach = std::min(1.5, 0.999 * fold);
        for (double x = -reach; x <= reach; x += reach / 7)
            for (double y = -reach; y <= reach; y += reach / 5) {
                if (std::hypot(x, y) >= reach)
                    continue;
                const std::optional<TSampleXY> p = projection.Undistort(projection.Distort({x, y}));
                ASSERT_TRUE(p) << x << ' ' << y;
                EXPECT_NEAR(p->X, x, 1e-12) << k1 << ' ' << k2;
                EXPECT_NEAR(p->Y, y, 1e-12) << k1 << ' ' << k2;
            }
        if (std::isfinite(fold)) {
            // Beyond the fold the model is no lens: no pixel looks there.
            EXPECT_FALSE(projection.Undistort({1.01 * projection.FoldDistortedRadius(), 0}));
            camera.Pose = {{0, 0, 0}, {0, 0, 1}}; // target coordinates are normalised ones
            const TSampleProjection straight(camera);
            EXPECT_TRUE(straight.ToImage(0.99 * fold, 0));
            EXPECT_FALSE(straight.ToImage(1.01 * fold, 0));
        }
    }
}

// Seen square on without distortion, the target is the picture's own grid: the same
// centres, and light that differs only by the plain renderer's approximation of a
// pixel's area by a Gaussian.
TEST(SampleCamera, FrontoParallelViewWithoutDistortionIsThePlainGrid) {
    TSampleOptions plain = SmallOptions();
    plain.Greyscale = true;
    plain.Jitter = 0;
    plain.Noise = 0;
    const std::vector<TSampleDot> grid = LayoutSampleDots(plain);
    std::set<double> columns, rows;
    for (const TSampleDot& dot : grid) {
        columns.insert(dot.X);
        rows.insert(dot.Y);
    }

    TSampleOptions seen = plain;
    TSampleCamera camera;
    camera.Intrinsics = {1200, 1200, (plain.Width - 1) / 2.0, (plain.Height - 1) / 2.0, 0, 0};
    camera.Pose.Translation = {0, 0, 500}; // 10 units on the target are 24 pixels
    camera.Target.Pitch = 10;
    camera.Target.DotRadius = 2.2;
    camera.Target.Columns = int(columns.size());
    camera.Target.Rows = int(rows.size());
    seen.Camera = camera;
    const std::vector<TSampleDot> dots = LayoutSampleDots(seen);
    ASSERT_EQ(dots.size(), grid.size());
    for (std::size_t i = 0; i < dots.size(); ++i) {
        EXPECT_EQ(dots[i].Number, grid[i].Number);
        EXPECT_EQ(dots[i].Code, grid[i].Code);
        EXPECT_NEAR(dots[i].X, grid[i].X, 1e-9);
        EXPECT_NEAR(dots[i].Y, grid[i].Y, 1e-9);
        const int n = int(columns.size());
        EXPECT_EQ(dots[i].TargetX, (int(i) % n - (n - 1) / 2.0) * 10);
    }

    const std::vector<std::uint8_t> a = RenderSamplePicture(plain, grid, 2);
    const std::vector<std::uint8_t> b = RenderSamplePicture(seen, dots, 2);
    ASSERT_EQ(a.size(), b.size());
    int largest = 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
        sum += std::abs(int(a[i]) - int(b[i]));
    }
    EXPECT_LE(largest, 3);
    EXPECT_LT(sum / double(a.size()), 0.2);
    EXPECT_EQ(RenderSamplePicture(plain, grid, 0), RenderSamplePicture(seen, dots, 0));
    EXPECT_EQ(RenderSamplePicture(plain, grid, 1), RenderSamplePicture(seen, dots, 1));
}

// The light of every disc has its centroid where the ellipse of the disc's image has
// its centre: the subsamples are fine enough for centroids to a thousandth of a
// pixel, for dots of 3 to 7 pixels at a steep angle.
TEST(SampleCamera, RenderedCentroidsAreThoseOfTheDiscImages) {
    TSampleCamera camera = TiltedCamera();
    camera.Intrinsics = {1000, 1000, 320, 240, 0, 0};
    camera.Pose.Rotation = {0.45, -0.35, 0.1};
    camera.Pose.Translation = {3, -2, 300};
    camera.Target.Pitch = 12;
    camera.Target.DotRadius = 1.0; // 2.2 to 4.6 pixels across, 3 to 7 along
    camera.Target.Columns = 20;
    camera.Target.Rows = 16;
    const TSampleOptions o = CleanCameraOptions(camera);
    const std::vector<TSampleDot> dots = LayoutSampleDots(o);
    ASSERT_GT(dots.size(), 200u);
    const std::vector<std::uint16_t> lit = RenderSamplePicture16(o, dots, 2);

    double largest = 0, biasX = 0, biasY = 0, shift = 0;
    for (const TSampleDot& dot : dots) {
        const TSampleXY centre = EllipseCentre(camera, dot.TargetX, dot.TargetY, 1.0);
        const TSampleXY light = LightCentroid(lit, o.Width, dot.X, dot.Y, 12);
        largest = std::max(largest, std::hypot(light.X - centre.X, light.Y - centre.Y));
        biasX += (light.X - centre.X) / double(dots.size());
        biasY += (light.Y - centre.Y) / double(dots.size());
        shift = std::max(shift, std::hypot(centre.X - dot.X, centre.Y - dot.Y));
    }
    EXPECT_LT(largest, 0.001);
    EXPECT_LT(std::abs(biasX), 2e-4);
    EXPECT_LT(std::abs(biasY), 2e-4);
    // The truth is the image of the disc's centre, which perspective moves off the
    // ellipse's centre by a little.
    EXPECT_GT(shift, 1e-4);
    EXPECT_LT(shift, 0.01);
}

TEST(SampleCamera, DotsOutOfViewAreLeftOut) {
    TSampleCamera camera;
    camera.Intrinsics = {800, 800, 160, 120, -0.1, 0};
    camera.Pose.Rotation = {0, 0.4, 0};
    camera.Pose.Translation = {60, 0, 500}; // the target's right part is out of view
    camera.Target = {10, 2, 30, 20, 0};
    TSampleOptions o = CleanCameraOptions(camera);
    o.Width = 320;
    o.Height = 240;
    const std::vector<TSampleDot> dots = LayoutSampleDots(o);
    ASSERT_GT(dots.size(), 50u);
    ASSERT_LT(dots.size(), 600u);
    const TSampleProjection projection(camera);
    const double reach = 2 + 4.5 * o.Blur; // half a dot and the blur, in pixels, and more
    for (const TSampleDot& dot : dots) {
        EXPECT_EQ(dot.Code, 2 * dot.Number + 1);
        EXPECT_EQ(dot.TargetX, (dot.Number % 30 - 14.5) * 10);
        EXPECT_EQ(dot.TargetY, (dot.Number / 30 - 9.5) * 10);
        EXPECT_GE(dot.X, reach);
        EXPECT_LE(dot.X, o.Width - 1 - reach);
        EXPECT_GE(dot.Y, reach);
        EXPECT_LE(dot.Y, o.Height - 1 - reach);
    }
    // No light at the border: every dot's light lies inside the picture.
    const std::vector<std::uint16_t> lit = RenderSamplePicture16(o, dots, 2);
    for (int col = 0; col < o.Width; ++col) {
        EXPECT_EQ(lit[std::size_t(col)], 0);
        EXPECT_EQ(lit[std::size_t(o.Height - 1) * o.Width + col], 0);
    }

    // Behind the camera nothing is seen.
    o.Camera->Pose.Translation = {0, 0, -500};
    EXPECT_TRUE(LayoutSampleDots(o).empty());
}

TEST(SampleCamera, TruthTargetAndCameraFiles) {
    TTempDir dir;
    TSampleCamera camera = TiltedCamera();
    camera.Intrinsics = {700, 710, 161.25, 118.5, -0.1, 0.02};
    camera.Pose.Rotation = {0.1, 0.2, 0.3};
    camera.Pose.Translation = {1, 2, 350};
    camera.Target = {8, 1.5, 20, 14, 0.25};
    TSampleOptions o = SmallOptions();
    o.Shuffle = true;
    o.Camera = camera;
    const TSampleStack stack = WriteSampleStack(dir.path(), "cam", o);
    ASSERT_GT(stack.Dots.size(), 100u);
    EXPECT_EQ(stack.TargetFile, dir / "cam_target.csv");
    EXPECT_EQ(stack.CameraFile, dir / "cam_camera.json");

    const std::vector<TSampleDot> truth = ReadSampleTruth(stack.TruthFile);
    ASSERT_EQ(truth.size(), stack.Dots.size());
    const std::vector<std::string> truthLines = SplitLines(ReadFileText(stack.TruthFile));
    EXPECT_EQ(truthLines[1].size() - truthLines[1].rfind('.'), 7u) << "six decimals";
    const std::vector<std::string> target = SplitLines(ReadFileText(stack.TargetFile));
    ASSERT_EQ(target.size(), stack.Dots.size() + 1);
    EXPECT_EQ(target[0], "dot,code,target_x,target_y");
    const TSampleProjection projection(camera);
    for (std::size_t i = 0; i < truth.size(); ++i) {
        const TSampleDot& dot = stack.Dots[i];
        EXPECT_EQ(truth[i].Code, dot.Code);
        EXPECT_NEAR(truth[i].X, dot.X, 5e-7);
        EXPECT_NEAR(truth[i].Y, dot.Y, 5e-7);
        int number = 0, code = 0;
        double u = 0, v = 0;
        ASSERT_EQ(std::sscanf(target[i + 1].c_str(), "%d,%d,%lf,%lf", &number, &code, &u, &v), 4);
        EXPECT_EQ(number, dot.Number);
        EXPECT_EQ(code, dot.Code);
        EXPECT_EQ(u, dot.TargetX) << "read back exactly";
        EXPECT_EQ(v, dot.TargetY);
        const std::optional<TSampleXY> p = projection.ToImage(u, v);
        ASSERT_TRUE(p);
        EXPECT_NEAR(p->X, dot.X, 1e-9);
        EXPECT_NEAR(p->Y, dot.Y, 1e-9);
    }
    const std::string json = ReadFileText(stack.CameraFile);
    for (const char* field :
         {"\"fx\": 700,", "\"fy\": 710,", "\"cx\": 161.25,", "\"k1\": -0.1,", "\"k2\": 0.02,",
          "\"rotation\": [0.1, 0.2, 0.3],", "\"translation\": [1, 2, 350],", "\"pitch\": 8,",
          "\"jitter\": 0.25}", "\"width\": 320,"})
        EXPECT_NE(json.find(field), std::string::npos) << field << '\n' << json;
    EXPECT_NE(json.find("\"dots\": " + std::to_string(stack.Dots.size())), std::string::npos);

    // Jitter moves the dots off the grid on the target, by at most its value.
    int offGrid = 0;
    for (const TSampleDot& dot : stack.Dots) {
        const double gx = dot.TargetX / 8 + 9.5, gy = dot.TargetY / 8 + 6.5;
        EXPECT_LE(std::abs(gx - std::round(gx)) * 8, 0.25 + 1e-12);
        offGrid += std::abs(gx - std::round(gx)) > 1e-6;
        EXPECT_LE(std::abs(gy - std::round(gy)) * 8, 0.25 + 1e-12);
    }
    EXPECT_GT(offGrid, int(stack.Dots.size()) / 2);

    // Through the files and the engine's loader, every dot decodes near its centre.
    TPics pics;
    TLoadOptions options;
    options.BaseFolder = ExtractFilePath(stack.ListFile);
    ASSERT_TRUE(pics.LoadFromList(stack.ListFile, false, kChannelGrey, options))
        << pics.LastError();
    std::vector<std::vector<std::uint8_t>> planes;
    for (const TPic& plane : pics.Planes)
        planes.emplace_back(plane.Data.data(), plane.Data.data() + plane.Data.size());
    const std::map<int, TPoint> points = DecodePoints(planes, o.Width, o.Height);
    EXPECT_EQ(points.size(), stack.Dots.size());
    for (const TSampleDot& dot : stack.Dots) {
        auto it = points.find(dot.Code);
        ASSERT_NE(it, points.end()) << "dot " << dot.Number;
        EXPECT_NEAR(it->second.X, dot.X, 0.4) << "dot " << dot.Number;
        EXPECT_NEAR(it->second.Y, dot.Y, 0.4) << "dot " << dot.Number;
    }
}

TEST(SampleCamera, RefusesBadCameras) {
    auto expectBad = [](auto change, const char* named) {
        TSampleOptions o = SmallOptions();
        o.Camera = TSampleCamera{};
        o.Camera->Intrinsics.Cx = 159.5;
        o.Camera->Intrinsics.Cy = 119.5;
        change(*o.Camera);
        try {
            LayoutSampleDots(o);
            ADD_FAILURE() << "no error for bad " << named;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
        }
    };
    expectBad([](TSampleCamera& c) { c.Intrinsics.Fx = 0; }, "Fx");
    expectBad([](TSampleCamera& c) { c.Intrinsics.Fy = std::nan(""); }, "Fy");
    expectBad([](TSampleCamera& c) { c.Intrinsics.K2 = INFINITY; }, "K2");
    expectBad([](TSampleCamera& c) { c.Pose.Rotation[1] = std::nan(""); }, "Rotation");
    expectBad([](TSampleCamera& c) { c.Target.Pitch = -1; }, "Pitch");
    expectBad([](TSampleCamera& c) { c.Target.DotRadius = 6; }, "DotRadius"); // discs touch
    expectBad([](TSampleCamera& c) { c.Target.Columns = 0; }, "Columns");
    expectBad([](TSampleCamera& c) { c.Target.Columns = c.Target.Rows = 200; }, "16384");
    expectBad([](TSampleCamera& c) { c.Target.Jitter = 3; }, "Jitter");
    expectBad([](TSampleCamera& c) { c.Pose.Translation = {0, 0, 0}; }, "plane");
    expectBad([](TSampleCamera& c) { c.Pose.Rotation = {std::numbers::pi / 2, 0, 0}; }, "plane");
    // Strong barrel distortion on a wide view folds back inside the picture.
    expectBad(
        [](TSampleCamera& c) {
            c.Intrinsics.Fx = c.Intrinsics.Fy = 150;
            c.Intrinsics.K1 = -0.4;
        },
        "K1");
    // A target so near that a dot in view would span hundreds of pixels.
    expectBad(
        [](TSampleCamera& c) {
            c.Target.Columns = c.Target.Rows = 1;
            c.Pose.Translation = {0, 0, 15};
        },
        "too close");
}
