#pragma once

#include <string>
#include <string_view>

namespace tessaly {

// name with every character replaced by its Unicode simple case folding (one character
// for one; "Ä" and "ä", "Σ", "σ" and "ς", "Ж" and "ж" fold alike, "ß" stays), so that
// names that an output ignoring case takes for one fold to one string. Covers every
// script of Unicode 14 (run/case_fold_table.inc). Bytes that are not UTF-8 stay as
// they are.
std::string foldCase(std::string_view name);

}  // namespace tessaly
