#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly::cli {

// One file to copy: its full path, the folder from which the copy's relative
// folder is formed (empty: straight into the output folder) and its size.
struct CopyItem
{
    std::string source;
    std::string baseFolder;
    std::uint64_t size = 0;
};

struct CopyList
{
    std::vector<CopyItem> items;
    std::uint64_t totalSize = 0;
    // Folders that could not be read while scanning; their files are missing from items.
    std::vector<std::string> unreadableFolders;
};

// Builds the list from the command line's sources, in their order. A folder gives
// every file below it, depth first in the order the file system returns them, with
// the mount point of its volume as base folder; a file (or a path that does not
// exist, which the engine then reports) gives itself with an empty base folder.
// A file that comes twice with the same base folder is listed once. Paths are made absolute; folders are resolved through symbolic links, and links
// to folders met during the scan are not followed, so a scan always ends.
CopyList buildCopyList(const std::vector<std::string>& sources);

// The path of the copy that the engine makes of item below outputFolder.
std::string destinationFor(const CopyItem& item, const std::string& outputFolder);

}  // namespace tessaly::cli
