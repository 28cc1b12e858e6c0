#include "engine/source_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tessaly {

SourceReader::SourceReader(FileSystem& fs, std::uint32_t pageBytes)
    : m_fs(&fs), m_pageBytes(pageBytes == 0 ? 4096 : pageBytes)
{
}

SourceReader::~SourceReader()
{
    close();
}

std::uint32_t SourceReader::fitChunk(std::uint32_t pageBytes, std::uint32_t sectorBytes,
                                     std::uint64_t fileSize)
{
    std::uint64_t chunk = std::uint64_t{pageBytes} * 30;
    while (chunk > kMaxChunk && chunk > pageBytes) chunk -= pageBytes;
    chunk = std::min<std::uint64_t>(chunk, kMaxChunk);
    if (fileSize / 10 < chunk) chunk = fileSize / 10;
    chunk -= chunk % sectorBytes;
    if (chunk < sectorBytes) chunk = sectorBytes;
    return static_cast<std::uint32_t>(chunk);
}

bool SourceReader::open(const std::string& path, const VolumeInfo* known)
{
    close();
    SysError error = 0;
    std::unique_ptr<File> file = m_fs->openUnbuffered(path, &error);
    if (!file) {
        m_lastError = error != 0 ? error : ENOENT;
        return false;
    }
    const std::int64_t size = file->size();
    const std::optional<VolumeInfo> volume = known ? *known : m_fs->volumeInfo(path);
    // Without a sector size no read could be aligned, so the open fails.
    if (size < 0 || !volume || volume->bytesPerSector == 0) {
        m_lastError = EIO;
        return false;
    }
    m_fileSize = static_cast<std::uint64_t>(size);
    m_bytesPerSector = volume->bytesPerSector;
    m_driveType = volume->driveType;
    m_chunkSize = fitChunk(m_pageBytes, m_bytesPerSector, m_fileSize);
    m_sectorsPerChunk = m_chunkSize / m_bytesPerSector;
    // The buffer of the previous file serves this one when it is large enough: reads
    // never ask for more than the chunk. A buffer that cannot be had makes every read
    // fail, like an unreadable sector.
    if (m_buffer.size() < m_chunkSize) m_buffer = LockedBuffer(m_chunkSize);
    m_file = std::move(file);
    m_path = path;
    m_lastError = 0;
    return true;
}

std::uint32_t SourceReader::read(void* target, std::uint32_t n)
{
    if (!m_file) {
        m_lastError = EBADF;
        return 0;
    }
    if (!m_buffer) {
        m_lastError = ENOMEM;
        return 0;
    }
    n = std::min(n, m_chunkSize);
    const std::int64_t offset = m_file->offset();
    const auto skew = static_cast<std::uint32_t>(offset % m_bytesPerSector);
    if (skew != 0) return readUnaligned(target, n, offset, skew);
    const IoResult result = m_file->read(m_buffer.data(), n);
    m_lastError = result.error;
    if (result.bytes == 0) return 0;
    std::memcpy(target, m_buffer.data(), result.bytes);
    return static_cast<std::uint32_t>(result.bytes);
}

// Unbuffered reads must start on a sector. A copy resumed behind a destination of
// odd size starts inside one, so the whole sector is read and the part from the
// pointer on is handed out; the next read is aligned again.
std::uint32_t SourceReader::readUnaligned(void* target, std::uint32_t n, std::int64_t offset,
                                          std::uint32_t skew)
{
    n = std::min(n, m_chunkSize - skew);
    const std::uint32_t span =
        (skew + n + m_bytesPerSector - 1) / m_bytesPerSector * m_bytesPerSector;
    m_file->seek(offset - skew, Whence::Begin);
    const IoResult result = m_file->read(m_buffer.data(), span);
    m_lastError = result.error;
    if (result.bytes <= skew) {
        m_file->seek(offset, Whence::Begin);
        return 0;
    }
    const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(result.bytes - skew, n));
    std::memcpy(target, m_buffer.data() + skew, count);
    m_file->seek(offset + count, Whence::Begin);
    return count;
}

std::int64_t SourceReader::seek(std::int64_t distance, Whence whence)
{
    return m_file ? m_file->seek(distance, whence) : -1;
}

std::int64_t SourceReader::currentOffset() const
{
    return m_file ? m_file->offset() : -1;
}

void SourceReader::close()
{
    m_file.reset();  // the buffer stays for the next file
}

std::optional<FileIdentity> SourceReader::identity() const
{
    if (!m_file) return std::nullopt;
    return m_file->identity();
}

std::uint64_t SourceReader::modifiedNs() const
{
    return m_file ? m_file->modifiedNs() : 0;
}

}  // namespace tessaly
