#include "cli/escaped_name.h"

#include <algorithm>
#include <cstdio>

namespace tessaly::cli {

std::string escapedName(const std::string& name)
{
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

std::string escapedLines(const std::string& text)
{
    std::string out;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (at > 0) out += '\n';
        out += escapedName(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

}  // namespace tessaly::cli
