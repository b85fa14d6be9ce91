// Process-wide values that are built by their first user and only read
// afterwards: the two type objects, the interned parameter names and the
// internal-fault exception type.
#pragma once

#include <Python.h>

#include <atomic>

namespace binding {

template <class T>
class BuildOnce {
public:
    constexpr BuildOnce() noexcept = default;
    BuildOnce(const BuildOnce&) = delete;
    BuildOnce& operator=(const BuildOnce&) = delete;

    // Returns the value, building it with |build| if no caller has yet
    // succeeded. |build| returns the value, or nullptr with a Python
    // exception set; a failed build publishes nothing, so the next caller
    // tries again. The caller must be attached to the interpreter: a thread
    // that has to wait for another's build detaches from it while it waits
    // (PyMutex does), since the builder may need the interpreter to finish.
    template <class Build>
    [[nodiscard]] T* get(Build&& build)
    {
        if (T* value = value_.load(std::memory_order_acquire)) return value;
        PyMutex_Lock(&mutex_);
        T* value = value_.load(std::memory_order_acquire);
        if (value == nullptr) {
            value = build();
            if (value != nullptr) value_.store(value, std::memory_order_release);
        }
        PyMutex_Unlock(&mutex_);
        return value;
    }

private:
    std::atomic<T*> value_{nullptr};
    PyMutex mutex_{};
};

}  // namespace binding
