// The report page: escaping, the summary table's order, the sections and their
// markers, the picture and the points' data a section embeds, and the whole page in a
// browser.

#include "output/Report.h"

#include "base/Errors.h"
#include "input/JpegInput.h"
#include "SampleStack.h"
#include "TestSupport.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A pose as the evaluation leaves it: planes 0 and 2 of a sample stack, the points of
// its dots (a pixel carries its dot's code where plane 2 exceeds plane 0 by more than
// 80), and their refined centres.
struct TPose {
    TPic Dark, Lit;
    TCode Codes;
    TUniquePoints Points;
    std::vector<TRefinedPoint> Refined;
};

TPose MakePose(int width, int height, double spacing, std::uint32_t seed) {
    TSampleOptions options;
    options.Width = width;
    options.Height = height;
    options.Spacing = spacing;
    options.Greyscale = true;
    options.Seed = seed;
    const std::vector<TSampleDot> dots = LayoutSampleDots(options);
    const std::vector<std::uint8_t> dark = RenderSamplePicture(options, dots, 0);
    const std::vector<std::uint8_t> lit = RenderSamplePicture(options, dots, 2);
    TPose pose;
    pose.Dark.SetSize(width, height);
    pose.Lit.SetSize(width, height);
    std::copy(dark.begin(), dark.end(), pose.Dark.Data.data());
    std::copy(lit.begin(), lit.end(), pose.Lit.Data.data());
    pose.Codes.Resize(height, width);
    const int reach = int(spacing / 2);
    for (const TSampleDot& dot : dots)
        for (int row = int(dot.Y) - reach; row <= int(dot.Y) + reach; ++row)
            for (int col = int(dot.X) - reach; col <= int(dot.X) + reach; ++col)
                if (row >= 0 && row < height && col >= 0 && col < width &&
                    pose.Lit.Data[row][col] - pose.Dark.Data[row][col] > 80)
                    pose.Codes.SetCode(row, col, dot.Code);
    // A lone pixel and a pair with codes of their own: points of one and two pixels.
    pose.Codes.SetCode(3, 3, 30001);
    pose.Codes.SetCode(height - 4, width / 2, 30003);
    pose.Codes.SetCode(height - 4, width / 2 + 1, 30003);
    pose.Points.AddCodeMatrix(pose.Codes);
    pose.Points.Trim();
    pose.Points.CalcCentres();
    pose.Refined = RefineCentres({pose.Dark, pose.Lit}, pose.Codes, pose.Points);
    return pose;
}

// The value of the first attribute name="…" in html from position from on.
std::string Attribute(const std::string& html, const std::string& name, std::size_t from = 0) {
    const std::string key = " " + name + "=\"";
    const std::size_t at = html.find(key, from);
    if (at == std::string::npos)
        return "(no " + name + ")";
    const std::size_t begin = at + key.size();
    return html.substr(begin, html.find('"', begin) - begin);
}

std::vector<std::uint8_t> FromBase64(const std::string& text) {
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::uint8_t> bytes;
    std::uint32_t bits = 0, held = 0;
    for (std::size_t i = 0; i < text.size() && text[i] != '='; ++i) {
        bits = bits << 6 | std::uint32_t(digits.find(text[i]));
        if ((held += 6) >= 8)
            bytes.push_back(std::uint8_t(bits >> (held -= 8)));
    }
    return bytes;
}

// One point as a section's data gives it to the script.
struct TShownPoint {
    double X, Y;
    int Count, Mark;
};

std::vector<TShownPoint> ShownPoints(const std::string& section) {
    const double unit = std::stod(Attribute(section, "data-unit"));
    const std::vector<std::uint8_t> bytes = FromBase64(Attribute(section, "data-points"));
    EXPECT_EQ(bytes.size() % 7, 0u);
    std::vector<TShownPoint> points;
    for (std::size_t o = 0; o + 7 <= bytes.size(); o += 7)
        points.push_back({(bytes[o] | bytes[o + 1] << 8) / unit,
                          (bytes[o + 2] | bytes[o + 3] << 8) / unit,
                          bytes[o + 4] | bytes[o + 5] << 8, bytes[o + 6]});
    return points;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TPic Plane(int width, int height, std::uint32_t seed) {
    TPic plane;
    plane.SetSize(width, height);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < plane.Data.size(); ++i)
        plane.Data.data()[i] = std::uint8_t(random());
    return plane;
}

} // namespace

TEST(ReportText, EscapeHtmlEscapesMarkupAndReplacesWhatIsNotText) {
    EXPECT_EQ(EscapeHtml("<a href='x'>&\"</a>"), "&lt;a href=&#39;x&#39;&gt;&amp;&quot;&lt;/a&gt;");
    EXPECT_EQ(EscapeHtml("Größe × 2\tb\nc"), "Größe × 2\tb\nc");
    // A control character, a stray continuation byte, an overlong '/', a surrogate and a
    // sequence cut short at the end.
    EXPECT_EQ(EscapeHtml("a\x01"
                         "b\x80"
                         "c\xC0\xAF"
                         "d\xED\xA0\x80"
                         "e\xE2\x82"),
              "a\uFFFDb\uFFFDc\uFFFD\uFFFDd\uFFFD\uFFFD\uFFFDe\uFFFD\uFFFD");
}

TEST(ReportText, Base64GivesTheStandardEncoding) {
    const char* expected[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (std::size_t n = 0; n <= 6; ++n)
        EXPECT_EQ(Base64Text("foobar", n), expected[n]) << n;
    const std::uint8_t high[] = {0xFF, 0xFE, 0xFB};
    EXPECT_EQ(Base64Text(high, 3), "//77");
}

TEST(ReportPicture, ScalingDownRoundsEveryMeanExactlyOnAnyNumberOfThreads) {
    const TPic plane = Plane(803, 611, 7);
    for (std::int32_t step : {1, 2, 3, 4, 5, 7}) {
        const TPic one = ScalePlaneDown(plane, step, 1), three = ScalePlaneDown(plane, step, 3);
        ASSERT_EQ(one.Width, (803 + step - 1) / step);
        ASSERT_EQ(one.Height, (611 + step - 1) / step);
        int wrong = 0; // the squares cut by the border average the pixels they hold
        for (std::int32_t row = 0; row < one.Height; ++row)
            for (std::int32_t col = 0; col < one.Width; ++col) {
                std::uint32_t sum = 0, count = 0;
                for (std::int32_t y = row * step; y < std::min(611, (row + 1) * step); ++y)
                    for (std::int32_t x = col * step; x < std::min(803, (col + 1) * step);
                         ++x, ++count)
                        sum += plane.Data[y][x];
                wrong += one.Data[row][col] != (sum + count / 2) / count;
                wrong += three.Data[row][col] != one.Data[row][col];
            }
        EXPECT_EQ(wrong, 0) << "step " << step;
    }
    EXPECT_THROW(ScalePlaneDown(plane, 0), std::invalid_argument);
    EXPECT_EQ(ReportPictureStep(kReportPictureMax, 1800), 1);
    EXPECT_EQ(ReportPictureStep(4000, 3000), 2);
    EXPECT_EQ(ReportPictureStep(1000, 8000), 4);
}

TEST(ReportSection, EmbedsPictureTwoScaledDownAsAJpeg) {
    const TPic lit = Plane(2 * kReportPictureMax + 10, 60, 5);
    const std::string section = ReportSection("wide", lit, TUniquePoints{}, {}, 2);
    EXPECT_EQ(Attribute(section, "data-step"), "3");
    const std::string source = Attribute(section, "src"), prefix = "data:image/jpeg;base64,";
    ASSERT_EQ(source.substr(0, prefix.size()), prefix);
    const std::vector<std::uint8_t> jpeg = FromBase64(source.substr(prefix.size()));
    TPic decoded;
    DecodeJpegPlane(decoded, jpeg.data(), jpeg.size(), "the section's picture", 0);
    EXPECT_EQ(decoded.Width, (lit.Width + 2) / 3);
    EXPECT_EQ(decoded.Height, 20);
    EXPECT_EQ(Attribute(section, "style", section.find("<figure")),
              "width:" + std::to_string(kReportShownMax) + "px");
}

TEST(ReportSection, EscapesThePoseNameWhereverItIsShown) {
    TUniquePoints points;
    points.AddPixel(5, 4, 4);
    points.CalcCentres();
    const std::string pose =
        "<img src=x onerror=alert(1)> & \"q\" 'a' <!-- end of pose section -->";
    const std::string section = ReportSection(pose, Plane(40, 30, 1), points, {});
    EXPECT_EQ(section.find("<img src=x"), std::string::npos);
    EXPECT_EQ(section.find("\"q\""), std::string::npos);
    EXPECT_EQ(section.find("<!--"), std::string::npos);
    EXPECT_EQ(Attribute(section, "data-pose"), EscapeHtml(pose));
    EXPECT_NE(section.find("<h2>" + EscapeHtml(pose) + "</h2>"), std::string::npos);
}

TEST(ReportSection, MarksEveryPointByItsFlagsOrWithoutThemByItsSize) {
    // ok; border; neighbour and border; one pixel, unrefined; unrefined and border.
    const std::uint32_t flags[] = {0, kRefineBorder, kRefineNeighbour | kRefineBorder, kRefineNone,
                                   kRefineNone | kRefineBorder};
    const int sides[] = {3, 3, 2, 1, 4};
    TUniquePoints points;
    for (int i = 0; i < 5; ++i)
        for (int p = 0; p < sides[i] * sides[i]; ++p)
            points.AddPixel(2 * i + 1, 12 * i + p % sides[i], 7 + 5 * i + p / sides[i]);
    points.CalcCentres();
    std::vector<TRefinedPoint> refined(5);
    for (std::size_t i = 0; i < refined.size(); ++i) {
        refined[i].X = points.Entries[i].X + 0.3;
        refined[i].Y = points.Entries[i].Y - 0.4;
        refined[i].Flags = flags[i];
    }
    const std::string section = ReportSection("pose", Plane(70, 50, 2), points, refined);

    const std::vector<TShownPoint> shown = ShownPoints(section);
    ASSERT_EQ(shown.size(), 5u);
    const int marks[] = {0, 1, 2, 3 | 8, 3}; // the class, 8 for a point of one or two pixels
    for (std::size_t i = 0; i < shown.size(); ++i) {
        EXPECT_NEAR(shown[i].X, points.Entries[i].X, 1.0 / 16) << i;
        EXPECT_NEAR(shown[i].Y, points.Entries[i].Y, 1.0 / 16) << i;
        EXPECT_EQ(shown[i].Count, points.Entries[i].PixelCount) << i;
        EXPECT_EQ(shown[i].Mark, marks[i]) << i;
    }
    for (const char* item : {"ok <b>1</b>", "border <b>1</b>", "neighbour <b>1</b>",
                             "unrefined <b>2</b>", "(square) <b>1</b>", "<b>4</b> flagged"})
        EXPECT_NE(section.find(item), std::string::npos) << item;
    EXPECT_EQ(Occurrences(section, "<svg"), 4u);
    // The shift plot counts the three refined points, each moved by 0.5 pixels.
    EXPECT_NE(section.find("median 0.50 · 3 points"), std::string::npos);
    EXPECT_THROW(ReportSection("pose", Plane(70, 50, 2), points, std::vector<TRefinedPoint>(4)),
                 std::invalid_argument);

    // Without refinement: one colour, the square for the one-pixel point, one plot.
    const std::string plain = ReportSection("plain", Plane(70, 50, 2), points, {});
    const std::vector<TShownPoint> plainShown = ShownPoints(plain);
    ASSERT_EQ(plainShown.size(), 5u);
    for (std::size_t i = 0; i < plainShown.size(); ++i)
        EXPECT_EQ(plainShown[i].Mark, i == 3 ? 4 | 8 : 4) << i;
    EXPECT_NE(plain.find("not refined"), std::string::npos);
    EXPECT_EQ(Occurrences(plain, "<svg"), 1u); // the points' sizes only
    EXPECT_EQ(plain.find("Contrast"), std::string::npos);
}

TEST(ReportSection, HistogramsCountEveryPointOnceAndSetFarValuesApart) {
    TUniquePoints points;
    for (std::int32_t i = 0; i < 201; ++i)
        points.AddPixel(2 * i + 1, i % 60, i / 60);
    points.CalcCentres();
    std::vector<TRefinedPoint> refined(201);
    for (std::size_t i = 0; i < refined.size(); ++i)
        refined[i].BlobPixels = i < 200 ? 20 + int(i % 20) : 5000;
    const std::string section = ReportSection("pose", Plane(64, 8, 3), points, refined);
    // The bars' tooltips of the main blob's plot: bins of 2 up to 39, then the far one.
    const std::size_t plot = section.find(">Main blob</text>"), end = section.find("</svg>", plot);
    std::vector<std::string> bars;
    for (std::size_t at = section.find("<title>", plot); at < end;
         at = section.find("<title>", at + 1))
        bars.push_back(section.substr(at + 7, section.find('<', at + 7) - at - 7));
    ASSERT_EQ(bars.size(), 21u);
    EXPECT_EQ(bars[0], "0–1 pixels: 0");
    EXPECT_EQ(bars[10], "20–21 pixels: 20");
    EXPECT_EQ(bars[19], "38–39 pixels: 20");
    EXPECT_EQ(bars[20], "≥ 40 pixels: 1");
}

TEST(ReportSection, APoseWithoutPointsOrWithoutAPictureStillHasASection) {
    const std::string empty = ReportSection("empty", Plane(64, 48, 4), TUniquePoints{}, {});
    EXPECT_EQ(Attribute(empty, "data-points"), "");
    EXPECT_NE(empty.find("<b>0</b> points"), std::string::npos);
    EXPECT_NE(empty.find("no points"), std::string::npos);
    EXPECT_EQ(Occurrences(empty, "<img"), 1u);
    const std::string blank = ReportSection("blank", TPic{}, TUniquePoints{}, {});
    EXPECT_EQ(Occurrences(blank, "<img"), 0u);
}

TEST(ReportPage, ListsFailedPosesFirstAndEscapesEveryField) {
    TTempDir folder;
    const std::vector<TReportRow> rows = {
        {"alpha", "a.txt", "ok", "", 120, 3, 80, 15, 0.25},
        {"beta<b>", "in/\"b\".txt", "failed", "Cannot read 'b_03.jpg': <damaged>", 0, -1, -1, -1,
         0},
        {"gamma", "c.txt", "kept", "", 99, -1, 70, 10, 0},
        {"delta", "d.txt", "failed", "no list", 0, -1, -1, -1, 0}};
    const std::string file = folder / "report.html";
    WriteReport(file, "Poses & <results>", rows, [](std::size_t) { return std::string(); });
    const std::string page = ReadFileText(file);

    EXPECT_NE(page.find("<title>Poses &amp; &lt;results&gt;</title>"), std::string::npos);
    const std::size_t order[] = {page.find(">beta&lt;b&gt;</td>"), page.find(">delta</td>"),
                                 page.find(">alpha</a>"), page.find(">gamma</a>")};
    EXPECT_TRUE(std::is_sorted(std::begin(order), std::end(order)));
    EXPECT_NE(order[3], std::string::npos);
    EXPECT_NE(page.find("in/&quot;b&quot;.txt"), std::string::npos);
    EXPECT_NE(page.find("Cannot read &#39;b_03.jpg&#39;: &lt;damaged&gt;"), std::string::npos);
    EXPECT_NE(page.find("<td class=\"num\">99</td><td class=\"num\">–</td><td class=\"num\">70"),
              std::string::npos);
}

TEST(ReportPage, AsksForEachSectionOnceInRowOrderAndFindsItAgain) {
    TTempDir folder;
    const std::vector<TReportRow> rows = {{"first", "1.txt", "failed", "gone", 0, -1, -1, -1, 0},
                                          {"second", "2.txt", "ok", "", 1, 0, 80, 15, 0.1},
                                          {"third", "3.txt", "ok", "", 0, 0, 80, 15, 0.1}};
    TUniquePoints one;
    one.AddPixel(3, 2, 2);
    one.CalcCentres();
    const std::string section = ReportSection("second", Plane(30, 20, 6), one, {});
    std::vector<std::size_t> asked;
    const std::string file = folder / "report.html";
    WriteReport(file, "t", rows, [&](std::size_t row) {
        asked.push_back(row);
        return row == 1 ? section : std::string();
    });
    EXPECT_EQ(asked, (std::vector<std::size_t>{0, 1, 2}));
    const std::string page = ReadFileText(file);
    EXPECT_EQ(ReportSectionOf(page), section);
    EXPECT_EQ(Occurrences(page, "<section"), 1u);
    EXPECT_EQ(ReportSectionOf(page.substr(0, page.find(section) + 10)), "");
    EXPECT_EQ(ReportSectionOf("<html><body>no sections</body></html>"), "");
}

TEST(ReportPage, AFileThatCannotBeWrittenRaisesAndAFailedSectionKeepsTheFormerPage) {
    TTempDir folder;
    WriteFileText(folder / "plain", "a file, not a folder");
    const std::string target = folder / "plain/report.html";
    const std::vector<TReportRow> rows(1, {"p", "p.txt", "ok", "", 0, 0, 80, 15, 0});
    try {
        WriteReport(target, "t", rows, [](std::size_t) { return std::string(); });
        FAIL() << "no error";
    } catch (const EFileError& error) {
        EXPECT_NE(std::string(error.what()).find(target), std::string::npos) << error.what();
    }
    const std::string file = folder / "report.html";
    WriteFileText(file, "former");
    EXPECT_THROW(WriteReport(file, "t", rows,
                             [](std::size_t) -> std::string { throw std::runtime_error("no"); }),
                 std::runtime_error);
    EXPECT_EQ(ReadFileText(file), "former");
    EXPECT_EQ(ListFolder(folder.path()), (std::vector<std::string>{"plain", "report.html"}));
}

// The page in a real browser: every picture decodes, the marks are drawn and no script
// error happens. The page and a screenshot are left beside the test program
// (report-page.html, report-page.png) for people to look at.
TEST(ReportBrowser, DecodesEveryPictureAndDrawsWithoutAScriptError) {
    if (!BrowserTestsRun())
        GTEST_SKIP() << kChromium << " is missing";
    const TPose first = MakePose(320, 240, 20, 1);
    const TPose second = MakePose(300, 200, 24, 2);
    const auto flagged = std::count_if(first.Refined.begin(), first.Refined.end(),
                                       [](const TRefinedPoint& p) { return p.Flags != 0; });
    const std::vector<TReportRow> rows = {
        {"p\"1\" <&> 'x'", "a.txt", "ok", "", first.Points.EntryCount, std::int32_t(flagged), 80,
         15, 0.3},
        {"broken", "b.txt", "failed", "Cannot read \"b_05.jpg\"", 0, -1, -1, -1, 0.01},
        {"plain", "c.txt", "kept", "", second.Points.EntryCount, -1, 80, 15, 0.2},
        {"empty", "d.txt", "ok", "", 0, 0, 80, 15, 0.1},
    };
    const fs::path beside = fs::read_symlink("/proc/self/exe").parent_path();
    const std::string page = (beside / "report-page.html").string();
    const std::string screenshot = (beside / "report-page.png").string();
    WriteReport(page, "Report test", rows, [&](std::size_t row) {
        switch (row) {
        case 0:
            return ReportSection(rows[0].Pose, first.Lit, first.Points, first.Refined);
        case 2:
            return ReportSection(rows[2].Pose, second.Lit, second.Points, {});
        case 3:
            return ReportSection(rows[3].Pose, first.Lit, TUniquePoints{}, {});
        default:
            return std::string();
        }
    });

    // Every picture decoded, every mark drawn, no script error.
    EXPECT_EQ(BrowserReportState(page, screenshot), "ready 3");
}

// What the report costs for a pose of 4000 × 3000 pixels and about 10,000 points, a page
// of 10 such poses written and flushed. Run with --gtest_also_run_disabled_tests.
TEST(ReportSection, DISABLED_CostOfALargePose) {
    const TPose pose = MakePose(4000, 3000, 34, 1);
    const std::vector<TReportRow> rows(10, {"large", "l.txt", "ok", "", 0, 0, 80, 15, 0});
    TTempDir folder;
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        WriteReport(folder / "large.html", "cost", rows, [&](std::size_t) {
            return ReportSection("large", pose.Lit, pose.Points, pose.Refined, 1);
        });
        best = std::min(best, std::chrono::duration<double, std::milli>(
                                  std::chrono::steady_clock::now() - start)
                                      .count() /
                                  10);
    }
    std::printf("%d points: %.1f ms and %zu bytes a pose\n", pose.Points.EntryCount, best,
                std::size_t(fs::file_size(folder / "large.html")) / 10);
}
