// The comparison of found points with the true dots, matched by code.

#include "SampleScore.h"

#include "base/Errors.h"
#include "files/FileUtil.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <locale>
#include <map>
#include <sstream>
#include <system_error>

namespace {

// Adds up the distances of found centres from the dots of the same code.
class TErrorTally {
public:
    explicit TErrorTally(const std::vector<TSampleDot>& truth) {
        for (const TSampleDot& dot : truth)
            byCode_.emplace(dot.Code, &dot);
        result_.Dots = truth.size();
    }

    void Add(int code, double x, double y) {
        ++result_.Points;
        auto it = byCode_.find(code);
        if (it == byCode_.end()) {
            ++result_.Extra;
            ++result_.Wrong;
            return;
        }
        const double error = std::hypot(x - it->second->X, y - it->second->Y);
        sum_ += error;
        result_.MaxError = std::max(result_.MaxError, error);
        result_.Far += error > kFarError ? 1 : 0;
        (error <= kRightError ? result_.Right : result_.Wrong) += 1;
        ++result_.Found;
    }

    TTruthComparison Result() const {
        TTruthComparison result = result_;
        result.MeanError = result.Found > 0 ? sum_ / double(result.Found) : 0;
        return result;
    }

private:
    std::map<int, const TSampleDot*> byCode_;
    TTruthComparison result_;
    double sum_ = 0;
};

} // namespace

TTruthComparison CompareWithTruth(const std::vector<TSampleDot>& truth,
                                  const std::string& pointsFile) {
    TErrorTally tally(truth);
    const std::vector<std::string> lines = ReadTextLines(pointsFile);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::istringstream in(lines[i]);
        in.imbue(std::locale::classic());
        int code = 0, count = 0;
        double x = 0, y = 0;
        if (!(in >> code >> x >> y >> count))
            throw EFileError("Cannot read \"" + pointsFile + "\": line " + std::to_string(i + 1) +
                             " is not \"code x y count\"");
        tally.Add(code, x, y);
    }
    return tally.Result();
}

TTruthComparison CompareWithTruth(const std::vector<TSampleDot>& truth,
                                  const TUniquePoints& points) {
    TErrorTally tally(truth);
    for (std::int32_t i = 0; i < points.EntryCount; ++i) {
        const TUniquePoint& point = points.Entries[std::size_t(i)];
        tally.Add(point.Code, point.X, point.Y);
    }
    return tally.Result();
}

TTableComparison CompareTableWithTruth(const std::vector<TSampleDot>& truth,
                                       const std::string& tableFile) {
    const std::vector<std::string> lines = ReadTextLines(tableFile);
    const std::string columns = "code,dot,x,y,pixels,refined_x,refined_y";
    auto fail = [&](std::size_t line, const std::string& reason) {
        throw EFileError("Cannot read \"" + tableFile + "\": line " + std::to_string(line + 1) +
                         ": " + reason);
    };
    if (lines.empty() || lines[0].compare(0, columns.size(), columns) != 0)
        fail(0, "the header does not start with \"" + columns + "\"");
    TErrorTally plain(truth), refined(truth);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const char* p = line.data();
        const char* end = p + line.size();
        double values[7] = {};
        for (double& value : values) {
            auto [next, ec] = std::from_chars(p, end, value);
            if (ec != std::errc() || next == p || (next != end && *next != ','))
                fail(i, "expected the table's first seven numbers, found \"" + line + "\"");
            p = next == end ? end : next + 1;
        }
        const int code = static_cast<int>(values[0]);
        plain.Add(code, values[2], values[3]);
        refined.Add(code, values[5], values[6]);
    }
    return {plain.Result(), refined.Result()};
}
