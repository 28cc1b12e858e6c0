#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "volume/volume.h"

namespace tessaly {

// The files of a volume as a read-only folder tree at root (the image's or device's own
// path, absolute), every other path passed on to base: so the engine and the copy run
// copy files out of an image as from a mounted folder, and write their copies through
// base. With several file systems, root holds one folder per part ("p1", "p2", ...).
// A file's bytes are read from the volume through its runs: bytes the image's log lists
// as unread, and bytes the file system no longer locates, fail to read (EIO), so that a
// copy fills and logs exactly those.
class VolumeFileSystem : public FileSystem
{
public:
    VolumeFileSystem(FileSystem& base, Volume& volume, std::string root);

    const std::string& root() const { return m_root; }
    // The path at which this file system shows the path inside the volume, "." and ".."
    // resolved by name and never above the root.
    std::string pathOf(const std::string& inside) const;
    // The entries that listings met but could not give (their metadata unreadable, or
    // not to be trusted), each with the reason, since the last call.
    std::vector<std::pair<std::string, std::string>> takeUnlisted();

    std::unique_ptr<File> openUnbuffered(const std::string& path, SysError* error) override;
    std::unique_ptr<File> open(const std::string& path, Disposition disposition, Access access,
                               SysError* error) override;
    bool exists(const std::string& path) override;
    bool isDirectory(const std::string& path) override;
    bool isSymlink(const std::string& path) override;
    bool createDirectory(const std::string& path) override;
    bool removeFile(const std::string& path) override;
    bool rename(const std::string& from, const std::string& to) override;
    bool syncFolder(const std::string& path) override;
    std::optional<std::uint64_t> freeSpace(const std::string& path) override;
    std::optional<VolumeInfo> volumeInfo(const std::string& path) override;
    std::optional<FileIdentity> identity(const std::string& path) override;
    bool listFolder(const std::string& path, std::vector<FolderEntry>* entries) override;
    std::optional<std::uint64_t> fileSize(const std::string& path) override;
    bool isBlockDevice(const std::string& path) override;
    std::optional<std::uint64_t> maxFileSize(const std::string& path) override;
    std::optional<std::string> canonicalPath(const std::string& path) override;

private:
    // Where a path below root leads: the folder of the parts, or a path inside a part.
    struct Place
    {
        bool partsFolder = false;
        std::size_t part = 0;
        std::string inner;  // from "/"
    };
    // nullopt when path does not lie at or below root (it belongs to base).
    std::optional<Place> placeOf(const std::string& path) const;
    // The entry a place names; nullopt when there is none (or the folder of the parts).
    std::optional<VolumeFileInfo> infoOf(const Place& place);
    std::unique_ptr<File> openFile(const Place& place, SysError* error);

    FileSystem& m_base;
    Volume& m_volume;
    std::string m_root;
    std::vector<std::pair<std::string, std::string>> m_unlisted;  // path, reason
};

}  // namespace tessaly
