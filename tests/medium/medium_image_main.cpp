// tessaly-medium-image: makes an image file and its sector map for tessaly-medium,
// the same for the same arguments, for the system tests, the benchmarks and the demo.
//
//   tessaly-medium-image [OPTIONS] IMAGE SIZE
//
//   SIZE                 bytes, optionally with K, M or G (powers of 1024)
//   --seed N             content seed (default 1); also places the random damage
//   --map TEXT           map statements as in IMAGE.map, separated by ';' or lines
//   --random-bad N       N single bad sectors placed by the seed
//   --random-weak N:K    N weak sectors placed by the seed, each failing K reads
//   --clusters N:LEN     N runs of LEN bad sectors each, placed by the seed
//   --sparse             a file of SIZE bytes that holds the pattern only in the MiB
//                        at each 256 MiB and in the MiB before and after each damaged
//                        range, zeros (a hole) elsewhere: images of many GiB in no time
//
// IMAGE.map is written when there is any damage, and removed otherwise, so that an
// image made again without damage is served undamaged.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/medium/sector_map.h"

namespace tessaly {
namespace {

struct Request
{
    std::string image;
    std::uint64_t size = 0;
    std::uint32_t seed = 1;
    std::string mapText;
    std::uint64_t randomBad = 0;
    std::uint64_t randomWeak = 0;
    std::uint32_t weakReads = 0;
    std::uint64_t clusters = 0;
    std::uint64_t clusterLength = 0;
    bool sparse = false;
};

bool parseSize(const std::string& word, std::uint64_t* value)
{
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, *value);
    if (ec != std::errc() || ptr == word.data()) return false;
    const std::string unit(ptr, end);
    int shift = 0;
    if (unit == "K" || unit == "k")
        shift = 10;
    else if (unit == "M" || unit == "m")
        shift = 20;
    else if (unit == "G" || unit == "g")
        shift = 30;
    else if (!unit.empty())
        return false;
    if (*value > (UINT64_MAX >> shift)) return false;
    *value <<= shift;
    return true;
}

// "A:B" into two numbers.
bool parsePair(const std::string& word, std::uint64_t* a, std::uint64_t* b)
{
    const auto colon = word.find(':');
    return colon != std::string::npos && parseSize(word.substr(0, colon), a) &&
           parseSize(word.substr(colon + 1), b);
}

bool parseArguments(int argc, char** argv, Request* request)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        std::uint64_t a = 0, b = 0;
        if (arg == "--seed" && hasValue && parseSize(argv[++i], &a) && a <= UINT32_MAX) {
            request->seed = static_cast<std::uint32_t>(a);
        } else if (arg == "--map" && hasValue) {
            for (char c : std::string(argv[++i])) request->mapText += c == ';' ? '\n' : c;
            request->mapText += '\n';
        } else if (arg == "--random-bad" && hasValue && parseSize(argv[++i], &a)) {
            request->randomBad = a;
        } else if (arg == "--random-weak" && hasValue && parsePair(argv[++i], &a, &b) &&
                   b <= UINT32_MAX) {
            request->randomWeak = a;
            request->weakReads = static_cast<std::uint32_t>(b);
        } else if (arg == "--clusters" && hasValue && parsePair(argv[++i], &a, &b) && b > 0) {
            request->clusters = a;
            request->clusterLength = b;
        } else if (arg == "--sparse") {
            request->sparse = true;
        } else if (!arg.starts_with("--")) {
            positional.push_back(arg);
        } else {
            std::fprintf(stderr, "tessaly-medium-image: bad option or value: %s\n", arg.c_str());
            return false;
        }
    }
    if (positional.size() != 2 || !parseSize(positional[1], &request->size)) return false;
    request->image = positional[0];
    return true;
}

// Adds the random damage to map; false when it does not fit in the image.
bool placeDamage(const Request& request, SectorMap* map)
{
    const std::uint64_t sectors = (request.size + map->sectorSize - 1) / map->sectorSize;
    const std::uint64_t wanted =
        request.randomBad + request.randomWeak + request.clusters * request.clusterLength;
    if (wanted > sectors / 2) return false;  // keep the placement loop short
    std::mt19937_64 random(request.seed);
    std::set<std::uint64_t> used;
    const auto freeSector = [&](std::uint64_t length) {
        for (;;) {
            const std::uint64_t first = random() % (sectors - length + 1);
            bool clear = true;
            for (std::uint64_t s = first; s < first + length && clear; ++s) clear = !used.count(s);
            if (!clear) continue;
            for (std::uint64_t s = first; s < first + length; ++s) used.insert(s);
            return first;
        }
    };
    for (std::uint64_t i = 0; i < request.clusters; ++i) {
        const std::uint64_t first = freeSector(request.clusterLength);
        map->bad.push_back({first, first + request.clusterLength - 1, 0});
    }
    for (std::uint64_t i = 0; i < request.randomBad; ++i) {
        const std::uint64_t s = freeSector(1);
        map->bad.push_back({s, s, 0});
    }
    for (std::uint64_t i = 0; i < request.randomWeak; ++i) {
        map->weak[freeSector(1)] = request.weakReads;
    }
    return true;
}

// The byte ranges a sparse image holds the pattern in, merged and in order.
std::vector<std::pair<std::uint64_t, std::uint64_t>> patternRanges(const Request& request,
                                                                  const SectorMap& map)
{
    constexpr std::uint64_t kMiB = 1 << 20;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    for (std::uint64_t at = 0; at < request.size; at += 256 * kMiB) ranges.push_back({at, at + kMiB});
    const auto around = [&](std::uint64_t first, std::uint64_t last) {
        const std::uint64_t begin = first * map.sectorSize;
        const std::uint64_t end = (last + 1) * map.sectorSize;
        ranges.push_back({begin > kMiB ? begin - kMiB : 0, end + kMiB});
    };
    for (const SectorRange& r : map.bad) around(r.first, r.last);
    for (const auto& [sector, reads] : map.weak) around(sector, sector);
    for (auto& r : ranges) r.second = std::min(r.second, request.size);
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> merged;
    for (const auto& r : ranges) {
        if (r.first >= r.second) continue;
        if (!merged.empty() && r.first <= merged.back().second) {
            merged.back().second = std::max(merged.back().second, r.second);
        } else {
            merged.push_back(r);
        }
    }
    return merged;
}

bool writeImage(const Request& request, const SectorMap& map)
{
    const auto folder = std::filesystem::path(request.image).parent_path();
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges = {{0, request.size}};
    if (request.sparse) ranges = patternRanges(request, map);
    std::ofstream out(request.image, std::ios::binary | std::ios::trunc);
    std::vector<char> chunk(1 << 20);
    for (const auto& [begin, end] : ranges) {
        out.seekp(static_cast<std::streamoff>(begin));
        for (std::uint64_t offset = begin; out && offset < end; offset += chunk.size()) {
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), end - offset));
            fillPattern(chunk.data(), n, offset, request.seed);
            out.write(chunk.data(), static_cast<std::streamsize>(n));
        }
    }
    out.close();
    // The rest of a sparse image is a hole up to its size.
    if (!out.fail() && request.sparse) std::filesystem::resize_file(request.image, request.size, ec);
    return !out.fail() && !ec;
}

int run(int argc, char** argv)
{
    Request request;
    if (!parseArguments(argc, argv, &request)) {
        std::fprintf(stderr,
                     "usage: tessaly-medium-image [--seed N] [--map TEXT] [--random-bad N]\n"
                     "       [--random-weak N:K] [--clusters N:LEN] [--sparse] IMAGE SIZE\n");
        return 2;
    }
    std::string error;
    auto map = parseSectorMap(request.mapText, &error);
    if (!map) {
        std::fprintf(stderr, "tessaly-medium-image: --map: %s\n", error.c_str());
        return 2;
    }
    if (!placeDamage(request, &*map)) {
        std::fprintf(stderr, "tessaly-medium-image: the damage asked for does not fit\n");
        return 2;
    }
    if (!writeImage(request, *map)) {
        std::fprintf(stderr, "tessaly-medium-image: %s cannot be written\n", request.image.c_str());
        return 1;
    }
    const std::string mapPath = request.image + ".map";
    const bool damaged = !map->bad.empty() || !map->weak.empty() || !map->slow.empty() ||
                         map->removeAfter.has_value() || map->sectorSize != 512;
    std::error_code ec;
    std::filesystem::remove(mapPath, ec);
    if (damaged) {
        std::ofstream out(mapPath, std::ios::trunc);
        out << formatSectorMap(*map);
        out.close();
        if (out.fail()) {
            std::fprintf(stderr, "tessaly-medium-image: %s cannot be written\n", mapPath.c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace
}  // namespace tessaly

int main(int argc, char** argv)
{
    return tessaly::run(argc, argv);
}
