#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/bad_region.h"

namespace tessaly::testing {

// A copy log as the copier writes it: header with the fill type, the name's length
// (nameLength in place of the true one, to make a broken log), the name, then the
// records as given (the caller adds the end record {position, 0} where it wants one),
// 32-bit in the narrow form, 64-bit in the wide one.
inline std::vector<std::uint8_t> copyLogBytes(const std::string& name, std::int32_t fill,
                                              const std::vector<BadRegion>& records,
                                              std::optional<std::uint16_t> nameLength = {},
                                              LogForm form = LogForm::Narrow)
{
    std::vector<std::uint8_t> out = {'A', 'C', 'L', 0, 0, 0, 0, 0};
    if (form == LogForm::Wide) out = {'A', 'C', '6', '4', 0, 0, 0, 0};
    const auto put = [&out](std::uint64_t value, int size) {
        for (int i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    put(static_cast<std::uint32_t>(fill), 4);
    put(nameLength.value_or(static_cast<std::uint16_t>(name.size())), 2);
    out.insert(out.end(), name.begin(), name.end());
    const int half = form == LogForm::Wide ? 8 : 4;
    for (const BadRegion& r : records) {
        put(r.offset, half);
        put(r.length, half);
    }
    return out;
}

inline std::vector<std::uint8_t> wideLogBytes(const std::string& name, std::int32_t fill,
                                              const std::vector<BadRegion>& records)
{
    return copyLogBytes(name, fill, records, std::nullopt, LogForm::Wide);
}

}  // namespace tessaly::testing
