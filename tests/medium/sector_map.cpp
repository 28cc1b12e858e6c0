#include "tests/medium/sector_map.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <sstream>

namespace tessaly {
namespace {

bool parseNumber(const std::string& word, std::uint64_t* value)
{
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, *value);
    return ec == std::errc() && ptr == end && !word.empty();
}

// FIRST or FIRST-LAST.
bool parseRange(const std::string& word, SectorRange* range)
{
    const auto dash = word.find('-');
    if (dash == std::string::npos) {
        if (!parseNumber(word, &range->first)) return false;
        range->last = range->first;
        return true;
    }
    return parseNumber(word.substr(0, dash), &range->first) &&
           parseNumber(word.substr(dash + 1), &range->last) && range->first <= range->last;
}

// One statement; an empty string on success, else the reason.
std::string parseStatement(const std::vector<std::string>& words, SectorMap* map)
{
    const std::string& keyword = words[0];
    std::uint64_t number = 0;
    SectorRange range;
    if (keyword == "sector") {
        if (words.size() != 2 || !parseNumber(words[1], &number) || number == 0 ||
            number > (1u << 20)) {
            return "expected 'sector SIZE' with 0 < SIZE <= 1048576";
        }
        map->sectorSize = static_cast<std::uint32_t>(number);
    } else if (keyword == "bad") {
        if (words.size() != 2 || !parseRange(words[1], &range)) {
            return "expected 'bad FIRST[-LAST]'";
        }
        map->bad.push_back(range);
    } else if (keyword == "weak") {
        if (words.size() != 3 || !parseNumber(words[1], &range.first) ||
            !parseNumber(words[2], &number) || number > UINT32_MAX) {
            return "expected 'weak SECTOR K'";
        }
        map->weak[range.first] = static_cast<std::uint32_t>(number);
    } else if (keyword == "slow") {
        if (words.size() != 3 || !parseRange(words[1], &range) || !parseNumber(words[2], &number) ||
            number > 600000) {
            return "expected 'slow FIRST[-LAST] MS' with MS <= 600000";
        }
        range.delayMs = static_cast<std::uint32_t>(number);
        map->slow.push_back(range);
    } else if (keyword == "remove-after") {
        if (words.size() != 2 || !parseNumber(words[1], &number)) {
            return "expected 'remove-after BYTES'";
        }
        map->removeAfter = number;
    } else {
        return "unknown statement '" + keyword + "'";
    }
    return {};
}

}  // namespace

bool SectorMap::overlaps(const std::vector<SectorRange>& ranges, std::uint64_t first,
                         std::uint64_t last)
{
    return std::any_of(ranges.begin(), ranges.end(),
                       [&](const SectorRange& r) { return r.first <= last && first <= r.last; });
}

std::uint32_t SectorMap::delayFor(std::uint64_t first, std::uint64_t last) const
{
    std::uint32_t delay = 0;
    for (const auto& r : slow) {
        if (r.first <= last && first <= r.last) delay = std::max(delay, r.delayMs);
    }
    return delay;
}

std::optional<SectorMap> parseSectorMap(const std::string& text, std::string* error)
{
    SectorMap map;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string w; fields >> w;) words.push_back(w);
        if (words.empty()) continue;
        if (std::string why = parseStatement(words, &map); !why.empty()) {
            if (error) *error = "line " + std::to_string(number) + ": " + why;
            return std::nullopt;
        }
    }
    return map;
}

std::string formatSectorMap(const SectorMap& map)
{
    std::string text = "sector " + std::to_string(map.sectorSize) + "\n";
    const auto range = [](const SectorRange& r) {
        return r.first == r.last ? std::to_string(r.first)
                                 : std::to_string(r.first) + "-" + std::to_string(r.last);
    };
    for (const auto& r : map.bad) text += "bad " + range(r) + "\n";
    for (const auto& [sector, k] : map.weak) {
        text += "weak " + std::to_string(sector) + " " + std::to_string(k) + "\n";
    }
    for (const auto& r : map.slow)
        text += "slow " + range(r) + " " + std::to_string(r.delayMs) + "\n";
    if (map.removeAfter) text += "remove-after " + std::to_string(*map.removeAfter) + "\n";
    return text;
}

void fillPattern(char* out, std::size_t n, std::uint64_t offset, std::uint32_t seed)
{
    for (std::size_t i = 0; i < n; ++i) {
        // splitmix64 of each 8-byte word's index, mixed with the seed.
        const std::uint64_t position = offset + i;
        std::uint64_t z = (position / 8) * 0x9e3779b97f4a7c15ull + seed * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        z ^= z >> 31;
        out[i] = static_cast<char>(z >> (8 * (position % 8)));
    }
}

ReadDecision SectorState::read(std::uint64_t offset, std::size_t count, std::uint64_t fileSize)
{
    if (m_map.removeAfter && m_served >= *m_map.removeAfter) return {ENOMEDIUM, 0};
    if (offset >= fileSize || count == 0) return {0, 0};
    std::uint64_t bytes = std::min<std::uint64_t>(count, fileSize - offset);
    const std::uint64_t first = offset / m_map.sectorSize;
    const std::uint64_t last = (offset + bytes - 1) / m_map.sectorSize;

    bool weakFails = false;
    for (auto it = m_map.weak.lower_bound(first); it != m_map.weak.end() && it->first <= last;
         ++it) {
        if (m_touches[it->first]++ < it->second) weakFails = true;
    }
    if (SectorMap::overlaps(m_map.bad, first, last) || weakFails) return {EIO, 0};

    if (m_map.removeAfter) bytes = std::min(bytes, *m_map.removeAfter - m_served);
    m_served += bytes;
    return {0, static_cast<std::size_t>(bytes)};
}

}  // namespace tessaly
