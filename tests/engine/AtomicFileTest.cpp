// Files written whole or not at all: the target replaced only on commit, nothing
// left behind by a failure, permissions and links kept, temporaries of ended
// processes cleared, write-protected files and missing folders named.

#include "files/AtomicFile.h"

#include "TestSupport.h"
#include "base/Errors.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using Lines = std::vector<std::string>;

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
