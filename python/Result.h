#pragma once
// What kelvaron.evaluate returns: the evaluation held in memory, its points and
// codes as numpy arrays made once, its files written on request.

#include "pipeline/EvaluateInput.h"

#include <memory>
#include <mutex>
#include <optional>
#include <pybind11/pybind11.h>

namespace kelvaron_py {

namespace py = pybind11;

/// The suggestion's settings and figures as a dict.
py::dict SuggestionDict(const TSuggestion& suggestion);

// What evaluate returns: the evaluation held, and the arrays made from it.
class TResult {
public:
    TResult(TEvaluation evaluation, TEvaluateRequest request)
        : evaluation_(std::make_shared<TEvaluation>(std::move(evaluation))),
          request_(std::move(request)) {}

    std::int32_t Width() const { return evaluation_->Width; }
    std::int32_t Height() const { return evaluation_->Height; }

    /// The settings used.
    py::dict Settings() const;

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

    /// The files evaluate writes, with the GIL released.
    void Write(const py::object& points, bool bitmap, const py::object& table);

private:
    py::object MakePoints() const;
    py::object MakeCodes();

    std::shared_ptr<TEvaluation> evaluation_;
    TEvaluateRequest request_;
    std::optional<py::object> points_, codes_;
    std::shared_ptr<std::mutex> writing_ = std::make_shared<std::mutex>();
};

} // namespace kelvaron_py
