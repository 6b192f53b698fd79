// The combined files of a batch: points.csv, summary.csv and report.html.

#include "base/Format.h"
#include "base/Text.h"
#include "files/AtomicFile.h"
#include "files/FileUtil.h"
#include "files/Interrupts.h"
#include "output/Report.h"
#include "pipeline/BatchDetail.h"

#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

using batch_detail::TPoseFiles;

// A CSV field: quoted, with quotes doubled, where it holds a separator, a quote
// or a line end.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// points.csv: a header, then each pose's rows with its name in front: the lines of
// its point table, or those of its points file as "code,dot,x,y,pixels".
void WritePointsTable(TAtomicFile& file, const std::vector<TBatchRow>& rows,
                      const std::vector<TPoseFiles>& files, bool table) {
    file.Write(std::string("pose,") + (table ? kPointTableHeader : "code,dot,x,y,pixels") + "\n");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].Status == "failed")
            continue;
        const std::string name = table ? files[i].Table : files[i].Points;
        const std::vector<std::uint8_t> bytes = ReadWholeFile(name);
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const std::string prefix = CsvField(rows[i].Pose) + ",";
        std::string out;
        out.reserve(text.size() + text.size() / 8);
        std::size_t at = table ? std::min(text.find('\n'), text.size()) + 1 : 0; // past the header
        while (at < text.size()) {
            std::size_t end = std::min(text.find('\n', at), text.size());
            std::string_view line = text.substr(at, end - at);
            at = end + 1;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (line.empty())
                continue;
            out += prefix;
            if (table) {
                out += line;
            } else { // "code x y pixels"
                const std::size_t a = line.find(' ');
                const std::size_t b = line.find(' ', a + 1);
                const std::size_t c = line.find(' ', b + 1);
                if (a == std::string_view::npos || b == std::string_view::npos ||
                    c == std::string_view::npos)
                    throw EFileError("The points file " + QuotedName(name) +
                                     " has a line that is not \"code x y pixels\".");
                const std::string code(line.substr(0, a));
                out += code + ',' + std::to_string((std::stol(code) - 1) / 2) + ',';
                out.append(line.substr(a + 1, b - a - 1)).append(",");
                out.append(line.substr(b + 1, c - b - 1)).append(",");
                out.append(line.substr(c + 1));
            }
            out += '\n';
        }
        file.Write(out);
    }
}

} // namespace

namespace batch_detail {

void WriteCombinedFiles(const std::string& folder, const TBatchRequest& request,
                        const std::vector<TBatchRow>& rows, const std::vector<TPoseFiles>& files) {
    SetInterruptActivity("writing the combined files in " + QuotedName(folder));
    TAtomicFileSet combined;
    WritePointsTable(combined.Add((fs::path(folder) / "points.csv").string()), rows, files,
                     request.Table);
    if (request.Report)
        WriteReport(combined.Add((fs::path(folder) / "report.html").string()),
                    "Batch of " + CountText(rows.size(), "pose"), rows,
                    [&](std::size_t i) -> std::string {
                        if (rows[i].Status == "failed")
                            return {};
                        const std::vector<std::uint8_t> page = ReadWholeFile(files[i].Report);
                        return ReportSectionOf(std::string_view(
                            reinterpret_cast<const char*>(page.data()), page.size()));
                    });
    // The summary goes in place last: the set's key.
    combined.Add((fs::path(folder) / "summary.csv").string()).Write(BatchSummaryText(rows));
    combined.Finish();
    const TInterruptHold hold; // the renames are not cut short
    combined.Commit();
}

} // namespace batch_detail

std::string BatchSummaryText(const std::vector<TBatchRow>& rows) {
    std::string text = "pose,input,status,points,flagged,mindif,tolerance,seconds,message\n";
    auto known = [](int value) { return value < 0 ? std::string() : std::to_string(value); };
    for (const TBatchRow& row : rows)
        text += CsvField(row.Pose) + ',' + CsvField(row.Input) + ',' + row.Status + ',' +
                std::to_string(row.Points) + ',' + known(row.Flagged) + ',' + known(row.MinDif) +
                ',' + known(row.Tolerance) + ',' + FormatFixed(row.Seconds, 3) + ',' +
                CsvField(row.Message) + '\n';
    return text;
}
