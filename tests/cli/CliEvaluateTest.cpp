// The evaluate command as a user runs it: the points it finds, the settings and
// names it takes, the inputs and outputs it refuses and what it then writes.

#include "CliRun.h"
#include "CliSuite.h"
#include "SampleStack.h"
#include "StackSuite.h"
#include "TestSupport.h"
#include "files/FileUtil.h"
#include "image/Bitmap.h"
#include "input/Pics.h"
#include "input/PictureRows.h"
#include "pipeline/Evaluator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

TEST_F(Cli, EvaluateFindsEveryDotOfTheGroundTruth) {
    TTempDir out;
    TRun run = RunCli("evaluate '" + stack_->ListFile + "' points.txt", out.path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find(std::to_string(stack_->Dots.size()) + " points"), std::string::npos)
        << run.Out;
    EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 1) << "one summary line";
    EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 17)
        << "a progress line per photograph";

    // Every dot found under its code, close to its true centre.
    std::map<int, std::pair<double, double>> found;
    for (const std::string& line : ReadTextLines(out / "points.txt")) {
        int code = 0, count = 0;
        double x = 0, y = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d %lf %lf %d", &code, &x, &y, &count), 4) << line;
        found[code] = {x, y};
    }
    EXPECT_EQ(found.size(), stack_->Dots.size());
    double errorSum = 0;
    for (const TSampleDot& dot : stack_->Dots) {
        auto it = found.find(dot.Code);
        ASSERT_NE(it, found.end()) << "dot " << dot.Number << " not found";
        errorSum += std::hypot(it->second.first - dot.X, it->second.second - dot.Y);
    }
    EXPECT_LT(errorSum / double(stack_->Dots.size()), 0.25) << "mean centre error in pixels";

    // The same result as the engine's own run.
    TPicEval eval;
    TLoadOptions options;
    options.BaseFolder = ExtractFilePath(stack_->ListFile);
    ASSERT_TRUE(eval.LoadPictures(stack_->ListFile, false, kChannelGrey, options));
    eval.SetTolerance(30);
    TBitmap display(eval.Width, eval.Height);
    eval.Evaluate(out / "engine.txt", true, display);
    EXPECT_EQ(ReadFileBytes(out / "points.txt"), ReadFileBytes(out / "engine.txt"));
    EXPECT_EQ(ReadFileBytes(out / "points.bmp"), ReadFileBytes(out / "engine.bmp"));
}

TEST_F(Cli, SettingsAndQuietAreHonoured) {
    TTempDir out;
    TRun run = RunCli("evaluate -q --no-bitmap --channel RED --tolerance 0 --mindif 255 '" +
                          stack_->ListFile + "' p.txt",
                      out.path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(ReadFileBytes(out / "p.txt").size(), 0u) << "Tolerance 0 leaves no code";
    EXPECT_FALSE(FileExists(out / "p.bmp"));
}

TEST_F(Cli, RelativeNamesInTheListResolveAgainstItsFolder) {
    TTempDir dir, elsewhere;
    std::map<int, std::string> changed;
    for (int i = 0; i < 17; ++i) // names relative to dir: ../<folder>/dots_NN.jpg
        changed[i] = "../" + ExtractFileName(folder_->path()) + "/" +
                     ExtractFileName(stack_->Photographs[std::size_t(i)]);
    std::string list = ListWith(dir, changed);
    TRun run = RunCli("evaluate -q '" + list + "' out.txt", elsewhere.path());
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(FileExists(elsewhere / "out.txt"))
        << "outputs are relative to the current directory";
}

TEST_F(Cli, InputsThatDoNotLoadCompletelyExitWithOneAndWriteNothing) {
    TTempDir dir;
    WriteFileText(dir / "damaged.jpg", "this is no photograph");
    TSampleOptions small = SampleOptionsOf(160, 120);
    TSampleStack other = WriteSampleStack(dir.path(), "small", small);

    const struct {
        const char* name;
        std::string list;
        std::string message;
    } cases[] = {
        {"missing list", dir / "nothing.txt", "does not exist"},
        {"missing photograph", ListWith(dir, {{4, dir / "gone.jpg"}}),
         "line 7 \"" + (dir / "gone.jpg") + "\""},
        {"damaged photograph", ListWith(dir, {{9, dir / "damaged.jpg"}}), dir / "damaged.jpg"},
        {"too few photographs", ListWith(dir, {}, 3), "names 3 photographs"},
        {"sizes differ", ListWith(dir, {{12, other.Photographs[12]}}),
         "Picture 12 is 160 x 120 pixels"},
    };
    for (const auto& c : cases) {
        TTempDir out;
        TRun run = RunCli("evaluate -q '" + c.list + "' points.txt", out.path());
        EXPECT_EQ(run.Status, 1) << c.name;
        EXPECT_NE(run.Err.find(c.message), std::string::npos) << c.name << ": " << run.Err;
        EXPECT_TRUE(ListFolder(out.path()).empty()) << c.name << ": no output file may be written";
    }
}

TEST_F(Cli, TableHoldsEveryPointBesideUnchangedPointsAndBitmap) {
    TTempDir out;
    ASSERT_EQ(RunCli("evaluate -q '" + stack_->ListFile + "' plain.txt", out.path()).Status, 0);
    TRun run = RunCli("evaluate -q '" + stack_->ListFile + "' p.txt --table t.csv", out.path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("point table to t.csv"), std::string::npos) << run.Out;
    EXPECT_EQ(ReadFileBytes(out / "p.txt"), ReadFileBytes(out / "plain.txt"));
    EXPECT_EQ(ReadFileBytes(out / "p.bmp"), ReadFileBytes(out / "plain.bmp"));

    const std::string table = ReadFileText(out / "t.csv");
    EXPECT_EQ(table.find('\r'), std::string::npos) << "LF line ends";
    const std::vector<std::string> rows = ReadTextLines(out / "t.csv");
    const std::vector<std::string> points = ReadTextLines(out / "p.txt");
    ASSERT_EQ(rows.size(), points.size() + 1);
    EXPECT_EQ(rows[0], "code,dot,x,y,pixels,refined_x,refined_y,blob_pixels,stray_pixels,"
                       "contrast,radius,flags");
    for (std::size_t i = 0; i < points.size(); ++i) {
        int code = 0, count = 0, dot = 0, tableCount = 0;
        double x = 0, y = 0, tx = 0, ty = 0, rx = 0, ry = 0;
        ASSERT_EQ(std::sscanf(points[i].c_str(), "%d %lf %lf %d", &code, &x, &y, &count), 4);
        ASSERT_EQ(std::sscanf(rows[i + 1].c_str(), "%*d,%d,%lf,%lf,%d,%lf,%lf", &dot, &tx, &ty,
                              &tableCount, &rx, &ry),
                  6)
            << rows[i + 1];
        EXPECT_EQ(rows[i + 1].substr(0, rows[i + 1].find(',')), std::to_string(code))
            << "point-list order";
        EXPECT_EQ(dot, (code - 1) / 2);
        EXPECT_EQ(tableCount, count);
        EXPECT_NEAR(tx, x, 0.005);
        EXPECT_NEAR(ty, y, 0.005);
        EXPECT_LT(std::hypot(rx - tx, ry - ty), 1.0) << rows[i + 1];
    }

    // The checker scores the table's refined centres beside its plain ones.
    const std::string checker =
        std::string(KELVARON_CLI).substr(0, std::string(KELVARON_CLI).rfind('/')) +
        "/kelvaron-check-points";
    TTempDir capture;
    const std::string command = "'" + checker + "' '" + stack_->TruthFile + "' '" +
                                (out / "p.txt") + "' --table '" + (out / "t.csv") + "' >'" +
                                (capture / "out") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const std::string report = ReadFileText(capture / "out");
    EXPECT_NE(report.find("refined: " + std::to_string(stack_->Dots.size()) + " of"),
              std::string::npos)
        << report;
}

TEST_F(Cli, TableNamedLikeAnOutputIsRefusedAndAnUnwritableOneNamed) {
    TTempDir out;
    for (const char* table : {"p.txt", "./p.txt", "p.bmp"}) {
        TRun run =
            RunCli("evaluate -q '" + stack_->ListFile + "' p.txt --table " + table, out.path());
        EXPECT_EQ(run.Status, 2) << table << ": " << run.Err;
        EXPECT_NE(run.Err.find("point table"), std::string::npos) << run.Err;
        EXPECT_TRUE(ListFolder(out.path()).empty()) << table;
    }
    TRun run =
        RunCli("evaluate -q '" + stack_->ListFile + "' p.txt --table gone/t.csv", out.path());
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("gone/t.csv"), std::string::npos) << run.Err;
    EXPECT_TRUE(ListFolder(out.path()).empty()) << "no points file without its table";
}

TEST_F(Cli, OutputsThatWouldDestroyAFileAreRefusedBeforeAnythingIsWritten) {
    TTempDir out;
    const std::string photograph = stack_->Photographs[5];
    const std::vector<std::uint8_t> photographBytes = ReadFileBytes(photograph);
    const std::string list = "'" + stack_->ListFile + "'";
    ASSERT_EQ(RunCli("save-set -q " + list + " set", out.path()).Status, 0);
    const std::vector<std::uint8_t> setHeader = ReadFileBytes(out / "set.bbf");
    WriteFileText(out / "kept.bmp", "kept");

    const struct {
        std::string arguments;
        const char* message;
    } refused[] = {
        {"evaluate -q " + list + " '" + photograph + "'", "same file as the input"},
        {"evaluate -q " + list + " p.txt --table '" + photograph + "'", "same file as the input"},
        {"evaluate -q " + list + " " + list, "same file as the input"},
        {"render plane -q " + list + " '" + photograph + "'", "same file as the input"},
        {"evaluate -q set.bbf set.bbf", "same file as the input"},
        {"evaluate -q set.bbf 3_set.bin --no-bitmap", "same file as the input"},
        {"save-set -q set.bbf set", "same file as the input"},
        {"evaluate -q " + list + " kept.bmp", "would be replaced by the marked picture"},
    };
    for (const auto& c : refused) {
        TRun run = RunCli(c.arguments, out.path());
        EXPECT_EQ(run.Status, 2) << c.arguments << ": " << run.Err;
        EXPECT_NE(run.Err.find(c.message), std::string::npos) << c.arguments << ": " << run.Err;
    }
    EXPECT_EQ(ReadFileBytes(photograph), photographBytes);
    EXPECT_EQ(ReadFileBytes(out / "set.bbf"), setHeader);
    EXPECT_EQ(ReadFileText(out / "kept.bmp"), "kept");
    EXPECT_EQ(ListFolder(out.path()).size(), 19u) << "the set and kept.bmp, nothing else";

    // Without the bitmap a points file may end in .bmp.
    EXPECT_EQ(RunCli("evaluate -q --no-bitmap " + list + " kept.bmp", out.path()).Status, 0);

    // A write-protected points file is not replaced, even in a folder that allows it.
    WriteFileText(out / "locked.txt", "locked");
    ASSERT_EQ(::chmod((out / "locked.txt").c_str(), 0444), 0);
    TRun locked = RunCli("evaluate -q " + list + " locked.txt", out.path());
    EXPECT_EQ(locked.Status, 1);
    EXPECT_NE(locked.Err.find("Cannot replace \"locked.txt\": the file is write-protected"),
              std::string::npos)
        << locked.Err;
    EXPECT_EQ(ReadFileText(out / "locked.txt"), "locked");
    EXPECT_FALSE(FileExists(out / "locked.bmp"));
}

TEST_F(Cli, NumbersAreDecimalAndFileNamesNotEmpty) {
    TTempDir out;
    const std::string list = "'" + stack_->ListFile + "'";
    ASSERT_EQ(RunCli("evaluate -q --no-bitmap " + list + " a.txt --tolerance 010 --mindif 080",
                     out.path())
                  .Status,
              0);
    ASSERT_EQ(
        RunCli("evaluate -q --no-bitmap " + list + " b.txt --tolerance 10 --mindif 80", out.path())
            .Status,
        0);
    ASSERT_EQ(
        RunCli("evaluate -q --no-bitmap " + list + " c.txt --tolerance 8 --mindif 80", out.path())
            .Status,
        0);
    EXPECT_EQ(ReadFileBytes(out / "a.txt"), ReadFileBytes(out / "b.txt"));
    EXPECT_NE(ReadFileBytes(out / "a.txt"), ReadFileBytes(out / "c.txt")) << "010 is not octal";

    for (const std::string& arguments :
         {"evaluate " + list + " ''", "render plane " + list + " ''", "save-set " + list + " ''",
          "evaluate " + list + " p.txt --table ''", "evaluate " + list + " p.txt --tolerance 0x10",
          "evaluate " + list + " p.txt --threads ' 1'"}) {
        TRun run = RunCli(arguments, out.path());
        EXPECT_EQ(run.Status, 2) << arguments << ": " << run.Err;
        EXPECT_NE(run.Err.find("Usage:"), std::string::npos) << arguments << ": " << run.Err;
    }
    EXPECT_EQ(ListFolder(out.path()).size(), 3u);
}
