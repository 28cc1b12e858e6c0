#include "ui/size_format.h"

#include <cstdio>

namespace tessaly {

std::string formatSize(std::uint64_t bytes)
{
    static constexpr char kUnits[] = "bKMG";
    double x = static_cast<double>(bytes);
    int unit = 0;
    while (x > 1024.0 && unit < 3) {
        x /= 1024.0;
        ++unit;
    }
    const int precision = x > 999.0 ? 4 : 3;
    // Gigabytes beyond 9999 need more digits than four to stay whole.
    char number[64];
    if (x >= 10000.0) {
        std::snprintf(number, sizeof number, "%.0f", x);
    } else {
        std::snprintf(number, sizeof number, "%.*g", precision, x);
    }
    std::string text = std::string(number) + ' ' + kUnits[unit];
    if (unit > 0) {
        text += 'b';
    }
    return text;
}

std::string formatDuration(std::uint32_t seconds, const std::string& unknownText)
{
    const std::uint32_t minutes = seconds / 60;
    const std::uint32_t hours = minutes / 60;
    if (hours / 24 >= 1) {
        return unknownText;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", hours % 24, minutes % 60, seconds % 60);
    return text;
}

}  // namespace tessaly
