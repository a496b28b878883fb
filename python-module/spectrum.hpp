#pragma once

#include <Python.h>

#include "melvane_core/spectrum_record.hpp"

namespace tarvok::python {

// The Spectrum class object, created on the first request and kept for the
// life of the process; null with an exception set if it cannot be created.
PyObject* spectrum_class();

// A new Spectrum holding its own copies of the record's peaks, retention time
// and MS level; null with an exception set if the instance cannot be allocated.
PyObject* new_spectrum(const melvane_core::SpectrumRecord& record);

}  // namespace tarvok::python
