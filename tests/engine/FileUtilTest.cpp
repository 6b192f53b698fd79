#include "FileUtil.h"

#include "Errors.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST(TAtomicFile, ReplacesTheFileOnlyOnCommit) {
    TTempDir dir;
    WriteFileText(dir / "out.txt", "old");
    {
        TAtomicFile file(dir / "out.txt");
        file.Write("new content");
        EXPECT_EQ(ReadFileText(dir / "out.txt"), "old") << "the target changes only at commit";
        // destroyed without Commit: an interrupted write
    }
    EXPECT_EQ(ReadFileText(dir / "out.txt"), "old");
    EXPECT_EQ(ListFolder(dir.path()), Lines{"out.txt"}) << "no temporary file may stay behind";

    WriteWholeFile(dir / "out.txt", "new");
    EXPECT_EQ(ReadFileText(dir / "out.txt"), "new");
    EXPECT_EQ(ListFolder(dir.path()), Lines{"out.txt"});
}

TEST(TAtomicFile, LargeWritesArriveWhole) {
    TTempDir dir;
    std::string big(3 << 20, 'x');
    for (std::size_t i = 0; i < big.size(); i += 4097)
        big[i] = static_cast<char>('a' + i % 26);
    TAtomicFile file(dir / "big");
    file.Write("head");
    file.Write(big);
    file.Write("tail");
    file.Commit();
    EXPECT_EQ(ReadFileText(dir / "big"), "head" + big + "tail");
}

TEST(TAtomicFile, FailuresRaiseAndLeaveNothingBehind) {
    TTempDir dir;
    ::mkdir((dir / "sub").c_str(), 0755);
    WriteFileText(dir / "keep", "kept");
    EXPECT_THROW(WriteWholeFile(dir / "no-such-folder/out.txt", "x"), EFileError);
    EXPECT_THROW(WriteWholeFile(dir / "sub", "x"), EFileError);
    EXPECT_EQ(ListFolder(dir.path()), (Lines{"keep", "sub"}));
    EXPECT_TRUE(ListFolder(dir / "sub").empty());
    if (::access("/dev/full", W_OK) == 0) {
        try {
            WriteWholeFile("/dev/full", std::string(1 << 21, 'x'));
            ADD_FAILURE() << "writing to a full device reported success";
        } catch (const EFileError& e) {
            EXPECT_NE(std::string(e.what()).find("/dev/full"), std::string::npos) << e.what();
        }
        struct stat info {};
        ASSERT_EQ(::stat("/dev/full", &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << "a device must be written in place, never replaced";
    }
}

TEST(TAtomicFile, KeepsThePermissionsOfTheReplacedFileAndFollowsLinks) {
    TTempDir dir;
    WriteFileText(dir / "script", "old");
    ::chmod((dir / "script").c_str(), 0751);
    ASSERT_EQ(::symlink("script", (dir / "link").c_str()), 0);
    WriteWholeFile(dir / "link", "new");
    struct stat info {};
    ASSERT_EQ(::lstat((dir / "link").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link stays a link";
    EXPECT_EQ(ReadFileText(dir / "script"), "new");
    ASSERT_EQ(::stat((dir / "script").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0751u);
}
