#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "volume/volume_file_system.h"

namespace tessaly {

// Why an entry of a volume's tree cannot be picked.
enum class TreeProblem : std::int32_t
{
    None = 0,
    NotListed = 1,   // its metadata (or its partition's file system) cannot be read: see reason
    LeadsAbove = 2,  // a folder that is one of the folders above it (a damaged folder's loop)
};

// One entry of the tree of a volume's partitions, folders and files that the user picks
// files from.
struct VolumeTreeEntry
{
    std::string name;  // a file's or folder's name; at the top "/" or "/p1", "/p2", ...
    std::string path;  // in the volume's file system: its root, then the path inside
    bool folder = false;
    std::uint64_t size = 0;  // of a file
    TreeProblem problem = TreeProblem::None;
    std::string reason;  // the volume's words, with NotListed
    bool operator==(const VolumeTreeEntry&) const = default;
};

struct VolumeTreeFolder
{
    std::vector<VolumeTreeEntry> entries;
    bool readable = true;  // false: the folder cannot be read at all, and holds no entries
    bool complete = true;  // false: some of its entries may be missing
};

// The top of the tree: the root of the volume's only file system, or one folder per
// partition as the file list names them, with each partition whose file system could not
// be opened after them.
std::vector<VolumeTreeEntry> volumeTreeTop(const Volume& volume, const VolumeFileSystem& files);

// The entries of the folder at path of files: its folders, then its files, each in the
// order of their names, then the entries the listing met but could not give. Other
// entries (links, devices) are left out, as a scan of the folder leaves them out.
VolumeTreeFolder listVolumeTreeFolder(VolumeFileSystem& files, const std::string& path);

}  // namespace tessaly
