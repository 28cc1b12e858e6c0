#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/bad_region.h"

namespace tessaly {

// The bytes [offset, offset + length) of a file, in 64 bits.
struct Region
{
    std::uint64_t offset = 0;
    std::uint64_t length = 0;

    std::uint64_t end() const { return offset + length; }  // one past the last byte
    bool operator==(const Region&) const = default;
};

// One past the last byte that any record of length > 0 claims, an end past 2^64 (a
// crafted wide record) counted as 2^64 - 1: how far a log's records reach, to be held
// against the file they describe. A map made of them may reach less, as it ends such a
// record where it starts.
std::uint64_t recordsReach(const std::vector<BadRegion>& records);

// The filled bytes of a copy as a set: regions in ascending order of offset, none empty,
// and no two that overlap or touch (those are one region here), so that every filled
// byte is counted once. Offsets are 64-bit, as are the records it is made from; toRecords
// gives the records of either log form.
class RegionMap
{
public:
    using const_iterator = std::vector<Region>::const_iterator;

    RegionMap() = default;
    // The bytes of records in any order (a log's, the engine's list); records of length 0
    // (end records) hold none.
    explicit RegionMap(const std::vector<BadRegion>& records);

    // Adds [offset, offset + length), joined with each region it overlaps or touches. A
    // length of 0 adds nothing; a region that would pass 2^64 ends there.
    void add(std::uint64_t offset, std::uint64_t length);
    void add(const BadRegion& record) { add(record.offset, record.length); }
    // Replaces every region by the bytes of records.
    void assign(const std::vector<BadRegion>& records);
    void clear() { m_regions.clear(); }

    bool empty() const { return m_regions.empty(); }
    // The number of regions, merged ones counted once.
    std::size_t size() const { return m_regions.size(); }
    const Region& operator[](std::size_t index) const { return m_regions[index]; }
    const_iterator begin() const { return m_regions.begin(); }
    const_iterator end() const { return m_regions.end(); }

    // One past the last filled byte; 0 when nothing is filled.
    std::uint64_t reach() const { return m_regions.empty() ? 0 : m_regions.back().end(); }
    // The filled bytes, each once.
    std::uint64_t totalBytes() const;
    // The filled bytes of [0, limit).
    std::uint64_t bytesBelow(std::uint64_t limit) const;
    // The filled bytes of [first, end); 0 when end <= first.
    std::uint64_t bytesIn(std::uint64_t first, std::uint64_t end) const;
    // True when a byte of [first, end) is filled.
    bool meets(std::uint64_t first, std::uint64_t end) const;
    // The first whole region that meets [first, end); nothing when none does.
    std::optional<Region> firstMeeting(std::uint64_t first, std::uint64_t end) const;
    // The regions that meet [first, end), cut to it.
    RegionMap overlap(std::uint64_t first, std::uint64_t end) const;

    // The regions as copy-log records of the form, in offset order: a wide record holds
    // any region; a region longer than a narrow record can say takes several, and nullopt
    // says a byte lies where no narrow record reaches (a record starts below 4 GiB).
    std::optional<std::vector<BadRegion>> toRecords(LogForm form = LogForm::Narrow) const;

    bool operator==(const RegionMap&) const = default;

private:
    // The index of the first region that ends after offset (size() when none does).
    std::size_t firstEndingAfter(std::uint64_t offset) const;

    std::vector<Region> m_regions;  // ascending, none empty, none touching the next
};

}  // namespace tessaly
