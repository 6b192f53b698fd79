#include "Result.h"

#include "Arguments.h"
#include "refine/Refine.h"
#include "Released.h"

#include <pybind11/numpy.h>

namespace kelvaron_py {

py::dict TResult::Settings() const {
    py::dict settings;
    settings["mindif"] = int(evaluation_->MinDif);
    settings["tolerance"] = int(evaluation_->Tolerance);
    settings["channel"] = ChannelName(request_.Channel);
    settings["bits"] = request_.Bits == 0 ? py::object(py::none()) : py::int_(request_.Bits);
    settings["refine"] = evaluation_->IsRefined;
    return settings;
}

void TResult::Write(const py::object& points, bool bitmap, const py::object& table) {
    const std::string pointsName = PathOf(points, "points");
    const std::string tableName = table.is_none() ? std::string() : PathOf(table, "table");
    const std::shared_ptr<const TEvaluation> evaluation = evaluation_;
    const int threads = request_.Threads;
    RunReleased<bool>([&](const std::function<void()>&) {
        std::lock_guard lock(*writing_);
        evaluation->Write(pointsName, bitmap, tableName, threads);
        return true;
    });
}

py::dict SuggestionDict(const TSuggestion& s) {
    py::dict figures;
    figures["mindif"] = int(s.MinDif);
    figures["tolerance"] = int(s.Tolerance);
    figures["background"] = s.Background;
    figures["noise"] = s.Noise;
    figures["noise_floor"] = s.NoiseFloor;
    figures["lit_spread"] = s.LitSpread;
    figures["unlit_spread"] = s.UnlitSpread;
    figures["above_floor"] = s.AboveFloor;
    figures["no_dots"] = s.NoDots;
    figures["mindif_reason"] = s.MinDifReason();
    figures["tolerance_reason"] = s.ToleranceReason();
    return figures;
}

py::object TResult::Suggestion() const {
    if (!evaluation_->Suggestion)
        return py::none();
    return SuggestionDict(*evaluation_->Suggestion);
}

// The longest flags text: every flag's name, joined by '|'.
constexpr int kFlagsLength = 26;

py::object TResult::MakePoints() const {
    const TEvaluation& e = *evaluation_;
    const py::ssize_t count = e.Points.EntryCount;
    const py::module_ numpy = py::module_::import("numpy");
    py::list fields;
    auto field = [&fields](const char* name, const char* type) {
        fields.append(py::make_tuple(name, type));
    };
    field("code", "<i4");
    field("dot", "<i4");
    field("x", "<f8");
    field("y", "<f8");
    field("pixels", "<i4");
    if (e.IsRefined) {
        field("refined_x", "<f8");
        field("refined_y", "<f8");
        field("blob_pixels", "<i4");
        field("stray_pixels", "<i4");
        field("contrast", "<i4");
        field("radius", "<f8");
        field("flags", ("<U" + std::to_string(kFlagsLength)).c_str());
    }
    py::array points = numpy.attr("zeros")(count, numpy.attr("dtype")(fields));
    auto column = [&points](const char* name, auto valueOf) {
        using T = decltype(valueOf(py::ssize_t(0)));
        py::array_t<T> values(points.shape(0));
        T* out = values.mutable_data();
        for (py::ssize_t i = 0; i < points.shape(0); ++i)
            out[i] = valueOf(i);
        points[name] = values;
    };
    const std::vector<TUniquePoint>& entries = e.Points.Entries;
    column("code", [&](py::ssize_t i) { return entries[std::size_t(i)].Code; });
    column("dot", [&](py::ssize_t i) { return (entries[std::size_t(i)].Code - 1) / 2; });
    column("x", [&](py::ssize_t i) { return entries[std::size_t(i)].X; });
    column("y", [&](py::ssize_t i) { return entries[std::size_t(i)].Y; });
    column("pixels", [&](py::ssize_t i) { return entries[std::size_t(i)].PixelCount; });
    if (!e.IsRefined)
        return points;
    const std::vector<TRefinedPoint>& refined = e.RefinedPoints;
    column("refined_x", [&](py::ssize_t i) { return refined[std::size_t(i)].X; });
    column("refined_y", [&](py::ssize_t i) { return refined[std::size_t(i)].Y; });
    column("blob_pixels", [&](py::ssize_t i) { return refined[std::size_t(i)].BlobPixels; });
    column("stray_pixels", [&](py::ssize_t i) { return refined[std::size_t(i)].StrayPixels; });
    column("contrast", [&](py::ssize_t i) { return refined[std::size_t(i)].Contrast; });
    column("radius", [&](py::ssize_t i) { return refined[std::size_t(i)].Radius; });
    py::list flags;
    for (const TRefinedPoint& point : refined)
        flags.append(RefineFlagNames(point.Flags));
    points["flags"] = numpy.attr("array")(flags, ("<U" + std::to_string(kFlagsLength)).c_str());
    return points;
}

py::object TResult::MakeCodes() {
    if (evaluation_->Codes.Width == 0 && evaluation_->Codes.Height == 0)
        return py::none();
    // The array owns the matrix: it outlives this result if need be.
    auto codes = std::make_unique<TCode>(std::move(evaluation_->Codes));
    const TCode& matrix = *codes;
    const py::capsule owner(codes.release(),
                            [](void* p) { std::unique_ptr<TCode>(static_cast<TCode*>(p)); });
    return py::array_t<std::int32_t>({py::ssize_t(matrix.Height), py::ssize_t(matrix.Width)},
                                     {py::ssize_t(matrix.Width) * py::ssize_t(sizeof(std::int32_t)),
                                      py::ssize_t(sizeof(std::int32_t))},
                                     matrix.Data.data(), owner);
}
} // namespace kelvaron_py
