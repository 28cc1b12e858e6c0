#include "platform/locked_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace tessaly {

std::uint32_t pageSize()
{
    static const std::uint32_t size = [] {
        const long value = ::sysconf(_SC_PAGESIZE);
        return value > 0 ? static_cast<std::uint32_t>(value) : 4096u;
    }();
    return size;
}

LockedBuffer::LockedBuffer(std::size_t size)
{
    if (size == 0) return;
    const std::size_t page = pageSize();
    const std::size_t rounded = (size + page - 1) / page * page;
    void* memory = nullptr;
    if (::posix_memalign(&memory, page, rounded) != 0) return;
    std::memset(memory, 0, rounded);
    m_data = static_cast<std::uint8_t*>(memory);
    m_size = size;
    m_locked = ::mlock(m_data, rounded) == 0;
}

LockedBuffer::~LockedBuffer()
{
    release();
}

LockedBuffer::LockedBuffer(LockedBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_locked(std::exchange(other.m_locked, false))
{
}

LockedBuffer& LockedBuffer::operator=(LockedBuffer&& other) noexcept
{
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_locked = std::exchange(other.m_locked, false);
    }
    return *this;
}

void LockedBuffer::release()
{
    if (!m_data) return;
    if (m_locked) {
        const std::size_t page = pageSize();
        ::munlock(m_data, (m_size + page - 1) / page * page);
    }
    std::free(m_data);
    m_data = nullptr;
    m_size = 0;
    m_locked = false;
}

}  // namespace tessaly
