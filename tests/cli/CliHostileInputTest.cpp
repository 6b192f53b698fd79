// Hostile inputs given to the command-line tool: pictures that claim far more than
// memory holds or their data can fill, padding of gigabytes, names with escape
// sequences or of 100000 characters, loops of links. Each is refused quickly, within
// little memory, with one short line that shows names safely.

#include "SampleStack.h"
#include "StackSuite.h"
#include "TestSupport.h"
#include "ToolRun.h"
#include "files/FileUtil.h"

#include <cstdint>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

class HostileInputs : public testing::Test {
protected:
    TTempDir dir_;
};

TEST_F(HostileInputs, AreRefusedQuicklyWithinLittleMemory) {
    WriteFileBytes(dir_ / "huge.jpg", TinyJpegHeader(16384, 16384));
    std::string list = "title\nsecond\n";
    for (int i = 0; i < 256; ++i)
        list += "huge.jpg\n";
    WriteFileText(dir_ / "huge.txt", list);
    std::string seventeen = "title\nsecond\n";
    for (int i = 0; i < 17; ++i)
        seventeen += "huge.jpg\n";
    WriteFileText(dir_ / "huge17.txt", seventeen);
    // PNG and TIFF files of a few hundred bytes that claim far more than a plane may
    // hold, or as much as it may but with data that can never fill it.
    auto listOf = [this](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        WriteFileBytes(dir_ / name, bytes);
        std::string names = "title\nsecond\n";
        for (int i = 0; i < 17; ++i)
            names += name + "\n";
        WriteFileText(dir_ / (name + ".txt"), names);
        return name + ".txt";
    };
    const std::string hugePng = listOf("huge.png", TinyPngHeader(100000, 100000));
    const std::string largePng = listOf("large.png", TinyPngHeader(16384, 16384));
    const std::string hugeTiff = listOf("huge.tif", TinyTiffHeader(100000, 100000));
    const std::string largeTiff = listOf("large.tif", TinyTiffHeader(16384, 16384));

    // A picture, then 20 GiB of nothing before its end marker (a sparse file).
    TSampleOptions small = SampleOptionsOf(96, 64, 16);
    const TSampleStack stack = WriteSampleStack(dir_.path(), "pad", small);
    std::vector<std::uint8_t> padded = ReadFileBytes(stack.Photographs[5]);
    padded.resize(padded.size() - 2);
    WriteFileBytes(stack.Photographs[5], padded);
    {
        const int fd = ::open(stack.Photographs[5].c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const off_t end = off_t(padded.size()) + (off_t(20) << 30);
        ASSERT_EQ(::pwrite(fd, "\xFF\xD9", 2, end), 2);
        ::close(fd);
    }

    const struct {
        const char* name;
        std::vector<std::string> arguments;
        std::vector<const char*> message;
    } cases[] = {
        {"258-line list", {"evaluate", "huge.txt", "p.txt"}, {"names 256 photographs"}},
        {"17 pictures beyond the memory",
         {"save-set", "huge17.txt", "set"},
         {"The 17 pictures of 16384 x 16384 need 4.3 GiB; ", " are available."}},
        {"a PNG of 100000 x 100000 pixels",
         {"evaluate", hugePng, "p.txt"},
         {"huge.png\": the picture of 100000 x 100000 pixels is larger than"}},
        {"a PNG whose data cannot fill it",
         {"evaluate", largePng, "p.txt"},
         {"large.png\": its ", "can never fill a picture of 16384 x 16384 pixels"}},
        {"a TIFF of 100000 x 100000 pixels",
         {"evaluate", hugeTiff, "p.txt"},
         {"huge.tif\": the picture of 100000 x 100000 pixels is larger than"}},
        {"a TIFF whose data cannot fill it",
         {"render", "plane", largeTiff, "p.txt"},
         {"large.tif\": strip 0 "}},
        {"padding before the end marker",
         {"evaluate", "-q", stack.ListFile, "p.txt"},
         {"pad_05.jpg\"", "goes on beyond"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // An address-space limit below what the pictures need, whatever this machine has.
        const TOutcome run = RunTool(c.arguments, dir_.path(), {{RLIMIT_AS, rlim_t(3) << 30}});
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        for (const char* part : c.message)
            EXPECT_NE(run.Err.find(part), std::string::npos) << run.Err;
        EXPECT_EQ(Lines(run.Err), 1u) << run.Err;
        EXPECT_LT(run.Seconds, 1.0);
        EXPECT_LT(run.PeakKiB, 100 * 1024);
        EXPECT_FALSE(FileExists(dir_ / "p.txt"));
    }
}

TEST_F(HostileInputs, NamesAreShownEscapedAndShort) {
    // 17 photographs that are not there, the first named with a terminal's escape
    // sequence; and a list whose first name has 100000 characters.
    auto listOf = [](const std::string& first) {
        std::string list = "title\nsecond\n" + first + "\n";
        for (int i = 0; i < 16; ++i)
            list += "missing" + std::to_string(i) + ".jpg\n";
        return list;
    };
    WriteFileText(dir_ / "list.txt", listOf("evil\x1b[2Jname.jpg"));
    WriteFileText(dir_ / "long.txt", listOf(std::string(100000, 'n')));
    ::symlink("loop.txt", (dir_ / "loop.txt").c_str());
    ::symlink("loop.bbf", (dir_ / "loop.bbf").c_str());
    WriteFileBytes(dir_ / "photo.jpg", TinyJpegHeader(64, 64));

    const struct {
        const char* name;
        std::string input;
        const char* message;
    } cases[] = {
        {"control characters", "list.txt", "evil\\x1b[2Jname.jpg"},
        {"a name of 100000 characters", "long.txt", "nnn...\""},
        {"a list that is a loop of links", "loop.txt", "Too many levels of symbolic links"},
        {"a header that is a loop of links", "loop.bbf", "Too many levels of symbolic links"},
        {"a photograph picked as the list", "photo.jpg", "is not a list file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TOutcome run = RunTool({"evaluate", "-q", c.input, "p.txt"}, dir_.path());
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        EXPECT_NE(run.Err.find(c.message), std::string::npos) << run.Err.substr(0, 2000);
        EXPECT_EQ(run.Err.find('\x1b'), std::string::npos) << "no raw escape reaches the terminal";
        EXPECT_EQ(Lines(run.Err), 1u);
        EXPECT_LT(run.Err.size(), 1000u) << run.Err.substr(0, 2000);
    }
}

} // namespace
