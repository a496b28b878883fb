#include "guard.hpp"

#include <cstring>
#include <new>
#include <string>

#include "owned.hpp"
#include "pending_exception.hpp"

namespace tarvok::python {
namespace {

constexpr const char* panic_doc =
    "Raised when the native code of the tarvok module fails internally.\n\n"
    "It derives from BaseException rather than Exception, so that it will "
    "typically propagate all the way up and end the interpreter.";

constexpr const char* generic_failure = "internal failure in the tarvok module";

// Created on first use and kept for the life of the process.
PyObject* panic_exception_type = nullptr;

void raise_panic(const char* text) noexcept
{
    if (panic_exception_type == nullptr) {
        panic_exception_type = PyErr_NewExceptionWithDoc(
            "tarvok.PanicException", panic_doc, PyExc_BaseException, nullptr);
        if (panic_exception_type == nullptr) {
            return;
        }
    }
    if (*text == '\0') {
        text = generic_failure;
    }
    Owned message(PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "replace"));
    if (!message) {
        return;
    }
    PyErr_SetObject(panic_exception_type, message.get());
}

}  // namespace

PyObject* created(PyObject* result)
{
    if (result != nullptr) {
        return result;
    }
    PendingException cause = PendingException::take();
    std::string text = "the interpreter could not create a result object";
    if (cause.value() != nullptr) {
        text += " (";
        text += Py_TYPE(cause.value())->tp_name;
        text += ")";
    }
    throw InternalFailure(text);
}

void raise_for_current_exception() noexcept
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& failure) {
        raise_panic(failure.what());
    } catch (...) {
        raise_panic("");
    }
}

void report_current_exception_unraisable(PyObject* context) noexcept
{
    PendingException outer = PendingException::take();
    raise_for_current_exception();
    PyErr_WriteUnraisable(context);
    outer.restore();
}

}  // namespace tarvok::python
