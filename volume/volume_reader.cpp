#include "volume/volume_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tessaly {

bool VolumeReader::open(const std::string& path, SysError* error)
{
    if (m_reader.open(path)) return true;
    *error = m_reader.lastError();
    return false;
}

bool VolumeReader::readAligned(std::uint64_t offset, char* buffer, std::size_t len)
{
    if (m_reader.seek(static_cast<std::int64_t>(offset), Whence::Begin) < 0) return false;
    std::size_t done = 0;
    while (done < len) {
        const std::uint32_t got =
            m_reader.read(buffer + done, static_cast<std::uint32_t>(len - done));
        if (got == 0) break;
        done += got;
    }
    // The last sector of an image whose size is not whole sectors reads short.
    if (done < len && offset + done == size()) {
        std::memset(buffer + done, 0, len - done);
        return true;
    }
    return done == len;
}

bool VolumeReader::readMetadataSector(std::uint64_t offset, char* buffer)
{
    const std::uint32_t sector = sectorSize();
    if (m_zeroed.overlap(offset, sector) != 0 || m_unreadable.overlap(offset, sector) != 0) {
        return false;
    }
    for (int attempt = 0; attempt < kMetadataAttempts; ++attempt) {
        if (readAligned(offset, buffer, sector)) return true;
    }
    return false;
}

std::size_t VolumeReader::readMetadata(std::uint64_t offset, char* buffer, std::size_t len)
{
    const std::uint32_t sector = sectorSize();
    if (sector == 0 || offset >= size()) return 0;
    const std::uint64_t end = offset + std::min<std::uint64_t>(len, size() - offset);
    const std::uint64_t first = offset - offset % sector;
    const std::uint32_t chunk = m_reader.chunkSize();
    std::vector<char> window(chunk);
    for (std::uint64_t at = first; at < end;) {
        const std::size_t span = static_cast<std::size_t>(
            std::min<std::uint64_t>(chunk, (end - at + sector - 1) / sector * sector));
        const bool clean = m_unreadable.overlap(at, span) == 0 && m_zeroed.overlap(at, span) == 0;
        std::size_t good = span;
        if (!clean || !readAligned(at, window.data(), span)) {
            good = 0;
            while (good < span && readMetadataSector(at + good, window.data() + good)) good += sector;
        }
        if (good < span && at + good == first) {
            // The first sector asked for cannot be read: it is given as zeros, alone, so
            // that only the read that needs it learns so.
            std::memset(window.data(), 0, sector);
            m_zeroed.add(first, sector);
            ++m_zeroedReads;
            good = sector;
        }
        m_metUnreadable = m_metUnreadable || good < span;
        const std::uint64_t from = std::max(at, offset);
        const std::uint64_t to = std::min<std::uint64_t>(at + good, end);
        if (to > from) std::memcpy(buffer + (from - offset), window.data() + (from - at), to - from);
        if (good < span) return static_cast<std::size_t>(to > offset ? to - offset : 0);
        at += span;
    }
    return static_cast<std::size_t>(end - offset);
}

IoResult VolumeReader::readData(std::uint64_t offset, void* buffer, std::size_t len)
{
    const std::uint32_t sector = sectorSize();
    if (offset >= size() || len == 0 || sector == 0) return {0, 0};
    if (m_unreadable.contains(offset)) return {0, EIO};
    std::uint64_t end = std::min<std::uint64_t>(size(), offset + len);
    if (const auto next = m_unreadable.nextStart(offset)) end = std::min(end, *next);
    const std::uint64_t first = offset - offset % sector;
    const std::uint64_t span = std::min<std::uint64_t>(
        m_reader.chunkSize(), (end - first + sector - 1) / sector * sector);
    std::vector<char> window(static_cast<std::size_t>(span));
    if (!readAligned(first, window.data(), window.size())) {
        const SysError error = m_reader.lastError();
        return {0, error != 0 ? error : EIO};
    }
    const std::size_t bytes =
        static_cast<std::size_t>(std::min<std::uint64_t>(end, first + span) - offset);
    std::memcpy(buffer, window.data() + (offset - first), bytes);
    return {bytes, 0};
}

}  // namespace tessaly
