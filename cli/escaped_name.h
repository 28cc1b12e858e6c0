#pragma once

#include <string>

namespace tessaly::cli {

// A file name as the terminal and the report show it: a backslash is doubled and every
// control byte (a tab, a line break, an escape sequence's start, DEL) becomes \xHH, so
// that a name can neither drive the terminal nor break a line in two; printf '%b'
// turns the text back into the name. Every other byte stays as it is.
std::string escapedName(const std::string& name);

}  // namespace tessaly::cli
