#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly {

// The system's memory page size in bytes.
std::uint32_t pageSize();

// A page-aligned block, locked in physical memory where the system allows it
// (a refused lock is ignored), as unbuffered reads need. Empty when the
// allocation failed: data() is then nullptr and size() 0.
class LockedBuffer
{
public:
    LockedBuffer() = default;
    explicit LockedBuffer(std::size_t size);
    ~LockedBuffer();
    LockedBuffer(LockedBuffer&& other) noexcept;
    LockedBuffer& operator=(LockedBuffer&& other) noexcept;
    LockedBuffer(const LockedBuffer&) = delete;
    LockedBuffer& operator=(const LockedBuffer&) = delete;

    std::uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    explicit operator bool() const { return m_data != nullptr; }

private:
    void release();

    std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_locked = false;
};

}  // namespace tessaly
