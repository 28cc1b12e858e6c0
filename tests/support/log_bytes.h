#pragma once

#include <cstdint>
#include <cstring>
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

// A log's bytes without the annotation block after its name (read here by the format's
// rule, independently of CopyLog), so that tests can hold the rest against copyLogBytes.
// Bytes with no block, or a block that does not parse, come back as they are.
inline std::vector<std::uint8_t> withoutAnnotations(std::vector<std::uint8_t> log)
{
    if (log.size() < 14) return log;
    // The whole magic says the form, as the reader takes it: anything else reads as narrow.
    const std::size_t record = std::memcmp(log.data(), "AC64", 4) == 0 ? 16 : 8;
    const std::size_t at = 14 + (log[12] | log[13] << 8);
    const auto word = [&](std::size_t i) -> std::optional<std::uint64_t> {
        const std::size_t p = at + i * record;
        if (p + record > log.size()) return std::nullopt;
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
        for (std::size_t b = record / 2; b-- > 0;) {
            offset = offset << 8 | log[p + b];
            length = length << 8 | log[p + record / 2 + b];
        }
        if (length != 0) return std::nullopt;
        return offset;
    };
    const std::optional<std::uint64_t> mark = word(0);
    const std::optional<std::uint64_t> count = word(1);
    if (mark != 0x65746F6Eu || !count || !word(1 + *count)) return log;
    log.erase(log.begin() + static_cast<std::ptrdiff_t>(at),
              log.begin() + static_cast<std::ptrdiff_t>(at + (2 + *count) * record));
    return log;
}

inline std::vector<std::uint8_t> wideLogBytes(const std::string& name, std::int32_t fill,
                                              const std::vector<BadRegion>& records)
{
    return copyLogBytes(name, fill, records, std::nullopt, LogForm::Wide);
}

}  // namespace tessaly::testing
