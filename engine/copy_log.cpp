#include "engine/copy_log.h"

#include "engine/destination.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace tessaly {
namespace {

constexpr std::array<std::uint8_t, 4> kMagic = {0x41, 0x43, 0x4C, 0x00};

void putLe32(std::uint8_t* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t getLe32(const std::uint8_t* in)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | in[i];
    return value;
}

// Reads exactly n bytes or reports failure; PlainFile stops short only at the end.
bool readExact(PlainFile& file, void* buffer, std::size_t n)
{
    return file.read(buffer, n) == n;
}

}  // namespace

bool CopyLog::writeHeader(const std::string& name, std::int32_t fillType)
{
    if (!m_file) return false;
    // Header, name length and name in one write.
    std::vector<std::uint8_t> bytes(kHeaderSize + 2 + name.size(), 0);
    std::memcpy(bytes.data(), kMagic.data(), kMagic.size());
    putLe32(bytes.data() + 8, static_cast<std::uint32_t>(fillType));
    const auto length = static_cast<std::uint16_t>(name.size());
    bytes[kHeaderSize] = static_cast<std::uint8_t>(length);
    bytes[kHeaderSize + 1] = static_cast<std::uint8_t>(length >> 8);
    std::memcpy(bytes.data() + kHeaderSize + 2, name.data(), name.size());
    return m_file->write(bytes.data(), bytes.size()) == bytes.size();
}

std::size_t CopyLog::appendRecord(std::uint32_t offset, std::uint32_t length)
{
    if (!m_file) return 0;
    std::uint8_t record[kRecordSize];
    putLe32(record, offset);
    putLe32(record + 4, length);
    // A record written in part would shift every record after it, and a later end
    // record would make the log look sound.
    return m_file->writeWhole(record, sizeof record) ? sizeof record : 0;
}

std::int64_t CopyLog::readHeader()
{
    if (!m_file || m_file->seek(0, Whence::Begin) < 0) return -1;
    std::uint8_t header[kHeaderSize];
    if (!readExact(*m_file, header, sizeof header)) return -1;
    if (std::memcmp(header, kMagic.data(), kMagic.size()) != 0) return -1;
    return static_cast<std::int32_t>(getLe32(header + 8));
}

std::int64_t CopyLog::readEndPosition()
{
    if (!m_file) return -1;
    // Only a whole record after the name can be the end record: trailing bytes of a
    // record written in part, or a name that does not fit the file, would make any
    // 8 bytes look like one.
    const std::string name = readName();
    const std::int64_t records = kHeaderSize + 2 + static_cast<std::int64_t>(name.size());
    const std::int64_t size = m_file->size();
    if (name.empty() || size < records + kRecordSize || (size - records) % kRecordSize != 0)
        return -1;
    if (m_file->seek(size - kRecordSize, Whence::Begin) < 0) return -1;
    std::uint8_t record[kRecordSize];
    if (!readExact(*m_file, record, sizeof record)) return -1;
    if (getLe32(record + 4) != 0) return -1;
    return getLe32(record);
}

void CopyLog::dropEndRecord()
{
    if (!m_file) return;
    const std::int64_t size = m_file->size();
    if (size >= kRecordSize) m_file->truncateAt(static_cast<std::uint64_t>(size - kRecordSize));
}

std::int64_t CopyLog::readRegions(std::vector<BadRegion>& regions)
{
    if (readName().empty()) return -1;
    std::int64_t sum = 0;
    std::uint8_t record[kRecordSize];
    while (readExact(*m_file, record, sizeof record)) {
        const BadRegion region{getLe32(record), getLe32(record + 4)};
        regions.push_back(region);
        sum += region.length;
    }
    return sum;
}

std::string CopyLog::readName(std::size_t maxLength)
{
    if (!m_file || m_file->seek(kHeaderSize, Whence::Begin) < 0) return {};
    std::uint8_t lengthBytes[2];
    if (!readExact(*m_file, lengthBytes, 2)) return {};
    const std::uint16_t length = static_cast<std::uint16_t>(lengthBytes[0] | (lengthBytes[1] << 8));
    if (length == 0 || length > maxLength) return {};
    std::string name(length, '\0');
    if (!readExact(*m_file, name.data(), length)) return {};
    return name;
}

namespace {

// A name in the log's folder that no file holds now; the caller creates it exclusively.
std::string temporaryLogName(const std::string& logPath)
{
    thread_local std::mt19937_64 random{std::random_device{}()};
    const std::size_t slash = logPath.find_last_of(kPathSeparator);
    const std::string folder = slash == std::string::npos ? std::string() : logPath.substr(0, slash + 1);
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    return folder + ".tessaly-" + suffix + ".log.tmp";
}

}  // namespace

bool writeLogByRename(FileSystem& fs, const std::string& logPath, const std::string& name,
                      std::int32_t fillType, const std::vector<BadRegion>& records,
                      PlainFile* keep)
{
    constexpr int kTries = 16;
    PlainFile next(fs);
    std::string nextPath;
    for (int i = 0; i < kTries && !next.isOpen(); ++i) {
        nextPath = temporaryLogName(logPath);
        next.create(nextPath, Disposition::CreateNew, Access::Write);
    }
    if (!next.isOpen()) return false;
    next.file()->tryLock();
    CopyLog log;
    log.bind(&next);
    bool written = log.writeHeader(name, fillType);
    for (const BadRegion& r : records) {
        written = written && log.appendRecord(r.offset, r.length) == CopyLog::kRecordSize;
    }
    // The new log reaches the medium before its name replaces the old one, so that no
    // moment leaves the log's name on a file that lists less.
    if (!written || !next.sync() || !fs.rename(nextPath, logPath)) {
        next.close();
        fs.removeFile(nextPath);
        return false;
    }
    if (keep != nullptr) *keep = std::move(next);
    return true;
}

}  // namespace tessaly
