#pragma once

// The damage of one image file of the simulated medium, read from the text file
// IMAGE.map beside it. One statement per line; '#' starts a comment; numbers are
// decimal; sector numbers count from 0 in units of the map's sector size:
//
//   sector SIZE             sector size in bytes (default 512)
//   bad FIRST[-LAST]        unreadable: every read touching them fails with EIO
//   weak SECTOR K           the first K reads touching the sector fail with EIO,
//                           later reads succeed
//   slow FIRST[-LAST] MS    a read touching them waits MS milliseconds first
//   remove-after BYTES      once BYTES bytes of this file have been served, the
//                           medium is gone: every later read fails with ENOMEDIUM
//
// A read touches every sector that holds one of its bytes (clipped to the file's
// size). A read is judged whole: one bad sector fails all of it, like a drive.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tessaly {

struct SectorRange
{
    std::uint64_t first = 0;
    std::uint64_t last = 0;     // inclusive
    std::uint32_t delayMs = 0;  // slow ranges only
};

struct SectorMap
{
    std::uint32_t sectorSize = 512;
    std::vector<SectorRange> bad;
    std::vector<SectorRange> slow;
    std::map<std::uint64_t, std::uint32_t> weak;  // sector -> reads that fail
    std::optional<std::uint64_t> removeAfter;     // bytes served before removal

    // True when a sector of [first, last] is in one of ranges.
    static bool overlaps(const std::vector<SectorRange>& ranges, std::uint64_t first,
                         std::uint64_t last);
    // Longest wait of the slow ranges that [first, last] touches, in milliseconds.
    std::uint32_t delayFor(std::uint64_t first, std::uint64_t last) const;
};

// The text of a map, one statement a line, that parseSectorMap reads back as map.
std::string formatSectorMap(const SectorMap& map);

// Parses the text of a map. On a malformed line, returns nullopt and puts
// "line N: reason" into *error.
std::optional<SectorMap> parseSectorMap(const std::string& text, std::string* error);

// The outcome of one read of count bytes at offset of a file of fileSize bytes.
struct ReadDecision
{
    int error = 0;          // 0, EIO or ENOMEDIUM
    std::size_t bytes = 0;  // bytes to serve when error is 0
};

// The changing state of one image: weak sectors already touched, bytes served.
// Not thread safe; the caller serialises the reads of one file.
class SectorState
{
public:
    explicit SectorState(SectorMap map) : m_map(std::move(map)) {}

    const SectorMap& map() const { return m_map; }
    // Judges a read and records it: weak sectors it touches count one more touch
    // (also when another sector fails it), and the bytes it serves count toward
    // removal. The read that reaches the removal limit is cut short at it.
    ReadDecision read(std::uint64_t offset, std::size_t count, std::uint64_t fileSize);

private:
    SectorMap m_map;
    std::map<std::uint64_t, std::uint32_t> m_touches;  // weak sector -> reads so far
    std::uint64_t m_served = 0;
};

// Fills out with the test content of an image: bytes that depend on the seed and on
// their offset in the image, so that a misplaced sector never matches and an image
// can be made piece by piece.
void fillPattern(char* out, std::size_t n, std::uint64_t offset, std::uint32_t seed);

}  // namespace tessaly
