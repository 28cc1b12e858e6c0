#pragma once

#include <cstdint>

namespace tessaly {

// One filled region of a destination; the same pair, little-endian, is a record
// of the copy log. A length of 0 marks the end record.
struct BadRegion
{
    std::uint32_t offset = 0;  // destination offset of the first filled byte
    std::uint32_t length = 0;  // bytes
    bool operator==(const BadRegion&) const = default;
};

}  // namespace tessaly
