#pragma once

#include <cstdint>

namespace tessaly {

// What replaces a sector that stays unreadable; stored by number in the copy log's
// header and in the profile.
enum class FillType : std::int32_t { Zeros = 0, Value = 1, String = 2, LastGood = 3, Nothing = 4 };
inline constexpr FillType kLastFillType = FillType::Nothing;

}  // namespace tessaly
