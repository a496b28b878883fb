#include "spectrum.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "guard.hpp"
#include "owned.hpp"
#include "test_hooks.hpp"

namespace tarvok::python {
namespace {

struct SpectrumData {
    std::vector<double> mz;
    std::vector<float> intensity;
    double retention_time_sec;
    std::uint32_t ms_level;
};

struct SpectrumObject {
    PyObject_HEAD
    SpectrumData data;
};

PyObject* spectrum_type = nullptr;

const SpectrumData& data_of(PyObject* self)
{
    return reinterpret_cast<SpectrumObject*>(self)->data;
}

template <typename Values>
PyObject* new_float_list(const Values& values)
{
    Owned list(created(PyList_New(static_cast<Py_ssize_t>(values.size()))));
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                        created(PyFloat_FromDouble(static_cast<double>(values[i]))));
    }
    return list.release();
}

// Room for the 309 integer digits of the largest double, two decimals and a sign.
using FixedText = std::array<char, 320>;

// Two decimals, rounded from the exact binary value with exact ties to even;
// any NaN reads "NaN".
FixedText two_decimals(double value)
{
    FixedText text{};
    if (std::isnan(value)) {
        constexpr std::string_view nan_text = "NaN";
        std::copy(nan_text.begin(), nan_text.end(), text.begin());
        return text;
    }
    const auto [end, failure] =
        std::to_chars(text.data(), text.data() + text.size() - 1, value, std::chars_format::fixed, 2);
    if (failure != std::errc{}) {
        throw InternalFailure("retention time does not fit its text buffer");
    }
    *end = '\0';
    return text;
}

PyObject* get_mz(PyObject* self, void*)
{
    return guarded<PyObject*>(nullptr, [&] {
        test_hooks::fault_point("getter");
        return new_float_list(data_of(self).mz);
    });
}

PyObject* get_intensity(PyObject* self, void*)
{
    return guarded<PyObject*>(nullptr, [&] {
        test_hooks::fault_point("getter");
        return new_float_list(data_of(self).intensity);
    });
}

PyObject* get_ms_level(PyObject* self, void*)
{
    return guarded<PyObject*>(nullptr, [&] {
        test_hooks::fault_point("getter");
        return created(PyLong_FromUnsignedLong(data_of(self).ms_level));
    });
}

PyObject* get_retention_time_sec(PyObject* self, void*)
{
    return guarded<PyObject*>(nullptr, [&] {
        test_hooks::fault_point("getter");
        return created(PyFloat_FromDouble(data_of(self).retention_time_sec));
    });
}

Py_ssize_t spectrum_length(PyObject* self)
{
    return guarded<Py_ssize_t>(-1, [&] {
        test_hooks::fault_point("len");
        return static_cast<Py_ssize_t>(data_of(self).mz.size());
    });
}

PyObject* spectrum_repr(PyObject* self)
{
    return guarded<PyObject*>(nullptr, [&] {
        test_hooks::fault_point("repr");
        const SpectrumData& data = data_of(self);
        const FixedText retention_time = two_decimals(data.retention_time_sec);
        return created(
            PyUnicode_FromFormat("Spectrum(%zu peaks, RT %ss)", data.mz.size(), retention_time.data()));
    });
}

// The text of one of the type's attributes, "<unknown>" when it cannot be read.
Owned type_attribute_text(PyTypeObject* type, const char* name)
{
    Owned value(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), name));
    Owned text(value ? PyObject_Str(value.get()) : nullptr);
    if (!text) {
        PyErr_Clear();
        text = Owned(created(PyUnicode_FromString("<unknown>")));
    }
    return text;
}

// Spectrum objects come only from RawReader.read_spectrum.
PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*)
{
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        const Owned module = type_attribute_text(type, "__module__");
        const Owned qualname = type_attribute_text(type, "__qualname__");
        PyErr_Format(PyExc_TypeError, "cannot create '%U.%U' instances", module.get(), qualname.get());
        return nullptr;
    });
}

void spectrum_dealloc(PyObject* self)
{
    PyTypeObject* type = Py_TYPE(self);
    guarded_unraisable(reinterpret_cast<PyObject*>(type), [&] {
        std::destroy_at(&reinterpret_cast<SpectrumObject*>(self)->data);
        test_hooks::fault_point("dealloc");
    });
    type->tp_free(self);
    Py_DECREF(type);
}

PyGetSetDef spectrum_getters[] = {
    {"mz", get_mz, nullptr, nullptr, nullptr},
    {"intensity", get_intensity, nullptr, nullptr, nullptr},
    {"ms_level", get_ms_level, nullptr, nullptr, nullptr},
    {"retention_time_sec", get_retention_time_sec, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot spectrum_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(spectrum_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(spectrum_repr)},
    {Py_mp_length, reinterpret_cast<void*>(spectrum_length)},
    {Py_tp_getset, spectrum_getters},
    {0, nullptr},
};

PyType_Spec spectrum_spec = {
    "builtins.Spectrum",
    sizeof(SpectrumObject),
    0,
    Py_TPFLAGS_DEFAULT,
    spectrum_slots,
};

}  // namespace

PyObject* spectrum_class()
{
    if (spectrum_type == nullptr) {
        spectrum_type = PyType_FromSpec(&spectrum_spec);
    }
    return spectrum_type;
}

PyObject* new_spectrum(const melvane_core::SpectrumRecord& record)
{
    PyObject* cls = spectrum_class();
    if (cls == nullptr) {
        return nullptr;
    }
    std::vector<double> mz(record.mz);
    test_hooks::fault_point("read_spectrum");
    std::vector<float> intensity(record.intensity);
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) {
        return nullptr;
    }
    std::construct_at(&reinterpret_cast<SpectrumObject*>(self)->data,
                      SpectrumData{std::move(mz), std::move(intensity), record.retention_time_sec, record.ms_level});
    return self;
}

}  // namespace tarvok::python
