#include "Arguments.h"

#include "base/Limits.h"
#include "input/PictureRows.h"

namespace kelvaron_py {

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

} // namespace kelvaron_py
