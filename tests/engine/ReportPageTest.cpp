// The report page: escaping and base64, the summary table's order, the sections
// between their markers, a page that cannot be written, and the whole page in a
// browser.

#include "ReportSupport.h"
#include "SampleLayout.h"
#include "SampleRender.h"
#include "StackSuite.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "decode/CodeMatrix.h"
#include "decode/Points.h"
#include "image/Plane.h"
#include "output/Report.h"
#include "refine/Refine.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
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
    TSampleOptions options = SampleOptionsOf(width, height, spacing);
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
