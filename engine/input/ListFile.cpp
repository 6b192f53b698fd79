#include "input/ListFile.h"

#include "base/Errors.h"
#include "files/FileUtil.h"
#include "base/Limits.h"
#include "base/Text.h"

#include <string_view>

namespace {

// A list is text: names and line breaks. A NUL byte, which no name can hold, marks
// a binary file, as does the start of a JPEG photograph picked in its place.
bool LooksLikeText(std::string_view text) {
    return text.find('\0') == std::string_view::npos && !text.starts_with("\xFF\xD8\xFF");
}

} // namespace

bool ReadListFile(const std::string& fileName, bool namesOnly, const std::string& baseFolder,
                  std::vector<std::string>& names, std::string& error) {
    const std::string list = "The list file " + QuotedName(fileName);
    try {
        if (NoFileAt(fileName)) {
            error = list + " does not exist.";
            return false;
        }
        // The lines are counted before they are split: a list of millions of empty
        // lines would otherwise take gigabytes as strings before it is refused.
        const TTextFile file(fileName);
        const std::string_view text = file.Text();
        if (!LooksLikeText(text)) {
            error = QuotedName(fileName) +
                    " is not a list file: it holds binary data, not lines of text (pick the "
                    "text file that names the photographs).";
            return false;
        }
        const std::size_t lineCount = CountLines(text);
        if (lineCount <= kListHeaderLines || lineCount > kListHeaderLines + kMaxPlanes) {
            error = list + " has " + CountText(lineCount, "line") +
                    "; it needs two header lines and then 1 to " + std::to_string(kMaxPlanes) +
                    " photograph names.";
            return false;
        }
        const std::vector<std::string> lines = SplitLines(text);
        names.clear();
        for (std::size_t line = kListHeaderLines; line < lines.size(); ++line)
            names.push_back(ResolveFileName(namesOnly ? ExtractFileName(lines[line]) : lines[line],
                                            baseFolder));
        return true;
    } catch (const EFileError& e) {
        error = e.what();
        return false;
    }
}

std::string MissingText(const std::string& listFileName, const std::vector<std::string>& names,
                        const std::vector<char>& found) {
    constexpr int kMaxNamed = 5;
    std::string text = "Photographs of the list file " + QuotedName(listFileName) +
                       " not found (missing, a folder or an empty name): ";
    int named = 0;
    int more = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (found[i])
            continue;
        if (named == kMaxNamed) {
            ++more;
            continue;
        }
        text += named++ == 0 ? "" : ", ";
        text += "line " + std::to_string(kListHeaderLines + i + 1) + " " + QuotedName(names[i]);
    }
    if (more > 0)
        text += " and " + std::to_string(more) + " more";
    return text + ".";
}
