#pragma once

#include <Python.h>

#include "owned.hpp"

namespace tarvok::python {

// The exception being raised, taken out of the interpreter so that other calls
// can be made, and put back afterwards.
class PendingException {
public:
    static PendingException take() noexcept
    {
        PendingException taken;
#if PY_VERSION_HEX >= 0x030C0000
        taken.value_ = Owned(PyErr_GetRaisedException());
#else
        PyObject* type = nullptr;
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        PyErr_NormalizeException(&type, &value, &traceback);
        if (traceback != nullptr && value != nullptr) {
            PyException_SetTraceback(value, traceback);
        }
        taken.type_ = Owned(type);
        taken.value_ = Owned(value);
        taken.traceback_ = Owned(traceback);
#endif
        return taken;
    }

    // The exception instance; null when nothing was being raised.
    PyObject* value() const noexcept { return value_.get(); }

    // Raises the exception again; afterwards this holds nothing.
    void restore() noexcept
    {
#if PY_VERSION_HEX >= 0x030C0000
        PyErr_SetRaisedException(value_.release());
#else
        PyErr_Restore(type_.release(), value_.release(), traceback_.release());
#endif
    }

private:
    PendingException() noexcept = default;

#if PY_VERSION_HEX < 0x030C0000
    Owned type_;
    Owned traceback_;
#endif
    Owned value_;
};

}  // namespace tarvok::python
