#pragma once

#include <Python.h>

#include <utility>

namespace tarvok::python {

// One owned (strong) reference, released when the holder goes.
class Owned {
public:
    Owned() noexcept = default;
    // Takes over a new reference; null is allowed and means "nothing".
    explicit Owned(PyObject* reference) noexcept : object_(reference) {}

    static Owned borrowed(PyObject* reference) noexcept
    {
        Py_XINCREF(reference);
        return Owned(reference);
    }

    Owned(Owned&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept
    {
        Owned(std::move(other)).swap(*this);
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Hands the reference to the caller.
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }

    void swap(Owned& other) noexcept { std::swap(object_, other.object_); }

private:
    PyObject* object_ = nullptr;
};

}  // namespace tarvok::python
