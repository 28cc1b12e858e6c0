#include "engine/plain_file.h"

#include <cerrno>

namespace tessaly {

bool PlainFile::openExisting(const std::string& path, Access access)
{
    return create(path, Disposition::OpenExisting, access);
}

bool PlainFile::create(const std::string& path, Disposition disposition, Access access)
{
    close();
    m_path = path;
    m_file = m_fs->open(path, disposition, access, &m_lastError);
    return m_file != nullptr;
}

bool PlainFile::close()
{
    if (!m_file) return false;
    m_file.reset();
    return true;
}

std::size_t PlainFile::read(void* buffer, std::size_t n)
{
    if (!m_file) {
        m_lastError = EBADF;
        return 0;
    }
    const IoResult r = m_file->read(buffer, n);
    m_lastError = r.error;
    return r.bytes;
}

std::size_t PlainFile::write(const void* buffer, std::size_t n)
{
    if (!m_file) {
        m_lastError = EBADF;
        return 0;
    }
    const IoResult r = m_file->write(buffer, n);
    m_lastError = r.error;
    return r.bytes;
}

bool PlainFile::writeWhole(const void* buffer, std::size_t n)
{
    const std::int64_t before = seek(0, Whence::Current);
    const std::size_t written = write(buffer, n);
    if (written == n) return true;
    if (written > 0 && before >= 0) truncateAt(static_cast<std::uint64_t>(before));
    return false;
}

std::int64_t PlainFile::size()
{
    return m_file ? m_file->size() : -1;
}

bool PlainFile::truncateAt(std::uint64_t offset)
{
    if (!m_file) return false;
    m_file->seek(static_cast<std::int64_t>(offset), Whence::Begin);
    return m_file->truncate(offset);
}

std::int64_t PlainFile::seek(std::int64_t distance, Whence whence)
{
    return m_file ? m_file->seek(distance, whence) : -1;
}

}  // namespace tessaly
