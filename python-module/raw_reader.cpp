#include "raw_reader.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.hpp"
#include "guard.hpp"
#include "melvane_core/spectrum_record.hpp"
#include "melvane_core/spectrum_source.hpp"
#include "owned.hpp"
#include "spectrum.hpp"
#include "tarvok/reader.hpp"
#include "test_hooks.hpp"

namespace tarvok::python {
namespace {

struct RawReaderData {
    std::string sample_name;
    std::vector<melvane_core::SpectrumRecord> spectra;
};

struct RawReaderObject {
    PyObject_HEAD
    RawReaderData data;
};

PyObject* raw_reader_type = nullptr;

constexpr const char* new_parameter_names[] = {"path"};
constexpr Parameters new_parameters{"RawReader", "__new__", new_parameter_names, 1};

constexpr const char* read_spectrum_parameter_names[] = {"scan_index"};
constexpr Parameters read_spectrum_parameters{"RawReader", "read_spectrum", read_spectrum_parameter_names, 1};

const RawReaderData& data_of(PyObject* self)
{
    return reinterpret_cast<RawReaderObject*>(self)->data;
}

// The UTF-8 text of a str path; nothing, with an exception set, for anything else.
std::optional<std::string_view> path_text(PyObject* path)
{
    if (path == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'None' is not an instance of 'str'");
        return std::nullopt;
    }
    if (!PyUnicode_Check(path)) {
        const Owned type_name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(path)), "__name__"));
        if (type_name) {
            PyErr_Format(PyExc_TypeError, "'%S' object is not an instance of 'str'", type_name.get());
        }
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(path, &size);
    if (text == nullptr) {
        return std::nullopt;
    }
    return std::string_view(text, static_cast<std::size_t>(size));
}

// The index as an unsigned 64-bit value; nothing, with an exception set, when
// it is no integer or out of that range.
std::optional<std::uint64_t> scan_index_value(PyObject* scan_index)
{
    const Owned number = PyLong_Check(scan_index) ? Owned::borrowed(scan_index) : Owned(PyNumber_Index(scan_index));
    if (!number) {
        return std::nullopt;
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(number.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
        return std::nullopt;
    }
    return value;
}

void raise_reader_error(const Error& error)
{
    const std::string text = error.display();
    const Owned message(created(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace")));
    PyErr_SetObject(PyExc_RuntimeError, message.get());
}

// Opens the sample and decodes every scan; the Reader goes when this returns.
std::optional<RawReaderData> read_sample(std::string_view path)
{
    std::expected<Reader, Error> reader = Reader::open(path);
    if (!reader) {
        raise_reader_error(reader.error());
        return std::nullopt;
    }
    std::string sample_name = reader->sample_name;
    return RawReaderData{std::move(sample_name), melvane_core::collect_spectra(reader->iter_spectra())};
}

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs)
{
    PyObject* values[1] = {};
    if (!parse_arguments(new_parameters, args, kwargs, values)) {
        return nullptr;
    }
    const std::optional<std::string_view> path = path_text(values[0]);
    if (!path) {
        note_failed_conversion("path");
        return nullptr;
    }
    std::optional<RawReaderData> data = read_sample(*path);
    if (!data) {
        return nullptr;
    }
    test_hooks::fault_point("new");
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) {
        return nullptr;
    }
    std::construct_at(&reinterpret_cast<RawReaderObject*>(self)->data, std::move(*data));
    return self;
}

PyObject* raw_reader_new(PyTypeObject* type, PyObject* args, PyObject* kwargs)
{
    return guarded<PyObject*>(nullptr, [&] { return construct(type, args, kwargs); });
}

PyObject* read_spectrum(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* values[1] = {};
        if (!parse_arguments(read_spectrum_parameters, args, nargs, kwnames, values)) {
            return nullptr;
        }
        const std::optional<std::uint64_t> index = scan_index_value(values[0]);
        if (!index) {
            note_failed_conversion("scan_index");
            return nullptr;
        }
        const std::vector<melvane_core::SpectrumRecord>& spectra = data_of(self).spectra;
        if (*index >= spectra.size()) {
            PyErr_Format(PyExc_RuntimeError, "scan %llu out of range", static_cast<unsigned long long>(*index));
            return nullptr;
        }
        return new_spectrum(spectra[*index]);
    });
}

PyObject* get_scan_count(PyObject* self, void*)
{
    return guarded<PyObject*>(nullptr, [&] {
        test_hooks::fault_point("getter");
        return created(PyLong_FromUnsignedLongLong(data_of(self).spectra.size()));
    });
}

PyObject* raw_reader_repr(PyObject* self)
{
    return guarded<PyObject*>(nullptr, [&] {
        test_hooks::fault_point("repr");
        const RawReaderData& data = data_of(self);
        return created(
            PyUnicode_FromFormat("RawReader('%s', %zu scans)", data.sample_name.c_str(), data.spectra.size()));
    });
}

void raw_reader_dealloc(PyObject* self)
{
    PyTypeObject* type = Py_TYPE(self);
    guarded_unraisable(reinterpret_cast<PyObject*>(type), [&] {
        std::destroy_at(&reinterpret_cast<RawReaderObject*>(self)->data);
        test_hooks::fault_point("dealloc");
    });
    type->tp_free(self);
    Py_DECREF(type);
}

PyMethodDef raw_reader_methods[] = {
    {"read_spectrum", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_spectrum)),
     METH_FASTCALL | METH_KEYWORDS, "read_spectrum($self, scan_index)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef raw_reader_getters[] = {
    {"scan_count", get_scan_count, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot raw_reader_slots[] = {
    {Py_tp_doc, const_cast<char*>("RawReader(path)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(raw_reader_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(raw_reader_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(raw_reader_repr)},
    {Py_tp_methods, raw_reader_methods},
    {Py_tp_getset, raw_reader_getters},
    {0, nullptr},
};

PyType_Spec raw_reader_spec = {
    "builtins.RawReader",
    sizeof(RawReaderObject),
    0,
    Py_TPFLAGS_DEFAULT,
    raw_reader_slots,
};

}  // namespace

PyObject* raw_reader_class()
{
    if (raw_reader_type == nullptr) {
        raw_reader_type = PyType_FromSpec(&raw_reader_spec);
    }
    return raw_reader_type;
}

}  // namespace tarvok::python
