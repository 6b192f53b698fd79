// The Python module kelvaron: the engine over numpy arrays and paths. Every call
// works on a thread of its own with the GIL released, while the calling thread
// waits and looks for signals, so that Ctrl-C stops a long evaluation (Released.h);
// engine errors become the Python exceptions a caller expects.

#include "Arguments.h"
#include "pipeline/Batch.h"
#include "pipeline/EvaluateInput.h"
#include "base/Parallel.h"
#include "Released.h"
#include "Result.h"

#include <cstring>
#include <mutex>
#include <optional>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <string>

namespace py = pybind11;
using namespace kelvaron_py;

namespace {

// Runs work(request) as RunReleased runs its work, with request's CheckStop the
// stop request's.
template <class TResult, class TWork>
TResult RunRequest(const TEvaluateRequest& request, TWork work, const std::string& path = {}) {
    return RunReleased<TResult>(
        [&](const std::function<void()>& checkStop) {
            TEvaluateRequest stoppable = request;
            stoppable.CheckStop = checkStop;
            return work(stoppable);
        },
        path);
}

TResult Evaluate(const py::object& source, const std::string& channel, const py::object& tolerance,
                 const py::object& mindif, bool refine, bool codes, int threads,
                 std::optional<int> bits) {
    TEvaluateRequest request = RequestOf(channel, tolerance, mindif, threads, bits);
    request.Refine = refine;
    request.KeepCodes = codes;
    const TSource input = SourceOf(source);
    TEvaluation held;
    if (const std::string* path = std::get_if<std::string>(&input)) {
        request.Input = *path;
        held = RunRequest<TEvaluation>(
            request, [](const TEvaluateRequest& r) { return EvaluateHeld(r); }, *path);
    } else {
        const TPlaneArray planes = PlanesOf(std::get<py::array>(input), request.Bits);
        held = RunRequest<TEvaluation>(
            request, [&](const TEvaluateRequest& r) { return EvaluatePlanes(planes, r); });
    }
    TResult result(std::move(held), request);
    if (codes)
        result.Codes(); // the matrix moves into its array at once
    return result;
}

py::array Load(const py::object& source, const std::string& channel, std::optional<int> bits) {
    TEvaluateRequest request;
    request.Input = PathOf(source, "source");
    request.Channel = ChannelOf(channel);
    request.Bits = BitsOf(bits);
    TPicEval eval("ST1");
    RunRequest<bool>(
        request,
        [&](const TEvaluateRequest& r) {
            LoadInput(eval, r, {});
            return true;
        },
        request.Input);
    const py::ssize_t height = eval.Height, width = eval.Width;
    py::array_t<std::uint8_t> planes({py::ssize_t(TPicEval::kStackPlanes), height, width});
    std::uint8_t* out = planes.mutable_data();
    {
        py::gil_scoped_release release;
        ForEachIndex(TPicEval::kStackPlanes, 0, [&](std::int32_t plane) {
            const std::size_t bytes = std::size_t(height) * std::size_t(width);
            std::memcpy(out + std::size_t(plane) * bytes,
                        eval.Pics.Planes[std::size_t(plane)].Data.data(), bytes);
        });
    }
    return planes;
}

py::dict Suggest(const py::object& source, const std::string& channel, int threads,
                 std::optional<int> bits) {
    TEvaluateRequest request;
    request.Channel = ChannelOf(channel);
    request.Threads = ThreadsOf(threads);
    request.Settings = {};
    const TSource input = SourceOf(source);
    if (const std::string* path = std::get_if<std::string>(&input)) {
        request.Input = *path;
        request.Bits = BitsOf(bits);
        return SuggestionDict(RunRequest<TSuggestion>(
            request, [](const TEvaluateRequest& r) { return SuggestInput(r); }, *path));
    }
    const TPlaneArray planes = PlanesOf(std::get<py::array>(input), BitsOf(bits));
    return SuggestionDict(RunRequest<TSuggestion>(
        request, [&](const TEvaluateRequest& r) { return SuggestPlanes(planes, r); }));
}

py::list Batch(const py::iterable& sources, const py::object& out, const std::string& channel,
               const py::object& tolerance, const py::object& mindif, int threads,
               std::optional<int> bits, bool bitmap, bool table, bool report, bool force,
               bool fullStack, int posesAtOnce, const py::object& progress) {
    if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
        throw py::value_error("progress must be callable (done, total, pose), or None");
    TBatchRequest request;
    for (const py::handle source : sources) {
        if (py::isinstance<py::array>(source))
            throw py::value_error("batch takes paths of lists or picture sets, not arrays");
        request.Inputs.push_back(PathOf(source, "each source"));
    }
    request.OutFolder = PathOf(out, "out");
    request.Pose = RequestOf(channel, tolerance, mindif, threads, bits);
    request.Pose.Bitmap = bitmap;
    request.Pose.FullStack = fullStack;
    request.Table = table;
    request.Report = report;
    request.Force = force;
    if (posesAtOnce < 0 || posesAtOnce > kMaxPosesInFlight)
        throw py::value_error("poses_at_once must be 0 (as the machine allows) to " +
                              std::to_string(kMaxPosesInFlight) + ", not " +
                              std::to_string(posesAtOnce));
    request.PosesInFlight = posesAtOnce;
    // The batch tells how far it came from its threads; the calling thread hands
    // the latest news to progress.
    std::mutex news;
    std::optional<TBatchProgress> latest;
    const std::function<void()> tell = [&] {
        std::optional<TBatchProgress> now;
        {
            std::lock_guard lock(news);
            now.swap(latest);
        }
        if (now)
            progress(now->Done, now->Total, now->Current);
    };
    const std::vector<TBatchRow> rows = RunReleased<std::vector<TBatchRow>>(
        [&](const std::function<void()>& checkStop) {
            TBatchRequest stoppable = request;
            stoppable.Pose.CheckStop = checkStop;
            return RunBatch(stoppable, [&](const TBatchProgress& p) {
                std::lock_guard lock(news);
                latest = p;
                latest->Finished = nullptr; // points into the batch's rows
            });
        },
        {}, progress.is_none() ? std::function<void()>() : tell);
    py::list summary;
    for (const TBatchRow& row : rows) {
        py::dict line;
        line["pose"] = row.Pose;
        line["input"] = row.Input;
        line["status"] = row.Status;
        line["points"] = row.Points;
        line["flagged"] = row.Flagged < 0 ? py::object(py::none()) : py::int_(row.Flagged);
        line["mindif"] = int(row.MinDif);
        line["tolerance"] = int(row.Tolerance);
        line["seconds"] = row.Seconds;
        line["message"] = row.Message;
        summary.append(line);
    }
    return summary;
}

} // namespace

PYBIND11_MODULE(kelvaron, m) {
    m.doc() = "Evaluation of stacks of 17 photographs of a projected, binary-coded dot pattern "
              "(dark reference, bright reference, all dots lit, 14 code pictures): the code of "
              "every pixel, the points it makes, their centres and refined centres.";
    ModuleError() = PyErr_NewExceptionWithDoc(
        "kelvaron.Error",
        "An input that cannot be evaluated (a damaged photograph, an incomplete stack) or an "
        "output that cannot be written; the message names the file and the reason.",
        PyExc_Exception, nullptr);
    m.add_object("Error", py::handle(ModuleError()));

    py::class_<TResult>(m, "Result",
                        "What evaluate gave: the points, the settings used, the codes when asked "
                        "for; write() makes the files the command line's evaluate writes.")
        .def_property_readonly("width", &TResult::Width, "Columns of the pictures.")
        .def_property_readonly("height", &TResult::Height, "Rows of the pictures.")
        .def_property_readonly(
            "settings", &TResult::Settings,
            "The settings used: mindif, tolerance (chosen from the stack where \"auto\"), "
            "channel, bits, refine.")
        .def_property_readonly(
            "suggestion", &TResult::Suggestion,
            "The figures the settings were chosen from, when any was \"auto\"; else None.")
        .def_property_readonly(
            "points", &TResult::Points,
            "The points in points-file order, a numpy structured array with the point table's "
            "columns: code, dot, x, y, pixels and, when refined, refined_x, refined_y, "
            "blob_pixels, stray_pixels, contrast, radius and flags (text: 'border', "
            "'neighbour', 'unrefined' joined by '|').")
        .def_property_readonly("codes", &TResult::Codes,
                               "The code of every pixel, an (height, width) int32 array, when "
                               "evaluate was asked for codes; else None.")
        .def("write", &TResult::Write, py::arg("points"), py::kw_only(), py::arg("bitmap") = true,
             py::arg("table") = py::none(),
             "Writes the points file, the marked picture (bitmap: named as the points file "
             "with the extension .bmp) and the point table (table: a CSV path; needs refined "
             "points), byte for byte as the command line's evaluate, each file put in place "
             "whole.")
        .def("__repr__", [](const TResult& r) {
            return "<kelvaron.Result " + std::to_string(r.Width()) + " x " +
                   std::to_string(r.Height()) + ">";
        });

    m.def("load", &Load, py::arg("source"), py::kw_only(), py::arg("channel") = "grey",
          py::arg("bits") = py::none(),
          "The 17 planes of a list file of photographs or a picture set (*.bbf), a (17, height, "
          "width) uint8 array. channel: 'grey', 'red', 'green' or 'blue' of colour photographs; "
          "bits: 16-bit photographs hold values of this many bits (1 to 16).");
    m.def("evaluate", &Evaluate, py::arg("source"), py::kw_only(), py::arg("channel") = "grey",
          py::arg("tolerance") = int(TEvalDefaults::Tolerance),
          py::arg("mindif") = int(TEvalDefaults::MinDif), py::arg("refine") = true,
          py::arg("codes") = false, py::arg("threads") = 0, py::arg("bits") = py::none(),
          "Evaluates a stack: source is the path of a list file or a picture set, or a (17, "
          "height, width) array of uint8 planes or of uint16 samples (with bits: values of that "
          "many bits; without, all 16), in any memory order. tolerance and mindif: 0 to 255, or "
          "'auto' to choose them from the stack. refine: also the refined centres. codes: keep "
          "the code of every pixel (Result.codes). threads: 0 for one per core. Raises "
          "FileNotFoundError for a missing list or photograph, ValueError for bad arguments or "
          "an array of the wrong shape or type, MemoryError for a stack that cannot fit, "
          "kelvaron.Error for the rest; KeyboardInterrupt stops it.");
    m.def("suggest", &Suggest, py::arg("source"), py::kw_only(), py::arg("channel") = "grey",
          py::arg("threads") = 0, py::arg("bits") = py::none(),
          "The settings chosen from a stack (a path or planes, as evaluate takes it): a dict "
          "with mindif and tolerance, the figures they were read from and why.");
    m.def("batch", &Batch, py::arg("sources"), py::arg("out"), py::kw_only(),
          py::arg("channel") = "grey", py::arg("tolerance") = int(TEvalDefaults::Tolerance),
          py::arg("mindif") = int(TEvalDefaults::MinDif), py::arg("threads") = 0,
          py::arg("bits") = py::none(), py::arg("bitmap") = true, py::arg("table") = false,
          py::arg("report") = false, py::arg("force") = false, py::arg("full_stack") = false,
          py::arg("poses_at_once") = 0, py::arg("progress") = py::none(),
          "Evaluates many stacks (paths) into the folder out as the command line's batch does: "
          "POSE.txt, POSE.bmp (bitmap), POSE.csv (table), POSE.html (report) for each, then "
          "points.csv, summary.csv and report.html. Poses up to date are kept unless force. "
          "Returns the summary's rows as dicts (pose, input, status 'ok'/'kept'/'failed', "
          "points, flagged, mindif, tolerance, seconds, message). progress, when given, is "
          "called on the calling thread with the latest figures, about every 0.05 s while "
          "they change and once at the end: progress(done, total, pose), pose the one last "
          "started ('' when none is under way); what it raises stops the batch.");
}
