#include "arguments.hpp"

#include <string>

#include "owned.hpp"
#include "pending_exception.hpp"

namespace tarvok::python {
namespace {

bool fill_positional(const Parameters& parameters, PyObject* const* args, Py_ssize_t nargs,
                     std::span<PyObject*> values)
{
    const auto given = static_cast<std::size_t>(nargs);
    if (given > parameters.names.size()) {
        PyErr_Format(PyExc_TypeError, "%s.%s() takes %zu positional arguments but %zd %s given",
                     parameters.class_name, parameters.function_name, parameters.names.size(), nargs,
                     nargs == 1 ? "was" : "were");
        return false;
    }
    for (std::size_t i = 0; i < given; ++i) {
        values[i] = args[i];
    }
    return true;
}

bool fill_keyword(const Parameters& parameters, PyObject* name, PyObject* value, std::span<PyObject*> values)
{
    if (!PyUnicode_Check(name)) {
        PyErr_SetString(PyExc_TypeError, "keywords must be strings");
        return false;
    }
    for (std::size_t i = 0; i < parameters.names.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(name, parameters.names[i]) != 0) {
            continue;
        }
        if (values[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s.%s() got multiple values for argument '%s'", parameters.class_name,
                         parameters.function_name, parameters.names[i]);
            return false;
        }
        values[i] = value;
        return true;
    }
    PyErr_Format(PyExc_TypeError, "%s.%s() got an unexpected keyword argument '%U'", parameters.class_name,
                 parameters.function_name, name);
    return false;
}

bool check_required(const Parameters& parameters, std::span<PyObject*> values)
{
    std::size_t missing = 0;
    std::string names;
    for (std::size_t i = 0; i < parameters.required; ++i) {
        if (values[i] != nullptr) {
            continue;
        }
        if (missing > 0) {
            names += ", ";
        }
        names += '\'';
        names += parameters.names[i];
        names += '\'';
        ++missing;
    }
    if (missing == 0) {
        return true;
    }
    PyErr_Format(PyExc_TypeError, "%s.%s() missing %zu required positional %s: %s", parameters.class_name,
                 parameters.function_name, missing, missing == 1 ? "argument" : "arguments", names.c_str());
    return false;
}

}  // namespace

bool parse_arguments(const Parameters& parameters, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     std::span<PyObject*> values)
{
    if (!fill_positional(parameters, args, nargs, values)) {
        return false;
    }
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        if (!fill_keyword(parameters, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], values)) {
            return false;
        }
    }
    return check_required(parameters, values);
}

bool parse_arguments(const Parameters& parameters, PyObject* args, PyObject* kwargs, std::span<PyObject*> values)
{
    if (!fill_positional(parameters, PySequence_Fast_ITEMS(args), PyTuple_GET_SIZE(args), values)) {
        return false;
    }
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &name, &value)) {
            if (!fill_keyword(parameters, name, value, values)) {
                return false;
            }
        }
    }
    return check_required(parameters, values);
}

void note_failed_conversion(const char* parameter) noexcept
{
    PendingException failure = PendingException::take();
    if (failure.value() != nullptr) {
        Owned note(PyUnicode_FromFormat("while processing '%s'", parameter));
        Owned added(note ? PyObject_CallMethod(failure.value(), "add_note", "O", note.get()) : nullptr);
        if (!added) {
            PyErr_Clear();
        }
    }
    failure.restore();
}

}  // namespace tarvok::python
