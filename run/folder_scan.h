#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tessaly {

// What a scan reports: each regular file with its size, and each folder it could
// not read (or read only in part).
struct ScanSink
{
    std::function<void(const std::string& path, std::uint64_t size)> file;
    std::function<void(const std::string& folder)> unreadableFolder;
};

// Reports every regular file below folder, depth first, in the order the file
// system lists each folder. Links to folders are not followed (a link back up the
// tree would never end), pipes, sockets and devices are left out, and so is the
// folder excluded (compared by path) with everything below it. Returns false when
// stop was raised before the scan ended.
bool scanFolder(FileSystem& fs, const std::string& folder, const std::string& excluded,
                const std::atomic<bool>& stop, const ScanSink& sink);

// Reports the files of paths, in their order: each folder's as scanFolder does, and
// each other path as a file with its size. A path that names nothing is reported all
// the same, with size 0, so that its copy says what became of it. Returns false when
// stop was raised before the scan ended.
bool scanPaths(FileSystem& fs, const std::vector<std::string>& paths, const std::string& excluded,
               const std::atomic<bool>& stop, const ScanSink& sink);

}  // namespace tessaly
