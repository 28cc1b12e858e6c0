#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/locked_buffer.h"

namespace tessaly {

// Reads one source file the way a damaged medium needs: past the system's cache,
// in whole sectors, through one page-aligned locked buffer whose size (the chunk)
// is fitted to the page size, the volume's sector size and the file's size.
class SourceReader
{
public:
    // Largest chunk a reader ever uses, in bytes.
    static constexpr std::uint32_t kMaxChunk = 102400;

    explicit SourceReader(FileSystem& fs = systemFileSystem(),
                          std::uint32_t pageBytes = pageSize());
    virtual ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    // Closes first. False when the file cannot be opened or its volume cannot
    // report a sector size; the reason is in lastError().
    // With volume, that is the volume of path, and the file system is not asked.
    bool open(const std::string& path, const VolumeInfo* volume = nullptr);
    // Reads up to n bytes (cut to the chunk size) at the file pointer into target.
    // Bytes read; 0 on failure (lastError() says why) and at the end of the file.
    std::uint32_t read(void* target, std::uint32_t n);
    // New offset from the start, or -1 when closed or the move would be negative.
    std::int64_t seek(std::int64_t distance, Whence whence);
    std::int64_t currentOffset() const;
    // Closes the file; the buffer stays for the next open.
    void close();
    bool isOpen() const { return m_file != nullptr; }

    // The chunk that open() uses for a file of fileSize bytes: 30 pages, cut to at
    // most kMaxChunk in whole pages, to at most a tenth of the file and to whole
    // sectors, but never less than one sector.
    static std::uint32_t fitChunk(std::uint32_t pageBytes, std::uint32_t sectorBytes,
                                  std::uint64_t fileSize);

    std::uint64_t fileSize() const { return m_fileSize; }
    std::uint32_t bytesPerSector() const { return m_bytesPerSector; }
    DriveType driveType() const { return m_driveType; }
    std::uint32_t chunkSize() const { return m_chunkSize; }
    std::uint32_t sectorsPerChunk() const { return m_sectorsPerChunk; }
    std::uint32_t pageBytes() const { return m_pageBytes; }
    // The path of the last successful open.
    const std::string& path() const { return m_path; }
    // errno of the last failed open or read; 0 after a read that reached the end.
    SysError lastError() const { return m_lastError; }
    std::optional<FileIdentity> identity() const;
    // The open file's last modification (File::modifiedNs); 0 when closed or unknown.
    std::uint64_t modifiedNs() const;

private:
    std::uint32_t readUnaligned(void* target, std::uint32_t n, std::int64_t offset,
                                std::uint32_t skew);

    FileSystem* m_fs;
    std::uint32_t m_pageBytes;
    std::unique_ptr<File> m_file;
    std::string m_path;
    std::uint64_t m_fileSize = 0;
    std::uint32_t m_bytesPerSector = 0;
    DriveType m_driveType = DriveType::Unknown;
    std::uint32_t m_chunkSize = 0;
    std::uint32_t m_sectorsPerChunk = 0;
    LockedBuffer m_buffer;  // lives exactly as long as m_file
    SysError m_lastError = 0;
};

}  // namespace tessaly
