#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessaly {

// Language files are bytes. A text that is valid UTF-8 is returned as it is; any other
// text is taken as Windows-1252 (the code page older language files were written in)
// and converted to UTF-8. Bytes that code page leaves undefined become the C1 control
// of the same value, so nothing is lost.
std::string textToUtf8(std::string_view bytes);

// The code point of the well-formed UTF-8 sequence that bytes start with, in cp, and the
// sequence's length; 0 when bytes start with no such sequence (or are empty).
std::size_t decodeUtf8(std::string_view bytes, char32_t& cp);

// Appends code point cp (at most U+10FFFF) to out as UTF-8.
void appendUtf8(std::string& out, char32_t cp);

// True when bytes are well-formed UTF-8 (no overlong forms, no surrogates, at most
// U+10FFFF).
bool isValidUtf8(std::string_view bytes);

}  // namespace tessaly
