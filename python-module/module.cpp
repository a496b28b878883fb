#include <Python.h>

#include "guard.hpp"
#include "owned.hpp"
#include "raw_reader.hpp"
#include "spectrum.hpp"
#include "test_hooks.hpp"

namespace tarvok::python {
namespace {

// Binds the class under its name and lists the name in __all__.
int add_class(PyObject* module, const char* name, PyObject* (*class_object)())
{
    PyObject* cls = class_object();
    if (cls == nullptr) {
        return -1;
    }
    Owned all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            return -1;
        }
        PyErr_Clear();
        all = Owned(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
            return -1;
        }
    } else if (!PyList_Check(all.get())) {
        PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
        return -1;
    }
    const Owned listed_name(created(PyUnicode_FromString(name)));
    if (PyList_Append(all.get(), listed_name.get()) < 0) {
        PyErr_Clear();
        throw InternalFailure("cannot append to __all__");
    }
    return PyObject_SetAttrString(module, name, cls);
}

int exec_module(PyObject* module)
{
    return guarded(-1, [&] {
        test_hooks::fault_point("exec");
        if (!PyModule_Check(module)) {
            PyErr_SetString(PyExc_TypeError, "expected a module object");
            return -1;
        }
        if (add_class(module, "RawReader", raw_reader_class) < 0) {
            return -1;
        }
        return add_class(module, "Spectrum", spectrum_class);
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "tarvok",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tarvok::python

PyMODINIT_FUNC PyInit_tarvok()
{
    return PyModuleDef_Init(&tarvok::python::module_definition);
}
