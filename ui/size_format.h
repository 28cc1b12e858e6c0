#pragma once

#include <cstdint>
#include <string>

namespace tessaly {

// A byte count as the copier shows it: three significant digits (four from 1000 on) and
// a unit of "bKMG" ("512 b", "1.5 Kb", "3 Gb"); a value is divided by 1024 while it is
// larger than 1024. Counts beyond 1024 Gb go on in Gb ("2048 Gb"): there is no larger unit.
std::string formatSize(std::uint64_t bytes);

// Seconds as "hh:mm:ss"; a day or more gives unknownText, since such a guess says nothing.
std::string formatDuration(std::uint32_t seconds, const std::string& unknownText);

}  // namespace tessaly
