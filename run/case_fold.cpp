#include "run/case_fold.h"

#include <cstdint>

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

// The code point of the well-formed UTF-8 sequence at the start of s and its length;
// length 0 when s starts with no such sequence.
std::size_t decodeUtf8(std::string_view s, char32_t& c)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (s.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no characters.
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
    return length;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string foldCase(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    while (!name.empty()) {
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
