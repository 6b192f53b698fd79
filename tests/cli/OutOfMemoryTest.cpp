// The command-line tool starved of memory (a limit on its address space): whatever
// the limit, a run either writes the files it writes without one, byte for byte, or
// ends with one sentence saying what needed the memory and writes nothing. A stack
// too large to hold whole still streams where what it keeps fits, and is refused
// before anything is decoded where that does not fit either.

#include "SampleStack.h"
#include "StackSuite.h"
#include "TestSupport.h"
#include "ToolRun.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

// Whether err is the one line the tool gives when the memory runs out: that there
// is not enough memory for something (and how much) or to do something, or what the
// pictures of a stack need and what is available.
bool IsMemorySentence(const std::string& err) {
    static const std::regex sentence(
        "kelvaron-eval-cli: (There is not enough memory (for .+ \\([0-9.]+ (bytes?|[KMGT]iB)\\)|"
        "to [a-z ]+)|The .+ need [0-9.]+ (bytes?|[KMGT]iB); [0-9.]+ (bytes?|[KMGT]iB) "
        "(is|are) available)\\.\n");
    return std::regex_match(err, sentence);
}

// The names of the files that differ between two folders: missing from folder,
// there only, or with other bytes.
std::vector<std::string> DifferingFiles(const std::string& folder, const std::string& expected) {
    std::vector<std::string> differing;
    const std::vector<std::string> names = ListFolder(folder), wanted = ListFolder(expected);
    for (const std::string& name : wanted)
        if (std::find(names.begin(), names.end(), name) == names.end())
            differing.push_back(name + " missing");
        else if (ReadFileBytes(folder + "/" + name) != ReadFileBytes(expected + "/" + name))
            differing.push_back(name + " differs");
    for (const std::string& name : names)
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end())
            differing.push_back(name + " written");
    return differing;
}

// Runs the tool under limits in a folder of its own and expects all or nothing: the
// files of expected, or the memory sentence and an empty folder.
TOutcome ExpectAllOrNothing(const std::vector<std::string>& arguments,
                            const std::vector<TLimit>& limits, const std::string& expected) {
    TTempDir out;
    const TOutcome run = RunTool(arguments, out.path(), limits);
    if (run.ExitCode == 0) {
        EXPECT_EQ(DifferingFiles(out.path(), expected), std::vector<std::string>{})
            << "a run that succeeds writes what it writes without a limit";
    } else {
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        EXPECT_TRUE(IsMemorySentence(run.Err)) << run.Err;
        EXPECT_EQ(ListFolder(out.path()), std::vector<std::string>{})
            << "a run that fails writes nothing and leaves nothing behind";
    }
    return run;
}

} // namespace

TEST(OutOfMemory, AnyLimitGivesASentenceNamingWhatAndHowMuch) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than these limits allow";
#endif
    TTempDir dir;
    TSampleOptions options = SampleOptionsOf(800, 600);
    const TSampleStack stack = WriteSampleStack(dir.path(), "m", options);
    const std::vector<std::string> evaluate{"evaluate", "-q",      stack.ListFile,
                                            "p.txt",    "--table", "t.csv"};
    auto saveSet = [&stack](const char* threads) {
        return std::vector<std::string>{"save-set", "-q",           "--threads",
                                        threads,    stack.ListFile, "s"};
    };
    TTempDir evaluated, saved;
    ASSERT_EQ(RunTool(evaluate, evaluated.path()).ExitCode, 0);
    ASSERT_EQ(RunTool(saveSet("2"), saved.path()).ExitCode, 0);
    ASSERT_EQ(ListFolder(evaluated.path()).size(), 3u);
    ASSERT_EQ(ListFolder(saved.path()).size(), 18u);

    constexpr rlim_t kLargest = 160;
    for (rlim_t mib = 24; mib <= kLargest; mib += 8) {
        SCOPED_TRACE(std::to_string(mib) + " MiB of address space");
        const std::vector<TLimit> limits{{RLIMIT_AS, mib << 20}};
        // As many decoding threads as asked for would not fit: the load takes fewer.
        const TOutcome few = ExpectAllOrNothing(saveSet("2"), limits, saved.path());
        const TOutcome many = ExpectAllOrNothing(saveSet("17"), limits, saved.path());
        if (few.ExitCode == 0) {
            EXPECT_EQ(many.ExitCode, 0) << many.Err;
        }
        const TOutcome run = ExpectAllOrNothing(evaluate, limits, evaluated.path());
        if (mib == kLargest) {
            EXPECT_EQ(run.ExitCode, 0) << "the largest limit is enough for this stack: " << run.Err;
        }
    }
}

// 17 pictures of 3000 x 2000 pixels take 97.3 MiB as planes; the streamed
// evaluation keeps 22.5 MB of them.
TEST(OutOfMemory, AStackTooLargeToHoldWholeStreamsOrIsRefusedBeforeDecoding) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than these limits allow";
#endif
    TTempDir dir;
    TSampleOptions options = SampleOptionsOf(3000, 2000, 40);
    options.Blur = 0;
    options.Noise = 0;
    const TSampleStack stack = WriteSampleStack(dir.path(), "large", options);
    auto evaluate = [&stack](bool fullStack) {
        std::vector<std::string> arguments{"evaluate",     "-q",    "--threads", "2",
                                           stack.ListFile, "p.txt", "--table",   "t.csv"};
        if (fullStack)
            arguments.push_back("--full-stack");
        return arguments;
    };
    TTempDir evaluated;
    ASSERT_EQ(RunTool(evaluate(false), evaluated.path()).ExitCode, 0);
    const std::string refusal = "kelvaron-eval-cli: The 17 pictures of 3000 x 2000 need 97.3 MiB; ";

    // Below what the planes need, whatever the tool itself takes: the whole stack's
    // load refuses, the streamed evaluation gives the files.
    const std::vector<TLimit> belowPlanes{{RLIMIT_AS, rlim_t(96) << 20}};
    EXPECT_EQ(ExpectAllOrNothing(evaluate(false), belowPlanes, evaluated.path()).ExitCode, 0);
    const TOutcome whole = ExpectAllOrNothing(evaluate(true), belowPlanes, evaluated.path());
    EXPECT_EQ(whole.Err.substr(0, refusal.size()), refusal) << whole.Err;

    // Below what the streamed evaluation keeps: it is not tried, and the whole
    // stack's load refuses alike.
    const std::vector<TLimit> belowKept{{RLIMIT_AS, rlim_t(24) << 20}};
    for (const bool fullStack : {false, true}) {
        SCOPED_TRACE(fullStack ? "whole" : "streamed");
        const TOutcome run = ExpectAllOrNothing(evaluate(fullStack), belowKept, evaluated.path());
        EXPECT_EQ(run.Err.substr(0, refusal.size()), refusal) << run.Err;
        EXPECT_LT(run.Seconds, 1.0) << "refused before any photograph is decoded";
    }
}
