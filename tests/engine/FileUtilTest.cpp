#include "files/FileUtil.h"

#include "base/Errors.h"
#include "TestSupport.h"
#include "base/Text.h"

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

TEST(TAtomicFile, ClearsTemporariesOfEndedProcessesAndSparesLiveOnes) {
    TTempDir dir;
    // A process number that no process has: beyond the kernel's largest.
    const std::string stale = ".out.txt.99999999-abc123.tmp";
    const std::string live = ".out.txt." + std::to_string(::getpid()) + "-xyz789.tmp";
    const std::string other = ".other.txt.99999999-abc123.tmp";
    for (const std::string& name : {stale, live, other})
        WriteFileText(dir / name, "left behind");
    EXPECT_TRUE(IsTemporaryFileName(dir / stale));
    for (const char* name :
         {"out.txt", ".out.txt.tmp", ".out.txt.12-abc.tmp", "out.txt.1-abc123.tmp"})
        EXPECT_FALSE(IsTemporaryFileName(name)) << name;

    WriteWholeFile(dir / "out.txt", "new");
    EXPECT_EQ(ListFolder(dir.path()), (Lines{other, live, "out.txt"}))
        << "only this file's temporaries of ended processes go";
}

TEST(TAtomicFile, NeverReplacesAWriteProtectedFileAndNamesAMissingFolder) {
    TTempDir dir;
    WriteFileText(dir / "locked", "locked");
    ASSERT_EQ(::chmod((dir / "locked").c_str(), 0444), 0);
    try {
        WriteWholeFile(dir / "locked", "new");
        ADD_FAILURE() << "a write-protected file was replaced";
    } catch (const EFileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot replace \"" + (dir / "locked") + "\": the file is write-protected");
    }
    EXPECT_EQ(ReadFileText(dir / "locked"), "locked");

    try {
        WriteWholeFile(dir / "absent/out.txt", "new");
        ADD_FAILURE() << "wrote into a folder that does not exist";
    } catch (const EFileError& e) {
        EXPECT_NE(
            std::string(e.what()).find("the folder \"" + dir.path() + "/absent/\" does not exist"),
            std::string::npos)
            << e.what();
    }
}

TEST(TAtomicFile, NamesAFolderItCannotWrite) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into any folder";
    TTempDir dir;
    ::mkdir((dir / "closed").c_str(), 0555);
    try {
        WriteWholeFile(dir / "closed/out.txt", "new");
        ADD_FAILURE() << "wrote into a folder without write permission";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find("the folder \"" + dir.path() +
                                             "/closed/\" cannot be written"),
                  std::string::npos)
            << e.what();
    }
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

TEST(ShownName, EscapesWhatATerminalWouldActOnAndCutsLongNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain name.jpg", "plain name.jpg"},
        {"a\x1b[2Jb", "a\\x1b[2Jb"},
        {"tab\there\r\n", "tab\\x09here\\x0d\\x0a"},
        {"del\x7f", "del\\x7f"},
        {"back\\slash", "back\\\\slash"},
        {"Gr\xc3\xbc\xc3\x9f\x65 \xe2\x82\xac",
         "Gr\xc3\xbc\xc3\x9f\x65 \xe2\x82\xac"}, // UTF-8 stays
        {"latin1 \xfc", "latin1 \\xfc"},         // a byte that is no UTF-8
        {"c1 \xc2\x9b", "c1 \\xc2\\x9b"},        // a C1 control, CSI
        {"cut \xe2\x82", "cut \\xe2\\x82"},      // a sequence cut short
    };
    for (const auto& [name, shown] : cases)
        EXPECT_EQ(ShownName(name), shown) << name;
    const std::string shown = ShownName(std::string(100000, 'n'));
    EXPECT_EQ(shown, std::string(kMaxShownName, 'n') + "...");
    EXPECT_EQ(QuotedName("a\nb"), "\"a\\x0ab\"");
}

TEST(ByteSizeText, OneDecimalAtMostInBinaryUnits) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0 bytes"},
        {1, "1 byte"},
        {1023, "1023 bytes"},
        {1024, "1 KiB"},
        {1536, "1.5 KiB"},
        {3000000, "2.9 MiB"},
        {std::uint64_t(64) << 30, "64 GiB"},
        {std::uint64_t(8160) << 20, "8 GiB"},
        {std::uint64_t(7782) << 20, "7.6 GiB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(ByteSizeText(bytes), text) << bytes;
    EXPECT_EQ(CountText(1, "picture"), "1 picture");
    EXPECT_EQ(CountText(0, "picture"), "0 pictures");
}
