#pragma once

#include <optional>
#include <string>

namespace tessaly {

// One line of /proc/self/mountinfo, as far as the platform layer reads it.
struct MountEntry
{
    std::string device;      // "major:minor" of the mounted file system
    std::string mountPoint;  // with the kernel's octal escapes (\040 for a blank) kept
    std::string fsType;      // "vfat", "fuse.fusefat", "fuseblk", ...
    std::string source;      // the device, image or name the mount was made from
};

// The fields of a mountinfo line; nullopt when the line lacks the "-" separator or a
// field after it.
std::optional<MountEntry> parseMountInfoLine(const std::string& line);

// True when the mount is a FAT file system, which keeps a file's size in 32 bits: the
// kernel's drivers (vfat, msdos) and the FUSE drivers of FAT, whose type the kernel shows
// as fuse.SUBTYPE or fuseblk.SUBTYPE, or only as fuse or fuseblk with the driver's name
// as the source (fusefat, fatfs, dosfs, vfat, msdos, fat, fat12/16/32).
bool isFatMount(const MountEntry& mount);

}  // namespace tessaly
