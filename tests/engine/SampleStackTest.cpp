#include "SampleStack.h"

#include "Errors.h"
#include "FileUtil.h"
#include "JpegWriter.h"
#include "PicHolder.h"
#include "TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <map>
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
