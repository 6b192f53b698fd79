#include "Released.h"

#include "pipeline/EvaluateInput.h"

namespace kelvaron_py {

PyObject*& ModuleError() {
    static PyObject* error = nullptr;
    return error;
}

namespace {

// Raises the Python exception type with message.
[[noreturn]] void Raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw py::error_already_set();
}

} // namespace

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
        Raise(ModuleError(), e.what());
    }
}

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

} // namespace kelvaron_py
