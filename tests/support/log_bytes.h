#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/bad_region.h"

namespace tessaly::testing {

// A copy log as the copier writes it: header with the fill type, the name's length
// (nameLength in place of the true one, to make a broken log), the name, then the
// records as given (the caller adds the end record {position, 0} where it wants one).
inline std::vector<std::uint8_t> copyLogBytes(const std::string& name, std::int32_t fill,
                                              const std::vector<BadRegion>& records,
                                              std::optional<std::uint16_t> nameLength = {})
{
    std::vector<std::uint8_t> out = {'A', 'C', 'L', 0, 0, 0, 0, 0};
    const auto put = [&out](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    put(static_cast<std::uint32_t>(fill), 4);
    put(nameLength.value_or(static_cast<std::uint16_t>(name.size())), 2);
    out.insert(out.end(), name.begin(), name.end());
    for (const BadRegion& r : records) {
        put(r.offset, 4);
        put(r.length, 4);
    }
    return out;
}

}  // namespace tessaly::testing
