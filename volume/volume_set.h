#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "volume/volume_file_system.h"

namespace tessaly {

// An image or a device opened as a volume, with its file system below its own path.
struct OpenedVolume
{
    std::unique_ptr<Volume> volume;
    std::unique_ptr<VolumeFileSystem> files;
    std::string base;  // the root with a trailing '/': the base folder of its files' copies
};

// The volumes whose files a copy list holds, over base, as one file system: a path below
// the path of an opened image or device ("/home/u/sdb.img/docs/a.txt") is the path of a
// file inside that volume, every other path is base's (the image or device itself among
// them). A volume stays open while anything holds it: the list's lines from it (their base
// folder shares its ownership, see baseOf), and each file opened in it. Thread safe.
class VolumeSet : public FileSystem
{
public:
    explicit VolumeSet(FileSystem& base);

    // Opens the image or device at path (absolute) with the log beside it, as
    // openVolumeWithLog does. Its path leads into this volume from now on, also when a
    // volume of that path was opened before. nullptr with the reason in *error.
    std::shared_ptr<OpenedVolume> open(const std::string& path, std::string* error);
    // The base folder for lines of opened: its base, owning opened.
    static std::shared_ptr<const std::string> baseOf(const std::shared_ptr<OpenedVolume>& opened);

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
    std::optional<std::string> volumeSerial(const std::string& path) override;
    std::optional<SourcePlace> sourcePlace(const std::string& path) override;
    std::unique_ptr<HeldFolder> openFolder(const std::string& path) override;

private:
    // The open volume that path lies below, the latest opened first; null when none.
    std::shared_ptr<OpenedVolume> find(const std::string& path) const;
    // Calls call with the file system that holds path, keeping its volume open meanwhile.
    template <typename Call>
    auto route(const std::string& path, Call&& call);

    FileSystem& m_base;
    mutable std::mutex m_mutex;
    mutable std::vector<std::weak_ptr<OpenedVolume>> m_opened;  // latest last
};

}  // namespace tessaly
