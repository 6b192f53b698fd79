// Files and their names: lines split at any line end, names split into folder and
// extension, reads whose errors name the file, outputs that are an input.

#include "files/FileUtil.h"

#include "TestSupport.h"
#include "base/Errors.h"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

using Lines = std::vector<std::string>;

TEST(SplitLines, BreaksAtCrLfLoneLfAndLoneCr) {
    struct Case {
        const char* text;
        Lines lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\n\r\n", {"a", ""}}, // a second break at the end adds an empty line
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"\n", {""}},
        {"\r\r\n", {"", ""}},
        {"\n\r", {"", ""}},       // LF then CR are two breaks, not one
        {" x \t\r\n", {" x \t"}}, // no trimming
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitLines(c.text), c.lines) << "text: \"" << c.text << "\"";
}

TEST(FileNames, ExtensionOfTheLastComponentIsReplacedOrAppended) {
    const std::pair<const char*, const char*> cases[] = {
        {"out.txt", "out.bmp"},
        {"out", "out.bmp"},
        {"a.b.c", "a.b.bmp"},
        {"dir.x/out", "dir.x/out.bmp"},
        {"/data/dir.x/out.txt", "/data/dir.x/out.bmp"},
        {"out.bmp", "out.bmp"},
        {"dir/", "dir/.bmp"},
    };
    for (auto [name, expected] : cases)
        EXPECT_EQ(ChangeFileExt(name, ".bmp"), expected) << name;
}

TEST(FileNames, PathSplitsAtTheLastSeparator) {
    EXPECT_EQ(ExtractFilePath("/a/b/c.jpg"), "/a/b/");
    EXPECT_EQ(ExtractFileName("/a/b/c.jpg"), "c.jpg");
    EXPECT_EQ(ExtractFilePath("c.jpg"), "");
    EXPECT_EQ(ExtractFileName("c.jpg"), "c.jpg");
    EXPECT_EQ(ExtractFileName("dir/"), "");
    EXPECT_EQ(ResolveFileName("c.jpg", "/a"), "/a/c.jpg");
    EXPECT_EQ(ResolveFileName("c.jpg", "/a/"), "/a/c.jpg");
    EXPECT_EQ(ResolveFileName("/x/c.jpg", "/a"), "/x/c.jpg");
    EXPECT_EQ(ResolveFileName("", "/a"), "");
    EXPECT_EQ(ResolveFileName("c.jpg", ""), "c.jpg");
}

TEST(FileExists, FoldersAndEmptyNamesDoNotCount) {
    TTempDir dir;
    WriteFileText(dir / "file", "x");
    EXPECT_TRUE(FileExists(dir / "file"));
    EXPECT_FALSE(FileExists(dir.path()));
    EXPECT_FALSE(FileExists(dir / "missing"));
    EXPECT_FALSE(FileExists(""));
}

TEST(ReadWholeFile, ErrorsNameTheFileAndTheReason) {
    TTempDir dir;
    auto messageOf = [](const std::string& name, std::size_t maxBytes) {
        try {
            ReadWholeFile(name, maxBytes);
        } catch (const EFileError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    WriteFileText(dir / "big", "0123456789");
    EXPECT_EQ(ReadWholeFile(dir / "big", 10).size(), 10u);
    EXPECT_NE(messageOf(dir / "big", 9).find(dir / "big"), std::string::npos);
    EXPECT_NE(messageOf(dir / "missing", 100).find("No such file"), std::string::npos);
    EXPECT_NE(messageOf(dir.path(), 100).find("folder"), std::string::npos);
    EXPECT_NE(messageOf("/dev/zero", 100).find("not a regular file"), std::string::npos);
    EXPECT_EQ(ReadFilePrefix(dir / "big", 4).size(), 4u);
    EXPECT_EQ(ReadFilePrefix(dir / "big", 40).size(), 10u);
}

TEST(OverwrittenInputText, FindsAnOutputThatIsAnInputUnderAnyName) {
    TTempDir dir;
    WriteFileText(dir / "photo.jpg", "x");
    ASSERT_EQ(::link((dir / "photo.jpg").c_str(), (dir / "hard.jpg").c_str()), 0);
    ASSERT_EQ(::symlink("photo.jpg", (dir / "soft.jpg").c_str()), 0);
    const std::vector<std::string> inputs{dir / "list.txt", dir / "photo.jpg"};
    for (const char* output : {"photo.jpg", "hard.jpg", "soft.jpg", "./photo.jpg"})
        EXPECT_NE(OverwrittenInputText({dir / "new.txt", dir / output}, inputs).find("same file"),
                  std::string::npos)
            << output;
    EXPECT_EQ(OverwrittenInputText({dir / "new.txt", dir / "list.txt"}, inputs), "")
        << "a file that does not exist is nobody's input";
}
