#include "output/EvalFiles.h"

#include "base/Clock.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "files/AtomicFile.h"
#include "files/FileUtil.h"
#include "image/Bitmap.h"
#include "output/PointBitmap.h"

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>

std::string TEvalFileNames::BitmapName() const {
    return ChangeFileExt(Points, ".bmp");
}

std::vector<std::string> TEvalFileNames::Files() const {
    std::vector<std::string> files{Points};
    if (Bitmap)
        files.push_back(BitmapName());
    if (!Table.empty())
        files.push_back(Table);
    return files;
}

std::string TEvalFileNames::Problem(const std::vector<std::string>& inputs) const {
    const std::string bitmapName = BitmapName();
    if (Bitmap && NamesSameFile(Points, bitmapName))
        return "The points file " + QuotedName(Points) +
               " would be replaced by the marked picture, which takes the same name; choose a "
               "name that does not end in \".bmp\".";
    if (!Table.empty() && (NamesSameFile(Table, Points) || NamesSameFile(Table, bitmapName)))
        return "The point table " + QuotedName(Table) +
               " would replace the points file or its bitmap.";
    return OverwrittenInputText(Files(), inputs);
}

TEvalFileSeconds WriteEvalFiles(const TEvalFileNames& names, const TEvalFileContent& content,
                                const std::vector<std::string>& inputs) {
    const std::string problem = names.Problem(inputs);
    if (!problem.empty())
        throw std::invalid_argument(problem);
    static const TPic kNoPlane;
    const TPic& lit = content.Lit ? *content.Lit : kNoPlane;
    TEarlyPointBitmap* early = names.Bitmap ? content.Early : nullptr;
    TEvalFileSeconds seconds;

    std::optional<TPointMarks> marks;
    auto writeMarkedRows = [&] {
        std::vector<std::uint8_t> row(BitmapStride(content.Width, TPixelFormat::pf24bit));
        early->WriteRows(marks->Rows(), [&](std::int32_t r) {
            marks->DrawRow(lit, r, row.data());
            return row.data();
        });
    };
    std::unique_ptr<TBackgroundTask> marking; // dropped before the marks
    if (early) {
        marks.emplace(*content.Points, content.Width, content.Height);
        marking = TryStartTask([&writeMarkedRows](std::stop_token) { writeMarkedRows(); });
    }
    std::optional<TAtomicFile> table;
    if (!names.Table.empty()) {
        const auto start = std::chrono::steady_clock::now();
        const std::string text = content.TableText();
        table.emplace(names.Table);
        table->Write(text);
        seconds.Table = SecondsSince(start);
    }
    const auto start = std::chrono::steady_clock::now();
    content.Points->WritePoints(names.Points);
    if (content.PointsWritten)
        content.PointsWritten();
    if (early) {
        if (marking)
            marking->Wait();
        else
            writeMarkedRows();
        early->Commit();
    } else if (names.Bitmap) {
        WritePointBitmap(lit, content.Width, content.Height, *content.Points, names.BitmapName());
    }
    if (table)
        table->Commit();
    seconds.Files = SecondsSince(start);
    return seconds;
}
