#pragma once

#include "platform/file_system.h"

namespace tessaly {

class PosixFileSystem : public FileSystem
{
public:
    struct Options
    {
        // Behave as if every file system refused O_DIRECT, to exercise the fallback
        // that drops cached pages after each read (some FUSE and network file
        // systems refuse it; this kernel's tmpfs does not).
        bool refuseDirectIo = false;
    };

    PosixFileSystem() = default;
    explicit PosixFileSystem(Options options) : m_options(options) {}

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
    Options m_options;
};

// True when the last unbuffered open of this file fell back to cached reads.
bool usesDirectIo(const File& file);

}  // namespace tessaly
