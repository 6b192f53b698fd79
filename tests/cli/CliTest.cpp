// The command-line tool as a user runs it: exit codes, messages, output files.

#include "image/Bitmap.h"
#include "CliRun.h"
#include "files/FileUtil.h"
#include "PicHolder.h"
#include "PictureWriter.h"
#include "SampleStack.h"
#include "StackSuite.h"
#include "TestSupport.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

// One small generated stack shared by the tests of this file.
class Cli : public TStackSuite<Cli> {
public:
    static constexpr const char* kStackName = "dots";
    static TSampleOptions StackOptions() {
        TSampleOptions options;
        options.Width = 320;
        options.Height = 240;
        options.Spacing = 20;
        options.Seed = 7;
        return options;
    }

protected:
    // A list file in dir naming the photographs of the shared stack, with changes.
    std::string ListWith(const TTempDir& dir, const std::map<int, std::string>& changed,
                         int count = 17) const {
        const std::string list = dir / ("list" + std::to_string(++lists_) + ".txt");
        std::string text = "title\r\nsecond\r\n";
        for (int i = 0; i < count; ++i) {
            auto it = changed.find(i);
            text +=
                (it != changed.end() ? it->second : stack_->Photographs[std::size_t(i)]) + "\r\n";
        }
        WriteFileText(list, text);
        return list;
    }

    mutable int lists_ = 0;
};

} // namespace

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

TEST_F(Cli, RenderDrawsEachViewAtTheStackSize) {
    TTempDir out;
    TPicEval eval;
    TLoadOptions options;
    options.BaseFolder = ExtractFilePath(stack_->ListFile);
    ASSERT_TRUE(eval.LoadPictures(stack_->ListFile, false, kChannelGrey, options));
    eval.SetTolerance(20);
    eval.SetMinDif(60);
    const struct {
        const char* arguments;
        void (*draw)(TPicEval&, TBitmap&);
    } views[] = {
        {"plane --plane 16", [](TPicEval& e, TBitmap& b) { e.ShowPicture(16, b); }},
        {"matrix --plane 5", [](TPicEval& e, TBitmap& b) { e.ShowMatrix(5, b); }},
        {"edges", [](TPicEval& e, TBitmap& b) { e.ShowEdges(b); }},
        {"codes",
         [](TPicEval& e, TBitmap& b) {
             e.ShowMatrix(2, b);
             e.CalcMatrix();
             e.ShowCodePoints(b);
         }},
    };
    for (const auto& view : views) {
        TRun run = RunCli(std::string("render ") + view.arguments +
                              " --tolerance 20 --mindif 60 -q '" + stack_->ListFile + "' view.bmp",
                          out.path());
        ASSERT_EQ(run.Status, 0) << view.arguments << ": " << run.Err;
        TBitmap expected(eval.Width, eval.Height);
        view.draw(eval, expected);
        expected.SaveToFile(out / "expected.bmp");
        EXPECT_EQ(ReadFileBytes(out / "view.bmp"), ReadFileBytes(out / "expected.bmp"))
            << view.arguments;
    }
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
    TSampleOptions small;
    small.Width = 160;
    small.Height = 120;
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

// Evaluates input (with a point table unless withTable is false) streamed and
// whole, each in a folder of its own, and expects the same stdout, stderr, exit
// status and files; gives the streamed run.
TRun EvaluateStreamedAndWhole(const std::string& input, const char* threads,
                              const std::string& extra = "", bool withTable = true) {
    TTempDir whole, streamed;
    const std::string arguments = std::string("evaluate --threads ") + threads + " '" + input +
                                  "' p.txt" + (withTable ? " --table t.csv" : "") + extra;
    const TRun expected = RunCli(arguments + " --full-stack", whole.path());
    const TRun run = RunCli(arguments, streamed.path());
    EXPECT_EQ(run.Status, expected.Status);
    EXPECT_EQ(run.Out, expected.Out);
    EXPECT_EQ(run.Err, expected.Err);
    EXPECT_EQ(ListFolder(streamed.path()), ListFolder(whole.path()));
    for (const std::string& file : ListFolder(whole.path()))
        EXPECT_EQ(ReadFileBytes(streamed / file), ReadFileBytes(whole / file)) << file;
    return run;
}

// A copy of a photograph whose header is whole but whose picture is not: its first
// three fifths ("truncated"), or all of it with a stretch of the coded data
// overwritten.
std::string DamagedCopy(const TTempDir& dir, const std::string& photograph, const char* how) {
    std::vector<std::uint8_t> bytes = ReadFileBytes(photograph);
    const std::string name = dir / (std::string(how) + "-" + ExtractFileName(photograph));
    if (std::string(how) == "truncated")
        bytes.resize(bytes.size() * 3 / 5);
    else
        for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 40; ++i)
            bytes[i] = std::uint8_t(i * 37 + 11);
    WriteFileBytes(name, bytes);
    return name;
}

TEST_F(Cli, StreamingReportsExactlyWhatTheWholeStackReports) {
    TTempDir dir;
    auto damaged = [&](int i, const char* how) {
        return DamagedCopy(dir, stack_->Photographs[std::size_t(i)], how);
    };
    const struct {
        std::string name;
        std::map<int, std::string> changed;
    } cases[] = {
        {"whole", {}},
        {"missing first", {{0, dir / "gone.jpg"}}},
        {"missing middle", {{8, dir / "gone.jpg"}}},
        {"missing last", {{16, dir / "gone.jpg"}}},
        {"truncated first", {{0, damaged(0, "truncated")}}},
        {"truncated bright reference", {{1, damaged(1, "truncated")}}},
        {"truncated all dots", {{2, damaged(2, "truncated")}}},
        {"truncated middle", {{8, damaged(8, "truncated")}}},
        {"truncated last", {{16, damaged(16, "truncated")}}},
        {"overwritten first", {{0, damaged(0, "overwritten")}}},
        {"overwritten middle", {{9, damaged(9, "overwritten")}}},
        {"overwritten last", {{16, damaged(16, "overwritten")}}},
        {"two damaged", {{5, damaged(5, "truncated")}, {11, damaged(11, "overwritten")}}},
        {"damaged before the all-dots picture",
         {{1, damaged(1, "overwritten")}, {2, damaged(2, "truncated")}}},
        {"missing and damaged", {{3, dir / "gone.jpg"}, {12, damaged(12, "truncated")}}},
    };
    for (const auto& c : cases) {
        const std::string list = ListWith(dir, c.changed);
        for (const char* threads : {"1", "2", "4"}) {
            for (const bool table : {true, false}) {
                SCOPED_TRACE(c.name + ", threads " + threads + (table ? ", table" : ""));
                const TRun run = EvaluateStreamedAndWhole(list, threads, "", table);
                EXPECT_EQ(run.Status, c.changed.empty() ? 0 : 1) << run.Err;
            }
        }
    }
}

TEST_F(Cli, StreamedPictureSetsReportExactlyWhatTheWholeStackReports) {
    TTempDir dir;
    ASSERT_EQ(RunCli("save-set -q '" + stack_->ListFile + "' whole", dir.path()).Status, 0);
    const std::string header = ReadFileText(dir / "whole.bbf");
    // A copy of the set under another name, its header changed by edit, plane
    // files shared unless a case replaces one.
    auto variant = [&](const std::string& name,
                       const std::function<std::string(std::string)>& edit) {
        WriteFileText(dir / (name + ".bbf"), edit(header));
        return name + ".bbf";
    };
    std::vector<std::uint8_t> plane = ReadFileBytes(dir / "5_whole.bin");
    plane.resize(plane.size() - 1);
    WriteFileBytes(dir / "short.bin", plane);
    auto replace = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    const std::string cases[] = {
        variant("same", [](std::string text) { return text; }),
        variant("missing", [&](std::string text) { return replace(text, "9_whole", "gone"); }),
        variant("short", [&](std::string text) { return replace(text, "5_whole", "short"); }),
        variant("sixteen", [&](std::string text) { return replace(text, "16_whole.bin\r\n", ""); }),
        variant("narrow", [&](std::string text) { return replace(text, "320", "319"); }),
    };
    for (const std::string& set : cases)
        for (const char* threads : {"1", "2", "4"}) {
            SCOPED_TRACE(set + ", threads " + threads);
            const TRun run = EvaluateStreamedAndWhole(dir / set, threads);
            // A narrower size reads the same files otherwise: it loads, to other codes.
            EXPECT_EQ(run.Status, set == "same.bbf" || set == "narrow.bbf" ? 0 : 1) << run.Err;
        }
}

TEST_F(Cli, PictureSetsEvaluateLikeTheirPhotographs) {
    TTempDir sets, elsewhere;
    TRun run = RunCli("save-set -q '" + stack_->ListFile + "' set1.bin", sets.path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(FileExists(sets / "set1.bbf"));
    EXPECT_TRUE(FileExists(sets / "16_set1.bin"));
    EXPECT_FALSE(FileExists(sets / "set1.bin"));

    // The header names its plane files without a folder; they are found beside it
    // from any current directory.
    run = RunCli("evaluate -q '" + (sets / "set1.bbf") + "' from-set.txt", elsewhere.path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    run = RunCli("evaluate -q '" + stack_->ListFile + "' from-jpeg.txt", elsewhere.path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadFileBytes(elsewhere / "from-set.txt"),
              ReadFileBytes(elsewhere / "from-jpeg.txt"));
    EXPECT_EQ(ReadFileBytes(elsewhere / "from-set.bmp"),
              ReadFileBytes(elsewhere / "from-jpeg.bmp"));

    // Any case of the extension; a set saved again from a set.
    ::rename((sets / "set1.bbf").c_str(), (sets / "SET1.BBF").c_str());
    run = RunCli("save-set -q SET1.BBF copy", sets.path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(FileExists(sets / "copy.bbf"));
    EXPECT_EQ(RunCli("evaluate -q SET1.BBF upper.txt", sets.path()).Status, 0);
    EXPECT_EQ(ReadFileBytes(sets / "upper.txt"), ReadFileBytes(elsewhere / "from-jpeg.txt"));

    // A set that does not load completely is refused and nothing is written.
    ::remove((sets / "7_copy.bin").c_str());
    TTempDir out;
    run = RunCli("evaluate -q '" + (sets / "copy.bbf") + "' points.txt", out.path());
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("7_copy.bin"), std::string::npos) << run.Err;
    EXPECT_TRUE(ListFolder(out.path()).empty());
}

// Stacks of camera pictures: PNG and TIFF, 8 and 16 bits, 12 bits stored unscaled.
TEST(CliCameraPictures, StreamAndReportExactlyWhatTheWholeStackReports) {
    TTempDir dir;
    TSampleOptions options;
    options.Width = 160;
    options.Height = 120;
    options.Spacing = 16;
    options.Format = TSampleFormat::Png;
    options.Depth = 16;
    const TSampleStack png = WriteSampleStack(dir.path(), "png", options);
    options.Format = TSampleFormat::Tiff;
    options.Greyscale = true;
    options.SignificantBits = 12;
    options.TiffCompression = TTiffCompression::Lzw;
    const TSampleStack tiff = WriteSampleStack(dir.path(), "tiff", options);

    // Lists with one photograph damaged or of a kind that cannot be read.
    auto listWith = [&](const TSampleStack& stack, int index, const std::string& photograph) {
        std::string text = "camera\r\nstack\r\n";
        for (int i = 0; i < 17; ++i)
            text += (i == index ? photograph : stack.Photographs[std::size_t(i)]) + "\r\n";
        const std::string list = dir / ("list" + std::to_string(index) + ".txt");
        WriteFileText(list, text);
        return list;
    };
    std::vector<std::uint8_t> bytes = ReadFileBytes(png.Photographs[9]);
    bytes.resize(bytes.size() * 2 / 3);
    WriteFileBytes(dir / "cut.png", bytes);
    TRawPicture floats;
    floats.Width = 160;
    floats.Height = 120;
    floats.Bits = 32;
    floats.Values.assign(160 * 120, 0x3F800000); // 1.0
    TTiffWriteOptions floatOptions;
    floatOptions.SampleFormat = TTiffSampleFormat::Float;
    WriteTiff(dir / "float.tif", {floats}, floatOptions);

    const struct {
        const char* name;
        std::string list;
        std::string extra;
        int status;
        std::string message;
    } cases[] = {
        {"16-bit PNG", png.ListFile, "", 0, ""},
        {"12-bit TIFF", tiff.ListFile, " --bits 12", 0, ""},
        {"12-bit TIFF read as 16 bits", tiff.ListFile, "", 0, ""},
        {"cut PNG", listWith(png, 2, dir / "cut.png"), "", 1, "cut.png\": the file ends before"},
        {"float TIFF", listWith(tiff, 12, dir / "float.tif"), " --bits 12", 1,
         "float.tif\" is a 32-bit floating-point TIFF; only 1- to 16-bit unsigned pictures can "
         "be read."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TRun run = EvaluateStreamedAndWhole(c.list, "2", c.extra);
        EXPECT_EQ(run.Status, c.status) << run.Err;
        EXPECT_NE(run.Err.find(c.message), std::string::npos) << run.Err;
    }
    // Read as 16 bits, the 12-bit values are 16 times too dark for the default
    // settings: no dot is found.
    TTempDir out;
    const TRun dark = RunCli("evaluate -q '" + tiff.ListFile + "' p.txt", out.path());
    EXPECT_EQ(dark.Out.substr(0, 9), "0 points ") << dark.Out;
    const TRun found = RunCli("evaluate -q --bits 12 '" + tiff.ListFile + "' p.txt", out.path());
    EXPECT_NE(found.Out.find(std::to_string(tiff.Dots.size()) + " points"), std::string::npos)
        << found.Out;
}

// 8-bit PNG and TIFF photographs give exactly the files of a picture set holding
// the same planes, and so do their 16-bit versions but for the refined centres.
TEST(CliCameraPictures, EightBitStacksEvaluateLikeTheirPictureSets) {
    TTempDir dir;
    TSampleOptions options;
    options.Width = 200;
    options.Height = 150;
    options.Spacing = 18;
    options.Tint = {1, 0.9, 0.6};
    for (const TSampleFormat format : {TSampleFormat::Png, TSampleFormat::Tiff}) {
        options.Format = format;
        const TSampleStack stack =
            WriteSampleStack(dir.path(), format == TSampleFormat::Png ? "p" : "t", options);
        ASSERT_EQ(
            RunCli("save-set -q --channel red '" + stack.ListFile + "' set", dir.path()).Status, 0);
        for (const std::string& input : {stack.ListFile, dir / "set.bbf"}) {
            const std::string out = input == stack.ListFile ? "list" : "set";
            const TRun run = RunCli("evaluate -q --channel red '" + input + "' " + out +
                                        ".txt --table " + out + ".csv",
                                    dir.path());
            ASSERT_EQ(run.Status, 0) << run.Err;
        }
        for (const char* ext : {".txt", ".bmp", ".csv"})
            EXPECT_EQ(ReadFileBytes(dir / (std::string("list") + ext)),
                      ReadFileBytes(dir / (std::string("set") + ext)))
                << ext;
    }
}

TEST(CliUsage, BadArgumentsExitWithTwoAndHelpWithZero) {
    for (const char* arguments :
         {"", "evaluate", "evaluate a.txt", "frobnicate", "evaluate a.txt b.txt --tolerance 256",
          "evaluate a.txt b.txt --tolerance -1", "evaluate a.txt b.txt --mindif abc",
          "evaluate a.txt b.txt --channel purple", "render sideways a.txt b.bmp",
          "render plane a.txt b.bmp --plane 17", "evaluate a.txt b.txt --tolerance 2.5",
          "evaluate a.txt b.txt --bits 0", "evaluate a.txt b.txt --bits 17",
          "save-set a.txt b --bits twelve"}) {
        TRun run = RunCli(arguments);
        EXPECT_EQ(run.Status, 2) << arguments << ": " << run.Err;
        EXPECT_FALSE(run.Err.empty()) << arguments;
    }
    for (const char* arguments :
         {"--help", "evaluate --help", "render --help", "save-set --help"}) {
        TRun run = RunCli(arguments);
        EXPECT_EQ(run.Status, 0) << arguments;
        EXPECT_NE(run.Out.find("Usage"), std::string::npos) << arguments;
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

namespace {

// The two numbers suggest printed on stdout, "mindif N\ntolerance N\n".
std::pair<std::string, std::string> SuggestedNumbers(const std::string& out) {
    const std::size_t mindif = out.find("mindif "), tolerance = out.find("\ntolerance ");
    if (mindif != 0 || tolerance == std::string::npos || out.back() != '\n')
        return {};
    return {out.substr(7, tolerance - 7), out.substr(tolerance + 11, out.size() - tolerance - 12)};
}

} // namespace

TEST_F(Cli, SuggestPrintsTheSettingsThatAutoUsesByteForByte) {
    TTempDir out;
    const std::string list = "'" + stack_->ListFile + "'";
    const TRun suggest = RunCli("suggest -q " + list, out.path());
    ASSERT_EQ(suggest.Status, 0) << suggest.Err;
    const auto [mindif, tolerance] = SuggestedNumbers(suggest.Out);
    ASSERT_FALSE(mindif.empty()) << suggest.Out;
    for (const char* line : {"mindif ", "tolerance ", "Points: ", "Coverage with the suggestion: ",
                             "Coverage with the defaults: "})
        EXPECT_NE(suggest.Err.find(line), std::string::npos) << line << "\n" << suggest.Err;

    const std::string hand = " --mindif " + mindif + " --tolerance " + tolerance;
    ASSERT_EQ(
        RunCli("evaluate -q " + list + " hand.txt --table hand.csv" + hand, out.path()).Status, 0);
    for (const std::string& form :
         {std::string("auto.txt --table auto.csv --mindif auto --tolerance AUTO"),
          std::string("whole.txt --table whole.csv --full-stack --mindif Auto "
                      "--tolerance auto")}) {
        const TRun run = RunCli("evaluate -q " + list + " " + form, out.path());
        ASSERT_EQ(run.Status, 0) << run.Err;
        EXPECT_NE(run.Err.find("Settings chosen from the stack: mindif " + mindif + ", tolerance " +
                               tolerance + "\n"),
                  std::string::npos)
            << run.Err;
        EXPECT_NE(run.Err.find("Coverage: "), std::string::npos) << run.Err;
    }
    for (const char* name : {"auto", "whole"})
        for (const char* ext : {".txt", ".csv", ".bmp"})
            EXPECT_EQ(ReadFileBytes(out / (name + std::string(ext))),
                      ReadFileBytes(out / ("hand" + std::string(ext))))
                << name << ext;

    const TRun render = RunCli("render matrix -q " + list + " m.bmp --mindif auto", out.path());
    EXPECT_EQ(render.Status, 0) << render.Err;
    EXPECT_NE(render.Err.find("Settings chosen from the stack: mindif "), std::string::npos);
}

TEST_F(Cli, SuggestRefusesWhatEvaluateRefuses) {
    TTempDir out;
    const std::string list = "'" + stack_->ListFile + "'";
    for (const char* bad : {"--mindif 256", "--tolerance autox", "--mindif -1", "--tolerance ''"})
        EXPECT_EQ(RunCli("evaluate -q " + list + " p.txt " + bad, out.path()).Status, 2) << bad;
    EXPECT_EQ(RunCli("suggest -q " + list + " --tolerance 5", out.path()).Status, 2);
    const TRun missing = RunCli("suggest -q missing.txt", out.path());
    const TRun evaluate = RunCli("evaluate -q missing.txt p.txt", out.path());
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err, evaluate.Err);
    const TRun short_ = RunCli("suggest -q " + ListWith(out, {}, 16), out.path());
    EXPECT_EQ(short_.Status, 1);
    EXPECT_NE(short_.Err.find("names 16 photographs"), std::string::npos) << short_.Err;
}

TEST(CliSuggest, AFlatStackHasNoDotsAndSaysSo) {
    TTempDir dir;
    TRawPicture grey;
    grey.Width = 48;
    grey.Height = 32;
    grey.Values.assign(48 * 32, 90);
    std::string list = "flat\r\nstack\r\n";
    for (int i = 0; i < 17; ++i) {
        const std::string name = "p" + std::to_string(i) + ".png";
        WritePng(dir / name, grey);
        list += name + "\r\n";
    }
    WriteFileText(dir / "flat.txt", list);
    const TRun run = RunCli("suggest -q flat.txt", dir.path());
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "mindif 80\ntolerance 30\n");
    EXPECT_NE(run.Err.find("no dots"), std::string::npos) << run.Err;
    const TRun evaluate = RunCli(
        "evaluate -q flat.txt p.txt --mindif auto --tolerance auto --table p.csv", dir.path());
    EXPECT_EQ(evaluate.Status, 0) << evaluate.Err;
    EXPECT_EQ(ReadFileText(dir / "p.txt"), "");
}
