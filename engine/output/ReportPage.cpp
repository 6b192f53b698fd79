// The report page as a whole: its head, the summary table of the poses, the sections
// between their markers and the script, written into one file.

#include "base/Format.h"
#include "files/AtomicFile.h"
#include "output/Report.h"
#include "output/ReportDetail.h"

using namespace report_detail;

namespace {

// Around each section of a page. Nothing else of a page is an HTML comment, and the
// text of a section holds none: every name in it is escaped.
constexpr std::string_view kSectionBegin = "<!-- pose section -->\n";
constexpr std::string_view kSectionEnd = "<!-- end of pose section -->\n";

std::string SummaryTable(const std::vector<TReportRow>& rows) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].Status == "failed")
            order.push_back(i);
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].Status != "failed")
            order.push_back(i);
    const auto known = [](std::int64_t value) {
        return value < 0 ? std::string("–") : Number(value);
    };
    std::string table = "<div class=\"table-wrap\"><table class=\"summary\">\n<thead><tr>"
                        "<th>pose</th><th>input</th><th>status</th><th>points</th>"
                        "<th>flagged</th><th>mindif</th><th>tolerance</th><th>seconds</th>"
                        "<th>message</th></tr></thead>\n<tbody>\n";
    for (std::size_t i : order) {
        const TReportRow& row = rows[i];
        const bool failed = row.Status == "failed";
        const std::string status = EscapeHtml(row.Status);
        table += "<tr class=\"" + status + "\"><td class=\"pose\">";
        if (failed)
            table += EscapeHtml(row.Pose);
        else
            table += "<a href=\"#pose-" + Number(std::int64_t(i)) + "\">" + EscapeHtml(row.Pose) +
                     "</a>";
        table += "</td><td class=\"input\">" + EscapeHtml(row.Input) + "</td>";
        table += "<td><span class=\"status " + status + "\">" + status + "</span></td>";
        table += "<td class=\"num\">" + (failed ? std::string("–") : Number(row.Points)) + "</td>";
        table += "<td class=\"num\">" + known(row.Flagged) + "</td>";
        table += "<td class=\"num\">" + known(row.MinDif) + "</td>";
        table += "<td class=\"num\">" + known(row.Tolerance) + "</td>";
        table += "<td class=\"num\">" + FormatFixed(row.Seconds, 2) + "</td>";
        table += "<td class=\"message\">" + EscapeHtml(row.Message) + "</td></tr>\n";
    }
    table += "</tbody></table></div>\n";
    return table;
}

} // namespace

void WriteReport(const std::string& fileName, const std::string& title,
                 const std::vector<TReportRow>& rows,
                 const std::function<std::string(std::size_t row)>& section) {
    TAtomicFile file(fileName);
    WriteReport(file, title, rows, section);
    file.Commit();
}

void WriteReport(TAtomicFile& file, const std::string& title, const std::vector<TReportRow>& rows,
                 const std::function<std::string(std::size_t row)>& section) {
    std::size_t ok = 0, kept = 0, failed = 0;
    for (const TReportRow& row : rows) {
        ok += row.Status == "ok";
        kept += row.Status == "kept";
        failed += row.Status == "failed";
    }
    std::string head = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>" +
                       EscapeHtml(title) + "</title>\n";
    head += PageStyle();
    head += "</head>\n<body>\n<h1>" + EscapeHtml(title) + "</h1>\n<p class=\"meta\">" +
            Number(std::int64_t(rows.size())) + (rows.size() == 1 ? " pose" : " poses") + ": " +
            Number(std::int64_t(ok)) + " ok, " + Number(std::int64_t(kept)) + " kept, " +
            Number(std::int64_t(failed)) + " failed</p>\n";
    head += SummaryTable(rows);
    file.Write(head);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::string text = section(i);
        if (text.empty())
            continue;
        file.Write("<div class=\"pose-anchor\" id=\"pose-" + Number(std::int64_t(i)) +
                   "\"></div>\n");
        file.Write(kSectionBegin);
        file.Write(text);
        file.Write(kSectionEnd);
    }
    file.Write(PageScript());
    file.Write("</body>\n</html>\n");
}

std::string ReportSectionOf(std::string_view pageText) {
    const std::size_t begin = pageText.find(kSectionBegin);
    if (begin == std::string_view::npos)
        return {};
    const std::size_t from = begin + kSectionBegin.size();
    const std::size_t end = pageText.find(kSectionEnd, from);
    if (end == std::string_view::npos)
        return {};
    return std::string(pageText.substr(from, end - from));
}
