// The batch command as a user runs it: poses evaluated as single runs would be,
// failures that do not stop the others, poses kept when up to date, an interrupted
// batch that leaves whole poses or none.

#include "pipeline/Batch.h"

#include "CliRun.h"
#include "StackSuite.h"
#include "files/FileUtil.h"
#include "output/Report.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A summary.csv row: its fields by column name (no field in these tests is quoted
// but the message, which comes last).
std::map<std::string, std::string> SummaryRow(const std::string& line) {
    static const char* kColumns[] = {"pose",   "input",     "status",  "points", "flagged",
                                     "mindif", "tolerance", "seconds", "message"};
    std::map<std::string, std::string> row;
    std::size_t at = 0;
    for (int c = 0; c < 9; ++c) {
        if (c == 8) {
            std::string message = line.substr(at);
            if (message.size() >= 2 && message.front() == '"') {
                message = message.substr(1, message.size() - 2);
                for (std::size_t q = message.find("\"\""); q != std::string::npos;
                     q = message.find("\"\"", q + 1))
                    message.erase(q, 1);
            }
            row[kColumns[c]] = message;
            break;
        }
        const std::size_t comma = line.find(',', at);
        row[kColumns[c]] = line.substr(at, comma - at);
        at = comma + 1;
    }
    return row;
}

std::map<std::string, std::map<std::string, std::string>> Summary(const std::string& folder) {
    std::map<std::string, std::map<std::string, std::string>> rows;
    const std::vector<std::string> lines = ReadTextLines(folder + "/summary.csv");
    EXPECT_FALSE(lines.empty());
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::map<std::string, std::string> row = SummaryRow(lines[i]);
        rows[row["pose"]] = row;
    }
    return rows;
}

std::int64_t ChangeTime(const std::string& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return -1;
    return std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

class Batch : public TStackSuite<Batch> {
public:
    static constexpr const char* kStackName = "pose";
    static TSampleOptions StackOptions() { return SmallStackOptions(20, 11); }

protected:
    // A list file at path naming the shared stack's photographs, with changes.
    std::string List(const std::string& path, const std::map<int, std::string>& changed = {},
                     int count = 17) const {
        fs::create_directories(fs::path(path).parent_path());
        WriteFileText(path, ListText(changed, count));
        return path;
    }

    // The files a single evaluate writes for input, as name → bytes.
    std::map<std::string, std::vector<std::uint8_t>> Single(const std::string& input,
                                                            const std::string& extra) const {
        TTempDir out;
        const TRun run = RunCli(
            "evaluate -q " + extra + " --table single.csv '" + input + "' single.txt", out.path());
        EXPECT_EQ(run.Status, 0) << run.Err;
        return {{".txt", ReadFileBytes(out / "single.txt")},
                {".bmp", ReadFileBytes(out / "single.bmp")},
                {".csv", ReadFileBytes(out / "single.csv")}};
    }
};

} // namespace

TEST_F(Batch, PosesEqualSingleRunsAndFailuresDoNotStopTheOthers) {
    TTempDir work;
    const std::string left = List(work / "left/pose.txt");
    const std::string right = List(work / "right/pose.txt");
    const std::string missing = List(work / "missing.txt", {{5, work / "gone.jpg"}});
    const std::string damaged = work / "damaged.jpg";
    {
        std::vector<std::uint8_t> bytes = ReadFileBytes(stack_->Photographs[7]);
        bytes.resize(bytes.size() / 3);
        WriteFileBytes(damaged, bytes);
    }
    const std::string broken = List(work / "damaged.txt", {{7, damaged}});
    const std::string shortList = List(work / "short.txt", {}, 16);
    const std::string blocked = List(work / "blocked.txt");
    fs::create_directories(work / "out/blocked.txt"); // its points file cannot be written
    const std::string inputs = "'" + left + "' '" + right + "' '" + missing + "' '" + broken +
                               "' '" + shortList + "' '" + blocked + "'";
    const std::string out = work / "out";

    const TRun run = RunCli("batch --table --mindif auto " + inputs + " --out '" + out + "'");
    EXPECT_EQ(run.Status, 1) << run.Err;
    auto rows = Summary(out);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows["left-pose"]["status"], "ok");
    EXPECT_EQ(rows["right-pose"]["status"], "ok");
    for (const char* failed : {"missing", "damaged", "short", "blocked"}) {
        EXPECT_EQ(rows[failed]["status"], "failed") << failed;
        EXPECT_FALSE(rows[failed]["message"].empty()) << failed;
        // The sentence evaluate gives for the same input, also on stderr.
        const std::string input = work / (std::string(failed) + ".txt");
        const TRun single =
            RunCli("evaluate -q --mindif auto '" + input + "' '" + (work / "x.txt") + "'");
        if (std::string(failed) != "blocked") {
            EXPECT_EQ(single.Err, "kelvaron-eval-cli: " + rows[failed]["message"] + "\n");
            EXPECT_NE(run.Err.find(rows[failed]["message"]), std::string::npos) << failed;
        }
        EXPECT_FALSE(FileExists(out + "/" + failed + ".settings")) << failed;
    }
    EXPECT_NE(rows["blocked"]["message"].find("blocked.txt"), std::string::npos);

    // Each good pose's files are those of a single evaluate, byte for byte.
    const auto single = Single(left, "--mindif auto");
    for (const char* pose : {"left-pose", "right-pose"})
        for (const auto& [ext, bytes] : single)
            EXPECT_EQ(ReadFileBytes(out + "/" + pose + ext), bytes) << pose << ext;
    EXPECT_EQ(rows["left-pose"]["points"], std::to_string(stack_->Dots.size()));
    EXPECT_NE(rows["left-pose"]["flagged"], "");
    EXPECT_NE(rows["left-pose"]["mindif"], "");

    // points.csv: every good pose's table lines with the pose in front.
    const std::vector<std::string> combined = ReadTextLines(out + "/points.csv");
    const std::vector<std::string> table = ReadTextLines(out + "/left-pose.csv");
    ASSERT_EQ(combined.size(), 1 + 2 * (table.size() - 1));
    EXPECT_EQ(combined[0], "pose," + table[0]);
    EXPECT_EQ(combined[1], "left-pose," + table[1]);
    EXPECT_EQ(combined.back(), "right-pose," + table.back());

    // A rerun keeps the good poses and touches none of their files; --force redoes them.
    const std::int64_t before = ChangeTime(out + "/left-pose.txt");
    const TRun again = RunCli("batch --table --mindif auto " + inputs + " --out '" + out + "'");
    EXPECT_EQ(again.Status, 1);
    rows = Summary(out);
    EXPECT_EQ(rows["left-pose"]["status"], "kept");
    EXPECT_EQ(rows["right-pose"]["status"], "kept");
    EXPECT_EQ(rows["missing"]["status"], "failed");
    EXPECT_EQ(ChangeTime(out + "/left-pose.txt"), before);
    EXPECT_EQ(ReadTextLines(out + "/points.csv"), combined);

    // Other settings redo a pose; a changed photograph list too.
    const TRun other = RunCli("batch --table '" + left + "' --out '" + out + "'");
    EXPECT_EQ(other.Status, 0) << other.Err;
    EXPECT_EQ(Summary(out)["pose"]["status"], "ok") << "one input: its name alone";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    List(right); // written anew: newer than the pose's files
    const TRun touched =
        RunCli("batch --table --mindif auto '" + left + "' '" + right + "' --out '" + out + "'");
    rows = Summary(out);
    EXPECT_EQ(rows["left-pose"]["status"], "kept");
    EXPECT_EQ(rows["right-pose"]["status"], "ok");

    const TRun forced = RunCli("batch --force --table --mindif auto '" + left + "' '" + right +
                               "' --out '" + out + "'");
    EXPECT_EQ(forced.Status, 0) << forced.Err;
    rows = Summary(out);
    EXPECT_EQ(rows["left-pose"]["status"], "ok");
    EXPECT_GT(ChangeTime(out + "/left-pose.txt"), before);
}

TEST_F(Batch, PlainPointsAndRefusedCommandLines) {
    TTempDir work;
    const std::string a = List(work / "a.txt");
    const std::string out = work / "out";
    // Without the table, points.csv holds the points files' lines.
    const TRun run = RunCli("batch -q --no-bitmap '" + a + "' --out '" + out + "'");
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_FALSE(FileExists(out + "/a.bmp"));
    const std::vector<std::string> points = ReadTextLines(out + "/a.txt");
    const std::vector<std::string> combined = ReadTextLines(out + "/points.csv");
    ASSERT_EQ(combined.size(), points.size() + 1);
    EXPECT_EQ(combined[0], "pose,code,dot,x,y,pixels");
    int code = 0, pixels = 0;
    char x[16], y[16];
    ASSERT_EQ(std::sscanf(points[0].c_str(), "%d %15s %15s %d", &code, x, y, &pixels), 4);
    EXPECT_EQ(combined[1], "a," + std::to_string(code) + "," + std::to_string((code - 1) / 2) +
                               "," + x + "," + y + "," + std::to_string(pixels));
    EXPECT_EQ(Summary(out)["a"]["flagged"], "") << "no refinement, no flags";

    // The same input twice, under another name too, is refused before anything runs.
    const std::string fresh = work / "fresh";
    for (const std::string& twice : std::vector<std::string>{
             "'" + a + "' '" + a + "'", "'" + a + "' '" + work.path() + "/./a.txt'"}) {
        const TRun refused = RunCli("batch " + twice + " --out '" + fresh + "'");
        EXPECT_EQ(refused.Status, 2) << twice;
        EXPECT_NE(refused.Err.find("same file"), std::string::npos) << refused.Err;
        EXPECT_FALSE(fs::exists(fresh));
    }
    // An output that is an input: the pose "points" and a list of that name.
    const std::string inside = List(out + "/in.txt");
    const TRun overwrite = RunCli("batch '" + inside + "' --out '" + out + "'");
    EXPECT_EQ(overwrite.Status, 2) << overwrite.Err;
    EXPECT_NE(overwrite.Err.find("in.txt"), std::string::npos) << overwrite.Err;
    EXPECT_EQ(RunCli("batch --out '" + out + "'").Status, 2) << "no input";
    EXPECT_EQ(RunCli("batch '" + a + "'").Status, 2) << "no --out";
}

TEST_F(Batch, InterruptedBatchLeavesWholePosesOrNone) {
    TTempDir work;
    const std::string out = work / "out";
    std::string inputs;
    constexpr int kPoses = 8;
    for (int i = 0; i < kPoses; ++i)
        inputs += " '" + List(work / ("p" + std::to_string(i) + ".txt")) + "'";
    // A first whole run leaves combined files, which an interrupted run must not replace.
    ASSERT_EQ(RunCli("batch -q --table" + inputs + " --out '" + out + "'").Status, 0);
    const std::vector<std::uint8_t> summary = ReadFileBytes(out + "/summary.csv");
    for (int i = 0; i < kPoses; ++i)
        fs::remove(out + "/p" + std::to_string(i) + ".settings"); // all to be redone
    fs::remove(out + "/p7.txt");

    // One pose at a time, stopped once the first is done.
    const std::string err = work / "err";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDERR_FILENO);
        const std::string command = "exec '" KELVARON_CLI "' batch --threads 1 --table" + inputs +
                                    " --out '" + out + "' >/dev/null";
        ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        ::_exit(127);
    }
    auto said = [&err] { return FileExists(err) ? ReadFileText(err) : std::string(); };
    for (int wait = 0; wait < 5000 && said().find("Pose 1 of") == std::string::npos; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(child, SIGINT);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130) << ReadFileText(err);
    EXPECT_EQ(ReadFileBytes(out + "/summary.csv"), summary) << "combined files kept";
    int finished = 0;
    const auto single = Single(work / "p0.txt", "");
    for (int i = 0; i < kPoses; ++i) {
        const std::string pose = out + "/p" + std::to_string(i);
        if (!FileExists(pose + ".settings"))
            continue; // not finished: a rerun redoes it
        ++finished;
        for (const auto& [ext, bytes] : single)
            EXPECT_EQ(ReadFileBytes(pose + ext), bytes) << pose << ext;
    }
    EXPECT_GE(finished, 1);
    EXPECT_LT(finished, kPoses) << "the batch ended before the signal";
    for (const std::string& name : ListFolder(out))
        EXPECT_FALSE(IsTemporaryFileName(name)) << name;

    // The rerun does only what is missing.
    const TRun rerun = RunCli("batch -q --table" + inputs + " --out '" + out + "'");
    ASSERT_EQ(rerun.Status, 0) << rerun.Err;
    int kept = 0;
    for (const auto& [pose, row] : Summary(out))
        kept += row.at("status") == "kept";
    EXPECT_EQ(kept, finished);
    EXPECT_TRUE(FileExists(out + "/p7.txt"));
}

TEST(PoseNames, FoldersAreAddedUntilNamesDiffer) {
    EXPECT_EQ(PoseNames({"/d/left/pose03.txt", "/d/right/pose03.txt", "/d/x.bbf"}),
              (std::vector<std::string>{"left-pose03", "right-pose03", "x"}));
    EXPECT_EQ(PoseNames({"/a/b/c/p.txt", "/a/x/c/p.txt"}),
              (std::vector<std::string>{"b-c-p", "x-c-p"}));
    EXPECT_EQ(PoseNames({"/s/points.txt", "/summary.bbf", "/t/report.v1.txt"}),
              (std::vector<std::string>{"s-points", "pose-summary", "report.v1"}));
}

TEST_F(Batch, ReportPagesOfOneStackAndOfABatch) {
    TTempDir work;
    const std::string a = List(work / "a.txt");
    const std::string b = List(work / "b.txt");
    // evaluate --report: the page beside the usual files, which stay as they are.
    const TRun single = RunCli("evaluate -q --report page.html '" + a + "' p.txt", work.path());
    ASSERT_EQ(single.Status, 0) << single.Err;
    const std::string page = ReadFileText(work / "page.html");
    EXPECT_NE(page.find("<html"), std::string::npos);
    EXPECT_EQ(page.find("http://"), std::string::npos) << "nothing fetched";
    EXPECT_EQ(page.find("https://"), std::string::npos) << "nothing fetched";
    EXPECT_NE(page.find("data:image/jpeg;base64,"), std::string::npos);
    const auto plain = Single(a, "");
    EXPECT_EQ(ReadFileBytes(work / "p.txt"), plain.at(".txt"));
    EXPECT_EQ(ReadFileBytes(work / "p.bmp"), plain.at(".bmp"));
    for (const std::string clash : {"p.txt", "p.bmp", "a.txt"}) {
        const TRun refused =
            RunCli("evaluate -q --report " + clash + " '" + a + "' p.txt", work.path());
        EXPECT_EQ(refused.Status, 2) << clash << ": " << refused.Err;
    }
    EXPECT_EQ(ReadFileBytes(work / "p.txt"), plain.at(".txt")) << "nothing written on refusal";

    // batch --report: a page per pose and one for all, whose sections are the poses'.
    const std::string out = work / "out";
    const std::string missing = List(work / "gone.txt", {{3, work / "gone.jpg"}});
    const TRun run =
        RunCli("batch -q --report '" + a + "' '" + missing + "' '" + b + "' --out '" + out + "'");
    EXPECT_EQ(run.Status, 1) << run.Err;
    const std::string all = ReadFileText(out + "/report.html");
    for (const char* pose : {"a", "b"}) {
        const std::string own = ReadFileText(out + "/" + pose + ".html");
        const std::string section = ReportSectionOf(own);
        ASSERT_FALSE(section.empty()) << pose;
        EXPECT_NE(all.find(section), std::string::npos) << pose;
    }
    EXPECT_FALSE(FileExists(out + "/gone.html"));
    EXPECT_LT(all.find("gone"), all.find(ReportSectionOf(ReadFileText(out + "/a.html"))))
        << "the failure is told first";
    EXPECT_NE(Summary(out)["a"]["flagged"], "") << "the report refines the points";
    if (BrowserTestsRun()) {
        EXPECT_EQ(BrowserReportState(out + "/report.html"), "ready 2");
    }
}
