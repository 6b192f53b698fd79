// The other commands as a user runs them: render draws each view as the engine
// does, suggest prints the settings that auto uses, and bad arguments are refused.

#include "CliRun.h"
#include "CliSuite.h"
#include "PngWriter.h"
#include "TestSupport.h"
#include "files/FileUtil.h"
#include "image/Bitmap.h"
#include "input/Pics.h"
#include "input/PictureRows.h"
#include "pipeline/Evaluator.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>

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
