// The command-line tool under duress: interrupted and starved of disk, of memory,
// fed hostile inputs. Each run is a real process, so that signals, resource limits
// and its exit status are what a user meets.

#include "files/FileUtil.h"
#include "PicHolder.h"
#include "SampleStack.h"
#include "TestSupport.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

struct TLimit {
    int Resource;
    rlim_t Value;
};

struct TOutcome {
    int ExitCode = -1; // -1 when a signal ended the process
    int Signal = 0;
    std::string Err;
    long PeakKiB = 0;
    double Seconds = 0;
};

// Runs the tool with arguments in folder, under limits; with a signal, sends it
// after delay (unless the tool has ended by then).
TOutcome RunTool(const std::vector<std::string>& arguments, const std::string& folder,
                 const std::vector<TLimit>& limits = {},
                 std::optional<std::pair<int, std::chrono::microseconds>> signal = {}) {
    // stderr comes through a pipe: a limit on file sizes must not silence it.
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        throw std::runtime_error("no pipe");
    std::vector<std::string> all{KELVARON_CLI};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null < 0 || ::dup2(pipeEnds[1], 2) < 0 || ::dup2(null, 1) < 0 ||
            ::chdir(folder.c_str()) != 0)
            ::_exit(120);
        ::close(pipeEnds[0]);
        for (const TLimit& limit : limits) {
            const rlimit value{limit.Value, limit.Value};
            if (::setrlimit(limit.Resource, &value) != 0)
                ::_exit(121);
        }
        ::execv(argv[0], argv.data());
        ::_exit(122);
    }
    ::close(pipeEnds[1]);
    TOutcome outcome;
    std::thread reader([&outcome, fd = pipeEnds[0]] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            outcome.Err.append(buffer, std::size_t(n));
        ::close(fd);
    });
    if (signal) {
        std::this_thread::sleep_for(signal->second);
        ::kill(child, signal->first);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    reader.join();
    outcome.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.PeakKiB = usage.ru_maxrss;
    if (WIFEXITED(status))
        outcome.ExitCode = WEXITSTATUS(status);
    else
        outcome.Signal = WTERMSIG(status);
    return outcome;
}

std::size_t Lines(const std::string& text) {
    return std::size_t(std::count(text.begin(), text.end(), '\n'));
}

// 17 planes of noise, different for every seed, saved as a picture set.
TPics NoiseStack(unsigned seed, std::int32_t width, std::int32_t height) {
    TPics pics;
    pics.SetCount(17, width, height);
    std::mt19937 random(seed);
    for (TPic& plane : pics.Planes)
        for (std::int32_t row = 0; row < height; ++row)
            for (std::int32_t col = 0; col < width; ++col)
                plane.Data[row][col] = static_cast<std::uint8_t>(random());
    return pics;
}

bool SamePlanes(const TPics& a, const TPics& b) {
    if (a.Count() != b.Count())
        return false;
    for (std::size_t i = 0; i < a.Planes.size(); ++i) {
        const TPic& x = a.Planes[i];
        const TPic& y = b.Planes[i];
        if (x.Width != y.Width || x.Height != y.Height ||
            !std::equal(x.Data.data(), x.Data.data() + x.Data.size(), y.Data.data()))
            return false;
    }
    return true;
}

std::vector<std::string> TemporaryFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const std::string& name : ListFolder(folder))
        if (IsTemporaryFileName(name))
            found.push_back(name);
    return found;
}

// Two stacks saved as sets, and a folder holding the output set, saved from the
// first; each run saves the second over it.
class SaveSetUnderDuress : public testing::Test {
protected:
    static void SetUpTestSuite() {
        inputs_ = std::make_unique<TTempDir>();
        former_ = NoiseStack(1, kWidth, kHeight);
        next_ = NoiseStack(2, kWidth, kHeight);
        SavePicSet(former_, *inputs_ / "former.bbf", true);
        SavePicSet(next_, *inputs_ / "next.bbf", true);
    }
    static void TearDownTestSuite() { inputs_.reset(); }

    void SetUp() override {
        const TOutcome made =
            RunTool({"save-set", "-q", *inputs_ / "former.bbf", "out"}, out_.path());
        ASSERT_EQ(made.ExitCode, 0) << made.Err;
    }

    std::vector<std::string> SaveNext() const {
        return {"save-set", "-q", *inputs_ / "next.bbf", "out"};
    }

    // The output set: the former one, the next one, or none that loads; never a mix.
    enum class TFound { Former, Next, Refused, Mixed };
    TFound Found() const {
        TPics pics;
        if (!LoadPicSet(pics, out_ / "out.bbf", out_.path()))
            return TFound::Refused;
        return SamePlanes(pics, former_) ? TFound::Former
               : SamePlanes(pics, next_) ? TFound::Next
                                         : TFound::Mixed;
    }

    static constexpr std::int32_t kWidth = 700;
    static constexpr std::int32_t kHeight = 500;
    static std::unique_ptr<TTempDir> inputs_;
    static TPics former_, next_;
    TTempDir out_;
};

std::unique_ptr<TTempDir> SaveSetUnderDuress::inputs_;
TPics SaveSetUnderDuress::former_, SaveSetUnderDuress::next_;

TEST_F(SaveSetUnderDuress, ASignalAtAnyPointLeavesTheFormerSetTheNextOrNone) {
    // How long an undisturbed save takes, to spread the signals over it.
    const TOutcome timed = RunTool(SaveNext(), out_.path());
    ASSERT_EQ(timed.ExitCode, 0) << timed.Err;
    ASSERT_EQ(RunTool({"save-set", "-q", *inputs_ / "former.bbf", "out"}, out_.path()).ExitCode, 0);
    const auto span = std::chrono::microseconds(std::int64_t(timed.Seconds * 1.2e6));

    int interrupted = 0;
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        constexpr int kPoints = 10;
        for (int point = 0; point < kPoints; ++point) {
            const auto delay = span * point / kPoints;
            SCOPED_TRACE(std::string(strsignal(signal)) + " after " +
                         std::to_string(delay.count()) + " us");
            const TOutcome run = RunTool(SaveNext(), out_.path(), {}, std::pair(signal, delay));
            const TFound found = Found();
            EXPECT_NE(found, TFound::Mixed);
            if (run.ExitCode == 0) {
                EXPECT_EQ(found, TFound::Next);
            } else if (run.Signal == signal && signal != SIGKILL) {
                // Ended before the program got as far as handling signals (as it
                // starts up, under load): nothing was written yet.
                EXPECT_EQ(found, TFound::Former);
                EXPECT_EQ(TemporaryFiles(out_.path()), std::vector<std::string>{});
            } else if (signal == SIGKILL) {
                EXPECT_EQ(run.Signal, SIGKILL);
                ++interrupted;
            } else {
                ++interrupted;
                EXPECT_EQ(run.ExitCode, 128 + signal) << run.Err;
                EXPECT_EQ(Lines(run.Err), 1u) << run.Err;
                EXPECT_NE(run.Err.find("interrupted by SIG"), std::string::npos) << run.Err;
                EXPECT_EQ(TemporaryFiles(out_.path()), std::vector<std::string>{});
            }
            // A save after any of it, a kill -9 too, gives the set whole and clears
            // what an ended process left behind.
            const TOutcome again =
                RunTool({"save-set", "-q", *inputs_ / "former.bbf", "out"}, out_.path());
            ASSERT_EQ(again.ExitCode, 0) << again.Err;
            EXPECT_EQ(Found(), TFound::Former);
            EXPECT_EQ(TemporaryFiles(out_.path()), std::vector<std::string>{});
        }
    }
    EXPECT_GT(interrupted, 8) << "the signals should mostly land while the save runs";
}

TEST_F(SaveSetUnderDuress, AFullDiskLeavesTheFormerSetAndNamesTheFile) {
    // Limits on the size of any file written: before the first plane ends, within
    // the set, and one that only the largest plane passes.
    const rlim_t plane = rlim_t(kWidth) * kHeight;
    for (rlim_t limit : {rlim_t(0), rlim_t(4096), plane / 2, plane - 1}) {
        SCOPED_TRACE("file size limit " + std::to_string(limit));
        const TOutcome run = RunTool(SaveNext(), out_.path(), {{RLIMIT_FSIZE, limit}});
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        EXPECT_NE(run.Err.find("File too large"), std::string::npos) << run.Err;
        EXPECT_NE(run.Err.find("_out.bin\""), std::string::npos) << "names the file: " << run.Err;
        EXPECT_EQ(Lines(run.Err), 1u) << run.Err;
        EXPECT_EQ(Found(), TFound::Former);
        EXPECT_EQ(TemporaryFiles(out_.path()), std::vector<std::string>{});
    }
}

// ---------------------------------------------------------------------------

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
    TSampleOptions small;
    small.Width = 96;
    small.Height = 64;
    small.Spacing = 16;
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

TEST(OutOfMemory, AnyLimitGivesASentenceNamingWhatAndHowMuch) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than these limits allow";
#endif
    TTempDir dir;
    TSampleOptions options;
    options.Width = 800;
    options.Height = 600;
    const TSampleStack stack = WriteSampleStack(dir.path(), "m", options);
    int succeeded = 0;
    for (rlim_t mib = 24; mib <= 160; mib += 8) {
        SCOPED_TRACE(std::to_string(mib) + " MiB of address space");
        // As many decoding threads as asked for would not fit: the load takes fewer.
        const std::vector<TLimit> limits{{RLIMIT_AS, mib << 20}};
        const TOutcome few =
            RunTool({"save-set", "-q", "--threads", "2", stack.ListFile, "s"}, dir.path(), limits);
        const TOutcome many =
            RunTool({"save-set", "-q", "--threads", "17", stack.ListFile, "s"}, dir.path(), limits);
        if (few.ExitCode == 0) {
            EXPECT_EQ(many.ExitCode, 0) << many.Err;
        }

        const TOutcome run = RunTool(
            {"evaluate", "-q", stack.ListFile, "p.txt", "--table", "t.csv"}, dir.path(), limits);
        if (run.ExitCode == 0) {
            ++succeeded;
            continue;
        }
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        EXPECT_EQ(Lines(run.Err), 1u) << run.Err;
        EXPECT_NE(run.Err.find("memory"), std::string::npos) << run.Err;
        EXPECT_EQ(run.Err.find("bad_alloc"), std::string::npos) << run.Err;
        EXPECT_EQ(run.Err.find("Insufficient memory"), std::string::npos) << run.Err;
        EXPECT_EQ(TemporaryFiles(dir.path()), std::vector<std::string>{});
    }
    EXPECT_GT(succeeded, 0) << "the largest limit is enough for this stack";
}

} // namespace
