#include "run/case_fold.h"

#include <cstdint>

#include "texts/text_encoding.h"

namespace tessaly {

namespace {

// Code points first, first + stride, ... (count of them) fold to themselves + distance.
struct FoldRun
{
    std::uint32_t first;
    std::uint16_t count;
    std::uint8_t stride;
    std::int32_t distance;
};

constexpr FoldRun kFoldRuns[] = {
#include "run/case_fold_table.inc"
};

char32_t foldCodePoint(char32_t c)
{
    // Sorted by first; a handful of runs interleave, so every run up to c is looked at.
    for (const FoldRun& run : kFoldRuns) {
        if (run.first > c) break;
        const std::uint32_t offset = c - run.first;
        if (offset % run.stride == 0 && offset / run.stride < run.count) {
            return static_cast<char32_t>(static_cast<std::int64_t>(c) + run.distance);
        }
    }
    return c;
}

}  // namespace

std::string foldCase(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    while (!name.empty()) {
        // ASCII folds by itself: A to Z, and nothing else.
        if (const char b = name.front(); static_cast<unsigned char>(b) < 0x80) {
            out += b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b;
            name.remove_prefix(1);
            continue;
        }
        char32_t c = 0;
        const std::size_t length = decodeUtf8(name, c);
        if (length == 0) {
            out += name.front();
            name.remove_prefix(1);
            continue;
        }
        appendUtf8(out, foldCodePoint(c));
        name.remove_prefix(length);
    }
    return out;
}

}  // namespace tessaly
