#pragma once

#include <Python.h>

#include <cstddef>
#include <span>

namespace tarvok::python {

// What a callable accepts: every parameter may be given positionally or by
// keyword, the first `required` of them must be.
struct Parameters {
    const char* class_name;
    const char* function_name;
    std::span<const char* const> names;
    std::size_t required;
};

// Fill `values` (one slot per parameter, borrowed references, null where not
// given) from a vectorcall. On a mismatch, raises TypeError and returns false.
bool parse_arguments(const Parameters& parameters, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     std::span<PyObject*> values);

// The same from an argument tuple and an optional keyword dict, as __new__ gets them.
bool parse_arguments(const Parameters& parameters, PyObject* args, PyObject* kwargs, std::span<PyObject*> values);

// Adds "while processing '<parameter>'" to the exception being raised, where the
// interpreter's exceptions support notes; otherwise leaves it as it is.
void note_failed_conversion(const char* parameter) noexcept;

}  // namespace tarvok::python
