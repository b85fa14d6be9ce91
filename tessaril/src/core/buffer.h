// An owned byte buffer of exact length whose contents start uninitialised,
// so that callers pay for one allocation and no zero-fill.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace tessaril {

class Buffer {
public:
    Buffer() = default;

    // Allocates |size| bytes without initialising them.
    static Buffer uninitialized(std::size_t size)
    {
        Buffer b;
        if (size != 0) b.bytes_ = std::make_unique_for_overwrite<std::uint8_t[]>(size);
        b.size_ = size;
        return b;
    }

    Buffer(Buffer&& other) noexcept : bytes_(std::move(other.bytes_)), size_(other.size_) { other.size_ = 0; }
    Buffer& operator=(Buffer&& other) noexcept
    {
        bytes_ = std::move(other.bytes_);
        size_ = other.size_;
        other.size_ = 0;
        return *this;
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    std::uint8_t* data() noexcept { return bytes_.get(); }
    const std::uint8_t* data() const noexcept { return bytes_.get(); }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::span<std::uint8_t> span() noexcept { return {bytes_.get(), size_}; }
    std::span<const std::uint8_t> span() const noexcept { return {bytes_.get(), size_}; }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_ = 0;
};

// The address of |bytes|, or of |spare| when they are empty: for library
// calls that declare their buffer arguments non-null even for zero bytes.
inline std::uint8_t* non_null_data(std::span<std::uint8_t> bytes, std::uint8_t& spare) noexcept
{
    return bytes.empty() ? &spare : bytes.data();
}
inline const std::uint8_t* non_null_data(std::span<const std::uint8_t> bytes, const std::uint8_t& spare) noexcept
{
    return bytes.empty() ? &spare : bytes.data();
}

}  // namespace tessaril
