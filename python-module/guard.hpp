#pragma once

#include <Python.h>

#include <stdexcept>
#include <utility>

namespace tarvok::python {

// A failure of the module's own code: neither a reader error nor a Python
// exception. Entry points turn it into PanicException.
class InternalFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `result` itself, or an InternalFailure when the interpreter could not create it.
PyObject* created(PyObject* result);

// Raises the Python exception for the C++ exception being handled: MemoryError
// for exhausted memory, PanicException for anything else. Only valid inside a
// catch block.
void raise_for_current_exception() noexcept;

// As above, but reported through PyErr_WriteUnraisable, leaving any exception
// already being raised as it was.
void report_current_exception_unraisable(PyObject* context) noexcept;

// Runs an entry point's work so that no C++ exception reaches the interpreter.
template <typename Result, typename Work>
Result guarded(Result on_failure, Work&& work) noexcept
{
    try {
        return std::forward<Work>(work)();
    } catch (...) {
        raise_for_current_exception();
        return on_failure;
    }
}

// The same for deallocation, where nothing can be raised.
template <typename Work>
void guarded_unraisable(PyObject* context, Work&& work) noexcept
{
    try {
        std::forward<Work>(work)();
    } catch (...) {
        report_current_exception_unraisable(context);
    }
}

}  // namespace tarvok::python
