// An owning reference to a Python object, released when it goes out of scope.
#pragma once

#include <Python.h>

#include <utility>

namespace binding {

class Owned {
public:
    Owned() noexcept = default;

    // Takes over |object|, a new reference or nullptr.
    explicit Owned(PyObject* object) noexcept : object_(object) {}

    // Adds a reference to a borrowed |object|.
    [[nodiscard]] static Owned borrow(PyObject* object) noexcept { return Owned(Py_XNewRef(object)); }

    Owned(Owned&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept
    {
        Owned(std::move(other)).swap(*this);
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Py_XDECREF(object_); }

    [[nodiscard]] PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Hands the reference to the caller.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

    void swap(Owned& other) noexcept { std::swap(object_, other.object_); }

private:
    PyObject* object_ = nullptr;
};

}  // namespace binding
