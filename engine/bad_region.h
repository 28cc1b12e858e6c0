#pragma once

#include <cstdint>
#include <limits>

namespace tessaly {

// One filled region of a destination; the same pair, little-endian, is a record
// of the copy log. A length of 0 marks the end record.
struct BadRegion
{
    std::uint64_t offset = 0;  // destination offset of the first filled byte
    std::uint64_t length = 0;  // bytes
    bool operator==(const BadRegion&) const = default;
};

// The two forms of the copy log: 32-bit records for a copy that ends below 4 GiB, 64-bit
// records for a larger one. A log keeps the form it was written in.
enum class LogForm { Narrow, Wide };

// The form a copy that ends at end (one past its last byte) needs: the narrow form as
// long as its end record can say where the copy ends.
inline LogForm logFormFor(std::uint64_t end)
{
    return end <= std::numeric_limits<std::uint32_t>::max() ? LogForm::Narrow : LogForm::Wide;
}

}  // namespace tessaly
