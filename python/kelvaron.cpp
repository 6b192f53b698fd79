// The Python module kelvaron: the engine over numpy arrays and paths. Every call
// works on a thread of its own with the GIL released, while the calling thread
// waits and looks for signals, so that Ctrl-C stops a long evaluation; engine
// errors become the Python exceptions a caller expects.

#include "Batch.h"
#include "Errors.h"
#include "EvaluateInput.h"
#include "Parallel.h"
#include "Refine.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <string>
#include <system_error>
#include <thread>
#include <variant>

namespace py = pybind11;

namespace {

// kelvaron.Error, made when the module is imported.
PyObject* moduleError = nullptr;

// What a caller hands in as a stack: a path, or the planes.
using TSource = std::variant<std::string, py::array>;

// An engine exception as a Python one, for an evaluation of source (a path, or
// empty for an array): the engine's sentence as the message.
[[noreturn]] void Raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw py::error_already_set();
}

[[noreturn]] void RaiseTranslated(std::exception_ptr error, const std::string& path) {
    try {
        std::rethrow_exception(error);
    } catch (const py::error_already_set&) {
        throw;
    } catch (const EStopped& e) {
        Raise(PyExc_KeyboardInterrupt, e.what());
    } catch (const std::bad_alloc& e) {
        Raise(PyExc_MemoryError, OutOfMemoryText(e, "to evaluate the stack").c_str());
    } catch (const EUsageError& e) {
        Raise(PyExc_ValueError, e.what());
    } catch (const std::invalid_argument& e) {
        Raise(PyExc_ValueError, e.what());
    } catch (const std::exception& e) {
        // A missing list or photograph, told from a damaged one by looking.
        if (!path.empty() && InputIsMissing(path))
            Raise(PyExc_FileNotFoundError, e.what());
        Raise(moduleError, e.what());
    }
}

// Calls poll, when given, with the GIL held; what it raises into type, value and
// traceback.
void Poll(const std::function<void()>& poll, PyObject*& type, PyObject*& value,
          PyObject*& traceback) {
    if (!poll)
        return;
    try {
        poll();
    } catch (py::error_already_set& e) {
        e.restore();
        PyErr_Fetch(&type, &value, &traceback);
    }
}

// Runs work(checkStop) on a thread of its own with the GIL released; meanwhile the
// calling thread runs Python's signal handlers about every 50 ms. Once one raises
// (KeyboardInterrupt for Ctrl-C), checkStop raises EStopped in the work, which
// unwinds (temporary files removed), and the handler's exception is raised here.
// What the work raises is translated for path (RaiseTranslated).
// poll, when given, is called with the GIL held on the calling thread after the
// signal handlers, and once more when the work is over; what it raises stops the
// work as a signal handler's exception does.
template <class TResult, class TWork>
TResult RunReleased(TWork work, const std::string& path = {},
                    const std::function<void()>& poll = {}) {
    std::atomic<bool> stop{false};
    const std::function<void()> checkStop = [&stop] {
        if (stop.load(std::memory_order_relaxed))
            throw EStopped();
    };
    std::optional<TResult> result;
    std::exception_ptr error;
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr; // a handler's exception
    {
        py::gil_scoped_release release;
        std::mutex mutex;
        std::condition_variable ended;
        bool over = false;
        auto run = [&] {
            try {
                result.emplace(work(checkStop));
            } catch (...) {
                error = std::current_exception();
            }
            std::lock_guard lock(mutex);
            over = true;
            ended.notify_all();
        };
        std::optional<std::jthread> worker;
        try {
            worker.emplace(run);
        } catch (const std::system_error&) {
            run(); // no thread to be had: the work runs here, and cannot be interrupted
        }
        std::unique_lock lock(mutex);
        while (!over) {
            if (ended.wait_for(lock, std::chrono::milliseconds(50), [&] { return over; }))
                break;
            if (type != nullptr)
                continue; // stopping already
            lock.unlock();
            {
                py::gil_scoped_acquire gil;
                if (PyErr_CheckSignals() != 0)
                    PyErr_Fetch(&type, &value, &traceback);
                else
                    Poll(poll, type, value, traceback);
            }
            if (type != nullptr)
                stop = true;
            lock.lock();
        }
    }
    if (type == nullptr && !error)
        Poll(poll, type, value, traceback);
    if (type != nullptr) {
        PyErr_Restore(type, value, traceback);
        throw py::error_already_set();
    }
    if (error)
        RaiseTranslated(error, path);
    return std::move(*result);
}

std::uint8_t ChannelOf(const std::string& name) {
    if (name == "grey" || name == "gray")
        return kChannelGrey;
    if (name == "red")
        return kChannelRed;
    if (name == "green")
        return kChannelGreen;
    if (name == "blue")
        return kChannelBlue;
    throw py::value_error("channel must be \"grey\", \"red\", \"green\" or \"blue\", not \"" +
                          name + "\"");
}

const char* ChannelName(std::uint8_t channel) {
    switch (channel) {
    case kChannelRed:
        return "red";
    case kChannelGreen:
        return "green";
    case kChannelBlue:
        return "blue";
    default:
        return "grey";
    }
}

// A setting of 0 … 255, or None for "auto".
std::optional<std::uint8_t> LevelOf(const py::object& value, const char* name) {
    if (py::isinstance<py::str>(value)) {
        if (value.cast<std::string>() == "auto")
            return std::nullopt;
    } else if (py::isinstance<py::int_>(value) && !py::isinstance<py::bool_>(value)) {
        const long long level = value.cast<long long>();
        if (level >= 0 && level <= 255)
            return std::uint8_t(level);
    }
    throw py::value_error(std::string(name) +
                          " must be a whole number from 0 to 255 or \"auto\", not " +
                          py::repr(value).cast<std::string>());
}

int ThreadsOf(int threads) {
    if (threads < 0 || threads > 1024)
        throw py::value_error("threads must be 0 (one per core) to 1024, not " +
                              std::to_string(threads));
    return threads;
}

int BitsOf(const std::optional<int>& bits) {
    if (bits && (*bits < 1 || *bits > 16))
        throw py::value_error("bits must be 1 to 16, not " + std::to_string(*bits));
    return bits.value_or(0);
}

// A path argument (str or os.PathLike) as text; ValueError for anything else.
std::string PathOf(const py::handle& value, const char* what) {
    if (!py::isinstance<py::str>(value) && !py::hasattr(value, "__fspath__"))
        throw py::value_error(std::string(what) + " must be a path (str or os.PathLike), not " +
                              std::string(py::str(py::type::of(value).attr("__name__"))));
    const py::object path = py::module_::import("os").attr("fspath")(value);
    if (!py::isinstance<py::str>(path))
        throw py::value_error(std::string(what) + " must be a text path, not bytes");
    std::string text = path.cast<std::string>();
    if (text.empty())
        throw py::value_error(std::string(what) + " is an empty path");
    if (text.find('\0') != std::string::npos)
        throw py::value_error(std::string(what) + " holds a NUL character");
    return text;
}

TSource SourceOf(const py::object& source) {
    if (py::isinstance<py::array>(source))
        return py::reinterpret_borrow<py::array>(source);
    return PathOf(source, "source");
}

// The planes of an array of shape (17, H, W), uint8 or (with bits) uint16, read
// where they lie; ValueError for any other.
TPlaneArray PlanesOf(const py::array& array, int bits) {
    if (array.ndim() != 3)
        throw py::value_error(
            "the planes must be an array of shape (17, height, width), not one of " +
            std::to_string(array.ndim()) + " dimensions");
    const py::dtype type = array.dtype();
    if (type.kind() == 'u' && type.itemsize() == 2 && !type.attr("isnative").cast<bool>())
        throw py::value_error("uint16 planes must be in the machine's byte order");
    const bool bytes = type.is(py::dtype::of<std::uint8_t>());
    const bool words = type.is(py::dtype::of<std::uint16_t>());
    if (!bytes && !words)
        throw py::value_error("the planes must be uint8, or uint16 with bits, not " +
                              std::string(py::str(type.attr("name"))));
    if (bytes && bits != 0)
        throw py::value_error("bits is for uint16 planes; these are uint8");
    if (array.shape(0) != TPicEval::kStackPlanes)
        throw py::value_error("the planes must be an array of shape (17, height, width), not (" +
                              std::to_string(array.shape(0)) + ", " +
                              std::to_string(array.shape(1)) + ", " +
                              std::to_string(array.shape(2)) + ")");
    if (array.shape(1) < 1 || array.shape(2) < 1 || !IsPictureSize(array.shape(2), array.shape(1)))
        throw py::value_error("planes of " + std::to_string(array.shape(2)) + " x " +
                              std::to_string(array.shape(1)) +
                              " pixels cannot be evaluated (1 to " +
                              std::to_string(kMaxPlanePixels) + " pixels a plane)");
    TPlaneArray planes;
    planes.Data = static_cast<const std::uint8_t*>(array.data());
    planes.Count = std::int32_t(array.shape(0));
    planes.Height = std::int32_t(array.shape(1));
    planes.Width = std::int32_t(array.shape(2));
    planes.BytesPerValue = bytes ? 1 : 2;
    planes.PlaneStride = array.strides(0);
    planes.RowStride = array.strides(1);
    planes.ColumnStride = array.strides(2);
    planes.MaxValue = bytes ? 255 : LargestSample(bits == 0 ? 16 : bits);
    return planes;
}

// The request the keyword arguments make.
TEvaluateRequest RequestOf(const std::string& channel, const py::object& tolerance,
                           const py::object& mindif, int threads, const std::optional<int>& bits) {
    TEvaluateRequest request;
    request.Channel = ChannelOf(channel);
    request.Settings.Tolerance = LevelOf(tolerance, "tolerance");
    request.Settings.MinDif = LevelOf(mindif, "mindif");
    request.Threads = ThreadsOf(threads);
    request.Bits = BitsOf(bits);
    return request;
}

// What evaluate returns: the evaluation held, and the arrays made from it.
class TResult {
public:
    TResult(TEvaluation evaluation, TEvaluateRequest request)
        : evaluation_(std::make_shared<TEvaluation>(std::move(evaluation))),
          request_(std::move(request)) {}

    std::int32_t Width() const { return evaluation_->Width; }
    std::int32_t Height() const { return evaluation_->Height; }

    py::dict Settings() const {
        py::dict settings;
        settings["mindif"] = int(evaluation_->MinDif);
        settings["tolerance"] = int(evaluation_->Tolerance);
        settings["channel"] = ChannelName(request_.Channel);
        settings["bits"] = request_.Bits == 0 ? py::object(py::none()) : py::int_(request_.Bits);
        settings["refine"] = evaluation_->IsRefined;
        return settings;
    }

    py::object Suggestion() const;

    py::object Points() {
        if (!points_)
            points_ = MakePoints();
        return *points_;
    }

    py::object Codes() {
        if (!codes_)
            codes_ = MakeCodes();
        return *codes_;
    }

    void Write(const py::object& points, bool bitmap, const py::object& table) {
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

private:
    py::object MakePoints() const;
    py::object MakeCodes();

    std::shared_ptr<TEvaluation> evaluation_;
    TEvaluateRequest request_;
    std::optional<py::object> points_, codes_;
    std::shared_ptr<std::mutex> writing_ = std::make_shared<std::mutex>();
};

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

TResult Evaluate(const py::object& source, const std::string& channel, const py::object& tolerance,
                 const py::object& mindif, bool refine, bool codes, int threads,
                 std::optional<int> bits) {
    TEvaluateRequest request = RequestOf(channel, tolerance, mindif, threads, bits);
    request.Refine = refine;
    request.KeepCodes = codes;
    const TSource input = SourceOf(source);
    if (const std::string* path = std::get_if<std::string>(&input)) {
        request.Input = *path;
        TEvaluation held = RunReleased<TEvaluation>(
            [&](const std::function<void()>& checkStop) {
                TEvaluateRequest stoppable = request;
                stoppable.CheckStop = checkStop;
                return EvaluateHeld(stoppable);
            },
            *path);
        TResult result(std::move(held), request);
        if (codes)
            result.Codes(); // the matrix moves into its array at once
        return result;
    }
    const py::array& array = std::get<py::array>(input);
    const TPlaneArray planes = PlanesOf(array, request.Bits);
    TEvaluation held = RunReleased<TEvaluation>([&](const std::function<void()>& checkStop) {
        TEvaluateRequest stoppable = request;
        stoppable.CheckStop = checkStop;
        return EvaluatePlanes(planes, stoppable);
    });
    TResult result(std::move(held), request);
    if (codes)
        result.Codes();
    return result;
}

py::array Load(const py::object& source, const std::string& channel, std::optional<int> bits) {
    TEvaluateRequest request;
    request.Input = PathOf(source, "source");
    request.Channel = ChannelOf(channel);
    request.Bits = BitsOf(bits);
    TPicEval eval("ST1");
    RunReleased<bool>(
        [&](const std::function<void()>& checkStop) {
            TEvaluateRequest stoppable = request;
            stoppable.Progress = [&checkStop](std::int32_t, const std::string&) { checkStop(); };
            LoadInput(eval, stoppable, {});
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
    TSuggestion suggestion;
    if (const std::string* path = std::get_if<std::string>(&input)) {
        request.Input = *path;
        request.Bits = BitsOf(bits);
        suggestion = RunReleased<TSuggestion>(
            [&](const std::function<void()>& checkStop) {
                TEvaluateRequest stoppable = request;
                stoppable.CheckStop = checkStop;
                stoppable.Progress = [&checkStop](std::int32_t, const std::string&) {
                    checkStop();
                };
                return SuggestInput(stoppable);
            },
            *path);
    } else {
        const TPlaneArray planes = PlanesOf(std::get<py::array>(input), BitsOf(bits));
        suggestion = RunReleased<TSuggestion>([&](const std::function<void()>& checkStop) {
            TEvaluateRequest stoppable = request;
            stoppable.CheckStop = checkStop;
            return SuggestPlanes(planes, stoppable);
        });
    }
    return SuggestionDict(suggestion);
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
    moduleError = PyErr_NewExceptionWithDoc(
        "kelvaron.Error",
        "An input that cannot be evaluated (a damaged photograph, an incomplete stack) or an "
        "output that cannot be written; the message names the file and the reason.",
        PyExc_Exception, nullptr);
    m.add_object("Error", py::handle(moduleError));

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
