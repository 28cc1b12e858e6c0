#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_system.h"

namespace tessaly {

// One open file with the path it was opened with; used for destinations, logs and
// the companion tool's data and transfer files. Offsets are 64-bit.
class PlainFile
{
public:
    explicit PlainFile(FileSystem& fs = systemFileSystem()) : m_fs(&fs) {}
    virtual ~PlainFile() = default;
    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;
    PlainFile(PlainFile&&) = default;
    PlainFile& operator=(PlainFile&&) = default;

    // Closes first and keeps the path even when the open fails.
    bool openExisting(const std::string& path, Access access);
    bool create(const std::string& path, Disposition disposition, Access access);
    // True when a file was closed, false when none was open.
    bool close();
    bool isOpen() const { return m_file != nullptr; }

    // Bytes read at the file pointer, 0 on failure or at the end of the file.
    std::size_t read(void* buffer, std::size_t n);
    // Bytes written at the file pointer, 0 on failure; a short write counts as success.
    std::size_t write(const void* buffer, std::size_t n);
    // Writes all n bytes or nothing: a write that stops short (a full disk) is cut off
    // again, so that the file still ends where it did and no later byte lands shifted.
    bool writeWhole(const void* buffer, std::size_t n);
    // Size in bytes, -1 when unknown or closed.
    std::int64_t size();
    // Moves the file pointer to offset and sets the end of the file there.
    bool truncateAt(std::uint64_t offset);
    // Puts what was written on the medium; false when it failed or nothing is open.
    bool sync() { return m_file && m_file->sync(); }
    // New offset from the start, -1 on failure.
    std::int64_t seek(std::int64_t distance, Whence whence);
    std::int64_t offset() const { return m_file ? m_file->offset() : -1; }

    const std::string& path() const { return m_path; }
    // errno of the last failed open, read or write.
    SysError lastError() const { return m_lastError; }
    File* file() const { return m_file.get(); }
    FileSystem& fileSystem() const { return *m_fs; }

private:
    FileSystem* m_fs;
    std::unique_ptr<File> m_file;
    std::string m_path;
    SysError m_lastError = 0;
};

}  // namespace tessaly
