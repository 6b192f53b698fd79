#pragma once
// The module's arguments as the engine takes them: channels, settings, threads,
// bits, paths and arrays of planes, each checked, ValueError for a bad one.

#include "pipeline/EvaluateInput.h"
#include "input/PlaneArray.h"

#include <cstdint>
#include <optional>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <string>
#include <variant>

namespace kelvaron_py {

namespace py = pybind11;

/// What a caller hands in as a stack: a path, or the planes.
using TSource = std::variant<std::string, py::array>;

/// "grey" (or "gray"), "red", "green" or "blue" as the engine's channel.
std::uint8_t ChannelOf(const std::string& name);
/// The channel's name.
const char* ChannelName(std::uint8_t channel);
/// A setting of 0 … 255, or nullopt for "auto".
std::optional<std::uint8_t> LevelOf(const py::object& value, const char* name);
/// Threads: 0 (one per core) to 1024.
int ThreadsOf(int threads);
/// Bits of 16-bit samples, 1 … 16; 0 for None.
int BitsOf(const std::optional<int>& bits);
/// A path argument (str or os.PathLike) as text.
std::string PathOf(const py::handle& value, const char* what);
/// A path, or an array of planes.
TSource SourceOf(const py::object& source);
/// The planes of an array of shape (17, H, W), uint8 or (with bits) uint16, read
/// where they lie.
TPlaneArray PlanesOf(const py::array& array, int bits);
/// The request the keyword arguments make.
TEvaluateRequest RequestOf(const std::string& channel, const py::object& tolerance,
                           const py::object& mindif, int threads, const std::optional<int>& bits);

} // namespace kelvaron_py
