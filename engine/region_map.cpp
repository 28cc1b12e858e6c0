#include "engine/region_map.h"

#include <algorithm>
#include <limits>

namespace tessaly {

namespace {

constexpr std::uint64_t kRecordMax = std::numeric_limits<std::uint32_t>::max();

}  // namespace

std::uint64_t recordsReach(const std::vector<BadRegion>& records)
{
    constexpr std::uint64_t kTop = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t reach = 0;
    for (const BadRegion& r : records) {
        if (r.length != 0) reach = std::max(reach, r.length > kTop - r.offset ? kTop : r.offset + r.length);
    }
    return reach;
}

RegionMap::RegionMap(const std::vector<BadRegion>& records)
{
    assign(records);
}

void RegionMap::assign(const std::vector<BadRegion>& records)
{
    m_regions.clear();
    m_regions.reserve(records.size());
    // A crafted record that would pass 2^64 ends there, as in add().
    for (const BadRegion& r : records) {
        const std::uint64_t length = std::min(r.length, std::numeric_limits<std::uint64_t>::max() - r.offset);
        if (length != 0) m_regions.push_back({r.offset, length});
    }
    std::sort(m_regions.begin(), m_regions.end(),
              [](const Region& a, const Region& b) { return a.offset < b.offset; });
    // Sorted, each region joins the last one kept when it starts by that one's end.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_regions.size(); ++i) {
        const Region r = m_regions[i];
        if (kept > 0 && r.offset <= m_regions[kept - 1].end()) {
            Region& last = m_regions[kept - 1];
            last.length = std::max(last.end(), r.end()) - last.offset;
        } else {
            m_regions[kept++] = r;
        }
    }
    m_regions.resize(kept);
}

std::size_t RegionMap::firstEndingAfter(std::uint64_t offset) const
{
    const auto it = std::upper_bound(
        m_regions.begin(), m_regions.end(), offset,
        [](std::uint64_t at, const Region& r) { return at < r.end(); });
    return static_cast<std::size_t>(it - m_regions.begin());
}

void RegionMap::add(std::uint64_t offset, std::uint64_t length)
{
    if (length == 0) return;
    std::uint64_t end = offset + std::min(length, std::numeric_limits<std::uint64_t>::max() - offset);
    // Regions that end before offset stay; from the first that ends at or after it, each
    // one that starts by end joins the new region.
    std::size_t first = offset == 0 ? 0 : firstEndingAfter(offset - 1);
    std::size_t last = first;
    while (last < m_regions.size() && m_regions[last].offset <= end) {
        offset = std::min(offset, m_regions[last].offset);
        end = std::max(end, m_regions[last].end());
        ++last;
    }
    const auto at = m_regions.begin() + static_cast<std::ptrdiff_t>(first);
    m_regions.erase(at, m_regions.begin() + static_cast<std::ptrdiff_t>(last));
    m_regions.insert(at, Region{offset, end - offset});
}

std::uint64_t RegionMap::totalBytes() const
{
    std::uint64_t sum = 0;
    for (const Region& r : m_regions) sum += r.length;
    return sum;
}

std::uint64_t RegionMap::bytesBelow(std::uint64_t limit) const
{
    return bytesIn(0, limit);
}

std::uint64_t RegionMap::bytesIn(std::uint64_t first, std::uint64_t end) const
{
    return overlap(first, end).totalBytes();
}

bool RegionMap::meets(std::uint64_t first, std::uint64_t end) const
{
    const std::size_t i = firstEndingAfter(first);
    return first < end && i < m_regions.size() && m_regions[i].offset < end;
}

std::optional<Region> RegionMap::firstMeeting(std::uint64_t first, std::uint64_t end) const
{
    if (!meets(first, end)) return std::nullopt;
    return m_regions[firstEndingAfter(first)];
}

RegionMap RegionMap::overlap(std::uint64_t first, std::uint64_t end) const
{
    RegionMap cut;
    if (end <= first) return cut;
    for (std::size_t i = firstEndingAfter(first); i < m_regions.size(); ++i) {
        const Region& r = m_regions[i];
        if (r.offset >= end) break;
        const std::uint64_t from = std::max(r.offset, first);
        cut.m_regions.push_back({from, std::min(r.end(), end) - from});
    }
    return cut;
}

std::optional<std::vector<BadRegion>> RegionMap::toRecords(LogForm form) const
{
    std::vector<BadRegion> records;
    records.reserve(m_regions.size());
    if (form == LogForm::Wide) {
        for (const Region& r : m_regions) records.push_back({r.offset, r.length});
        return records;
    }
    for (const Region& r : m_regions) {
        std::uint64_t at = r.offset;
        while (at < r.end()) {
            if (at > kRecordMax) return std::nullopt;
            // A long region breaks at the last offset a record can start at, so that its
            // second record reaches as far as any record can.
            const std::uint64_t left = r.end() - at;
            const std::uint64_t length =
                left <= kRecordMax ? left : (at < kRecordMax ? kRecordMax - at : kRecordMax);
            records.push_back({at, length});
            at += length;
        }
    }
    return records;
}

}  // namespace tessaly
