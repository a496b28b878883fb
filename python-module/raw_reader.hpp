#pragma once

#include <Python.h>

namespace tarvok::python {

// The RawReader class object, created on the first request and kept for the
// life of the process; null with an exception set if it cannot be created.
PyObject* raw_reader_class();

}  // namespace tarvok::python
