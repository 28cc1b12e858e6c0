#include "platform/mount_info.h"

#include <array>
#include <sstream>
#include <string_view>

namespace tessaly {

namespace {

// A FAT driver's name, whether as the kernel's type or as a FUSE subtype or source.
bool isFatName(std::string_view name)
{
    constexpr std::array<std::string_view, 9> kNames = {
        "vfat", "msdos", "fat", "fat12", "fat16", "fat32", "fusefat", "fatfs", "dosfs"};
    for (const std::string_view n : kNames) {
        if (name == n) return true;
    }
    return false;
}

}  // namespace

std::optional<MountEntry> parseMountInfoLine(const std::string& line)
{
    // id parent major:minor root mount-point options [optional fields...] - type source super-options
    std::istringstream fields(line);
    std::string id, parent, root, options;
    MountEntry entry;
    if (!(fields >> id >> parent >> entry.device >> root >> entry.mountPoint >> options)) {
        return std::nullopt;
    }
    std::string word;
    while (fields >> word && word != "-") {
    }
    if (word != "-" || !(fields >> entry.fsType >> entry.source)) return std::nullopt;
    return entry;
}

bool isFatMount(const MountEntry& mount)
{
    const std::string_view type = mount.fsType;
    if (isFatName(type)) return true;
    for (const std::string_view fuse : {std::string_view("fuse"), std::string_view("fuseblk")}) {
        if (type == fuse) return isFatName(mount.source);
        if (type.size() > fuse.size() + 1 && type.starts_with(fuse) && type[fuse.size()] == '.') {
            return isFatName(type.substr(fuse.size() + 1));
        }
    }
    return false;
}

}  // namespace tessaly
