#include "volume/region_set.h"

#include <algorithm>
#include <limits>

namespace tessaly {

void RegionSet::add(std::uint64_t offset, std::uint64_t length)
{
    if (length == 0) return;
    std::uint64_t end = offset + std::min(length, std::numeric_limits<std::uint64_t>::max() - offset);
    auto it = m_ends.upper_bound(offset);
    if (it != m_ends.begin() && std::prev(it)->second >= offset) --it;
    while (it != m_ends.end() && it->first <= end) {
        offset = std::min(offset, it->first);
        end = std::max(end, it->second);
        it = m_ends.erase(it);
    }
    m_ends.emplace(offset, end);
}

std::uint64_t RegionSet::overlap(std::uint64_t offset, std::uint64_t length) const
{
    const std::uint64_t end =
        offset + std::min(length, std::numeric_limits<std::uint64_t>::max() - offset);
    auto it = m_ends.upper_bound(offset);
    if (it != m_ends.begin()) --it;
    std::uint64_t bytes = 0;
    for (; it != m_ends.end() && it->first < end; ++it) {
        const std::uint64_t from = std::max(offset, it->first);
        const std::uint64_t to = std::min(end, it->second);
        if (to > from) bytes += to - from;
    }
    return bytes;
}

bool RegionSet::contains(std::uint64_t offset) const
{
    auto it = m_ends.upper_bound(offset);
    return it != m_ends.begin() && std::prev(it)->second > offset;
}

std::optional<std::uint64_t> RegionSet::nextStart(std::uint64_t offset) const
{
    const auto it = m_ends.upper_bound(offset);
    if (it == m_ends.end()) return std::nullopt;
    return it->first;
}

std::vector<BadRegion> RegionSet::regions() const
{
    std::vector<BadRegion> out;
    out.reserve(m_ends.size());
    for (const auto& [offset, end] : m_ends) out.push_back({offset, end - offset});
    return out;
}

}  // namespace tessaly
