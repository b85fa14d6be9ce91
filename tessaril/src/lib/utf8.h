// UTF-8 well-formedness, with the position and extent of the first fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tessaril {

struct Utf8Fault {
    std::size_t index;   // length of the longest valid prefix
    std::size_t length;  // bytes in the maximal invalid subpart (1 to 3); 0 when the data ends mid-sequence
};

// Returns the first fault of |bytes|, or nullopt when they are well-formed.
[[nodiscard]] std::optional<Utf8Fault> find_utf8_fault(std::span<const std::uint8_t> bytes) noexcept;

[[nodiscard]] inline bool is_valid_utf8(std::span<const std::uint8_t> bytes) noexcept
{
    return !find_utf8_fault(bytes).has_value();
}

}  // namespace tessaril
