// Process-wide values that are built by their first user and only read
// afterwards: the two type objects, the Backend members, the interned
// parameter names and the internal-fault exception type.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>

namespace tessarils {

template <class T>
class BuildOnce {
public:
    constexpr BuildOnce() noexcept = default;
    BuildOnce(const BuildOnce&) = delete;
    BuildOnce& operator=(const BuildOnce&) = delete;

    // Returns the value, building it with |build| if no caller has yet
    // succeeded. |build| returns the value, or nullptr with a Python
    // exception set; a failed build publishes nothing, so the next caller
    // tries again. The caller must be attached to the interpreter.
    template <class Build>
    [[nodiscard]] T* get(Build&& build)
    {
        if (T* value = value_.load(std::memory_order_acquire)) return value;
        return build_slowly(build);
    }

    // The value if it has been published, else nullptr. Never builds.
    [[nodiscard]] T* peek() const noexcept { return value_.load(std::memory_order_acquire); }

private:
    template <class Build>
    T* build_slowly(Build& build)
    {
        if (!mutex_.try_lock()) {
            // The thread that holds the mutex may need the interpreter to
            // finish its build (or, without a GIL, to reach a stop-the-world
            // point), so wait detached from it.
            PyThreadState* thread = PyEval_SaveThread();
            mutex_.lock();
            PyEval_RestoreThread(thread);
        }
        std::lock_guard guard(mutex_, std::adopt_lock);
        if (T* value = value_.load(std::memory_order_acquire)) return value;
        T* value = build();
        if (value != nullptr) value_.store(value, std::memory_order_release);
        return value;
    }

    std::atomic<T*> value_{nullptr};
    std::mutex mutex_;
};

}  // namespace tessarils
