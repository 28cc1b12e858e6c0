#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "platform/file_system.h"

namespace tessaly {

// Why a file may not be copied where the destination rule puts it.
enum class GuardVerdict : std::int32_t
{
    Clear = 0,
    SameFile = 1,         // the destination is the source itself (same device and inode)
    SameDestination = 2,  // an earlier file of the run has the same copy
    LogPlace = 3,         // the copy would lie where another copy's log belongs, or the reverse
};

// The checks before a file is handed to the engine, over the copies one run has
// made or begun. A copy log lies beside its copy under the copy's name with
// ".log" appended.
class DestinationGuard
{
public:
    explicit DestinationGuard(FileSystem& fs) : m_fs(fs) {}

    // Checks the copy of source at destination and, when it is clear, claims the
    // destination for the run.
    GuardVerdict admit(const std::string& source, const std::string& destination);
    // Forgets the claimed destinations: a new run begins.
    void reset() { m_claimed.clear(); }

private:
    FileSystem& m_fs;
    std::unordered_set<std::string> m_claimed;
};

}  // namespace tessaly
