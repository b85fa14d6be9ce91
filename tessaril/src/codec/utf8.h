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

// Returns whether |bytes| are well-formed UTF-8: shortest forms only, no
// surrogates, nothing above U+10FFFF. Its running time depends on the length
// of |bytes| alone, not on their values, so it may test secret text.
[[nodiscard]] bool is_valid_utf8(std::span<const std::uint8_t> bytes) noexcept;

// Returns the first fault of |bytes|, or nullopt when they are well-formed.
// Valid text costs what is_valid_utf8 costs; only for invalid text does it
// then walk the bytes, branching on them, to locate the fault.
[[nodiscard]] std::optional<Utf8Fault> find_utf8_fault(std::span<const std::uint8_t> bytes) noexcept;

}  // namespace tessaril
