#pragma once

#include <string>

namespace tessaly {

// Appends field to a CSV line as RFC 4180 asks: quoted, with its quotes doubled, when it
// holds a comma, a quote or a line break; as it stands otherwise. The run's report and
// the listing of a volume's files both write their lines so.
inline void appendCsvField(std::string& out, const std::string& field)
{
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace tessaly
