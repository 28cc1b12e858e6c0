#pragma once

#include <string>

namespace tessaly::cli {

// A file name as the terminal and the report show it: a backslash is doubled and every
// control byte (a tab, a line break, an escape sequence's start, DEL) becomes \xHH, so
// that a name can neither drive the terminal nor break a line in two; printf '%b'
// turns the text back into the name. Every other byte stays as it is.
std::string escapedName(const std::string& name);
// A message of several lines that names files: each line escaped as escapedName does, the
// line breaks between them kept.
std::string escapedLines(const std::string& text);

}  // namespace tessaly::cli
