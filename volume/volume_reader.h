#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/source_reader.h"
#include "platform/file_system.h"
#include "volume/region_set.h"

namespace tessaly {

// Reads an image file or a whole device past the system's cache, through the engine's
// reader, in whole sectors. Two kinds of reads: the file system library's own reads of
// metadata, which always give bytes (a sector that stays unreadable, or that the image's
// log lists as unread, reads as zeros and is noted), and reads of a file's data, which
// fail where the medium or the log says the bytes are not there, so that a copy fills
// and logs exactly those. Not thread safe; the volume serialises its readers.
class VolumeReader
{
public:
    // Attempts per sector of a metadata read before it counts as unreadable.
    static constexpr int kMetadataAttempts = 2;

    explicit VolumeReader(FileSystem& fs) : m_reader(fs) {}

    // False when path cannot be opened; the reason in *error.
    bool open(const std::string& path, SysError* error);
    std::uint64_t size() const { return m_reader.fileSize(); }
    std::uint32_t sectorSize() const { return m_reader.bytesPerSector(); }
    // The regions the image's log lists as not read from the medium.
    void setUnreadable(RegionSet regions) { m_unreadable = std::move(regions); }
    const RegionSet& unreadable() const { return m_unreadable; }

    // Reads up to len bytes at offset for the file system library, and returns how many
    // it gave: fewer before a sector that stays unreadable (or that the log lists as
    // unread), so that the library asks again from there. When the first sector asked
    // for is such a sector, it is given as zeros and noted. 0 at the end of the volume.
    std::size_t readMetadata(std::uint64_t offset, char* buffer, std::size_t len);
    // Reads up to len bytes at offset: fewer where an unreadable region of the log
    // begins, {0, EIO} when offset lies in one, {0, errno} when the medium fails,
    // {0, 0} at the end of the volume.
    IoResult readData(std::uint64_t offset, void* buffer, std::size_t len);

    // The sectors metadata reads have given as zeros.
    const RegionSet& zeroedMetadata() const { return m_zeroed; }
    // Counts every metadata sector given as zeros (again each time it is asked for), so
    // that a caller can tell whether an operation met one.
    std::uint64_t zeroedReads() const { return m_zeroedReads; }
    // Whether a metadata read has met a sector that stays unreadable (or that the log
    // lists as unread), given as zeros or cut short before it.
    bool metUnreadable() const { return m_metUnreadable; }

private:
    // Reads [offset, offset + len) exactly; both whole sectors, len at most a chunk.
    bool readAligned(std::uint64_t offset, char* buffer, std::size_t len);
    // One sector, tried kMetadataAttempts times; false when it is unreadable.
    bool readMetadataSector(std::uint64_t offset, char* buffer);

    SourceReader m_reader;
    RegionSet m_unreadable;
    RegionSet m_zeroed;
    std::uint64_t m_zeroedReads = 0;
    bool m_metUnreadable = false;
};

}  // namespace tessaly
