#pragma once
// Calls into the engine from Python: on a thread of their own with the GIL released,
// stopped by Ctrl-C, their errors raised as the Python exceptions a caller expects.

#include "base/Errors.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <pybind11/pybind11.h>
#include <string>
#include <system_error>
#include <thread>

namespace kelvaron_py {

namespace py = pybind11;

/// kelvaron.Error, made when the module is imported.
PyObject*& ModuleError();

/// An engine exception as a Python one, for an evaluation of path (a list or
/// picture set, or empty for an array): the engine's sentence as the message;
/// FileNotFoundError where the input or a file it names is missing.
[[noreturn]] void RaiseTranslated(std::exception_ptr error, const std::string& path);

/// Calls poll, when given, with the GIL held; what it raises into type, value and
/// traceback.
void Poll(const std::function<void()>& poll, PyObject*& type, PyObject*& value,
          PyObject*& traceback);

/// Runs work(checkStop) on a thread of its own with the GIL released; meanwhile the
/// calling thread runs Python's signal handlers about every 50 ms. Once one raises
/// (KeyboardInterrupt for Ctrl-C), checkStop raises EStopped in the work, which
/// unwinds (temporary files removed), and the handler's exception is raised here.
/// What the work raises is translated for path (RaiseTranslated).
/// poll, when given, is called with the GIL held on the calling thread after the
/// signal handlers, and once more when the work is over; what it raises stops the
/// work as a signal handler's exception does.
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

} // namespace kelvaron_py
