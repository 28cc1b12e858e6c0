#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "engine/bad_region.h"

namespace tessaly {

// A set of byte ranges of a volume, merged where they overlap or touch: the regions an
// image's log says hold no data read from the medium, or the metadata sectors read as
// zeros. Lengths of 0 are ignored; a range is cut where it would pass 2^64.
class RegionSet
{
public:
    void add(std::uint64_t offset, std::uint64_t length);
    bool empty() const { return m_ends.empty(); }
    std::size_t count() const { return m_ends.size(); }
    // Bytes of [offset, offset + length) that lie in the set.
    std::uint64_t overlap(std::uint64_t offset, std::uint64_t length) const;
    // True when the byte at offset lies in the set.
    bool contains(std::uint64_t offset) const;
    // The start of the first region that begins after offset; nullopt when there is none.
    std::optional<std::uint64_t> nextStart(std::uint64_t offset) const;
    // The regions in ascending order.
    std::vector<BadRegion> regions() const;

private:
    std::map<std::uint64_t, std::uint64_t> m_ends;  // offset -> one past the last byte
};

}  // namespace tessaly
