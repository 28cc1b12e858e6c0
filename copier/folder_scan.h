#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/file_system.h"

namespace tessaly {

// Reports every file below folder, depth first in the order the file system returns
// them, until stop is raised.
void scanFolderTree(FileSystem& fs, const std::string& folder, const std::atomic<bool>& stop,
                    const std::function<void(const std::string& path, std::uint64_t size)>& onFile);

}  // namespace tessaly
