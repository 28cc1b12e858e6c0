#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/file_system.h"
#include "run/file_entry.h"

namespace tessaly {

// A folder as a scan of it starts: resolved through links, and the base folder its
// files share, the mount point of its volume.
struct SourceFolder
{
    std::string resolved;
    std::shared_ptr<const std::string> base;
};
// Nothing when folder does not exist.
std::optional<SourceFolder> resolveSourceFolder(FileSystem& fs, const std::string& folder);

// True when path is folder or lies below it; both absolute and resolved.
bool isAtOrBelow(const std::string& path, const std::string& folder);

// The output folder as every scan leaves it out: absolute and resolved through links;
// empty when there is none.
std::string excludedOutputFolder(FileSystem& fs, const std::string& outputFolder);

struct CopyList
{
    std::vector<FileEntry> entries;
    std::uint64_t totalSize = 0;
    // Folders that could not be read while scanning; their files are missing from entries.
    std::vector<std::string> unreadableFolders;
    // Folders named as sources that gave no file because the output folder is the
    // folder itself or lies below it: a run never copies its own copies.
    std::vector<std::string> foldersHoldingOutput;
};

// Builds a list from sources named by the user, in their order. A folder gives
// every file below it, depth first in the order the file system lists them, with
// the mount point of its volume as base folder; a file (or a path that does not
// exist, which the engine then reports) gives itself with an empty base folder.
// Paths are made absolute and folders are resolved through links. A file that
// comes twice with the same base folder is listed once. The output folder is left
// out of every scan, so that a run never copies its own copies.
class CopyListBuilder
{
public:
    CopyListBuilder(FileSystem& fs, const std::string& outputFolder, const std::atomic<bool>& stop);

    void addSource(const std::string& source);
    // Adds one file under baseFolder unless it is listed under it already.
    void addFile(std::string path, const std::shared_ptr<const std::string>& baseFolder,
                 std::uint64_t size);
    CopyList take() { return std::move(m_list); }

private:
    void addFolder(const std::string& folder);

    FileSystem& m_fs;
    std::string m_excluded;
    const std::atomic<bool>& m_stop;
    std::shared_ptr<const std::string> m_noBase;
    CopyList m_list;
    std::unordered_set<std::string> m_listed;  // base folder, a NUL, the source path
};

CopyList buildCopyList(FileSystem& fs, const std::vector<std::string>& sources,
                       const std::string& outputFolder, const std::atomic<bool>& stop);

}  // namespace tessaly
