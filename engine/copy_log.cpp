#include "engine/copy_log.h"

#include "engine/destination.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <vector>

namespace tessaly {
namespace {

constexpr std::array<std::uint8_t, 4> kMagic = {0x41, 0x43, 0x4C, 0x00};      // "ACL\0"
constexpr std::array<std::uint8_t, 4> kWideMagic = {0x41, 0x43, 0x36, 0x34};  // "AC64"

void putLe(std::uint8_t* out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t getLe(const std::uint8_t* in, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
    return value;
}

// The form whose magic the header starts with; nothing for any other start.
std::optional<LogForm> formOfMagic(const std::uint8_t* header)
{
    if (std::memcmp(header, kMagic.data(), kMagic.size()) == 0) return LogForm::Narrow;
    if (std::memcmp(header, kWideMagic.data(), kWideMagic.size()) == 0) return LogForm::Wide;
    return std::nullopt;
}

// Reads exactly n bytes or reports failure; PlainFile stops short only at the end.
bool readExact(PlainFile& file, void* buffer, std::size_t n)
{
    return file.read(buffer, n) == n;
}

}  // namespace

bool CopyLog::writeHeader(const std::string& name, std::int32_t fillType, LogForm form)
{
    if (!m_file) return false;
    m_form = form;
    // Header, name length and name in one write.
    std::vector<std::uint8_t> bytes(kHeaderSize + 2 + name.size(), 0);
    const auto& magic = form == LogForm::Wide ? kWideMagic : kMagic;
    std::memcpy(bytes.data(), magic.data(), magic.size());
    putLe(bytes.data() + 8, static_cast<std::uint32_t>(fillType), 4);
    const auto length = static_cast<std::uint16_t>(name.size());
    bytes[kHeaderSize] = static_cast<std::uint8_t>(length);
    bytes[kHeaderSize + 1] = static_cast<std::uint8_t>(length >> 8);
    std::memcpy(bytes.data() + kHeaderSize + 2, name.data(), name.size());
    return m_file->write(bytes.data(), bytes.size()) == bytes.size();
}

std::size_t CopyLog::appendRecord(std::uint64_t offset, std::uint64_t length)
{
    if (!m_file) return 0;
    const int half = static_cast<int>(recordSize() / 2);
    // A narrow record cut to 32 bits would send its fill elsewhere.
    if (m_form == LogForm::Narrow &&
        (offset > std::numeric_limits<std::uint32_t>::max() ||
         length > std::numeric_limits<std::uint32_t>::max())) {
        return 0;
    }
    std::uint8_t record[kWideRecordSize];
    putLe(record, offset, half);
    putLe(record + half, length, half);
    // A record written in part would shift every record after it, and a later end
    // record would make the log look sound.
    return m_file->writeWhole(record, recordSize()) ? recordSize() : 0;
}

std::int64_t CopyLog::readHeader()
{
    if (!m_file || m_file->seek(0, Whence::Begin) < 0) return -1;
    std::uint8_t header[kHeaderSize];
    if (!readExact(*m_file, header, sizeof header)) return -1;
    const std::optional<LogForm> form = formOfMagic(header);
    if (!form) return -1;
    m_form = *form;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(getLe(header + 8, 4)));
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
    const std::int64_t recordBytes = recordSize();
    if (name.empty() || size < records + recordBytes || (size - records) % recordBytes != 0)
        return -1;
    if (m_file->seek(size - recordBytes, Whence::Begin) < 0) return -1;
    std::uint8_t record[kWideRecordSize];
    if (!readExact(*m_file, record, recordSize())) return -1;
    const int half = static_cast<int>(recordSize() / 2);
    const std::uint64_t end = getLe(record, half);
    if (getLe(record + half, half) != 0 || end > static_cast<std::uint64_t>(INT64_MAX)) return -1;
    return static_cast<std::int64_t>(end);
}

void CopyLog::dropEndRecord()
{
    if (!m_file) return;
    const std::int64_t size = m_file->size();
    if (size >= recordSize()) m_file->truncateAt(static_cast<std::uint64_t>(size - recordSize()));
}

std::int64_t CopyLog::readRegions(std::vector<BadRegion>& regions)
{
    if (readName().empty()) return -1;
    std::int64_t sum = 0;
    const int half = static_cast<int>(recordSize() / 2);
    std::uint8_t record[kWideRecordSize];
    while (readExact(*m_file, record, recordSize())) {
        const BadRegion region{getLe(record, half), getLe(record + half, half)};
        // A crafted length would carry the sum past what any file can hold.
        if (region.length > static_cast<std::uint64_t>(INT64_MAX - sum)) return -1;
        regions.push_back(region);
        sum += static_cast<std::int64_t>(region.length);
    }
    return sum;
}

std::string CopyLog::readName(std::size_t maxLength)
{
    if (!m_file || m_file->seek(0, Whence::Begin) < 0) return {};
    // The magic tells the records' form; a header of neither form is read as narrow,
    // for callers that look at the name alone.
    std::uint8_t header[kHeaderSize];
    if (!readExact(*m_file, header, sizeof header)) return {};
    m_form = formOfMagic(header).value_or(LogForm::Narrow);
    std::uint8_t lengthBytes[2];
    if (!readExact(*m_file, lengthBytes, 2)) return {};
    const std::uint16_t length = static_cast<std::uint16_t>(lengthBytes[0] | (lengthBytes[1] << 8));
    if (length == 0 || length > maxLength) return {};
    std::string name(length, '\0');
    if (!readExact(*m_file, name.data(), length)) return {};
    return name;
}

namespace {

constexpr const char* kScratchPrefix = ".tessaly-";
constexpr const char* kScratchSuffix = ".log.tmp";
constexpr std::size_t kScratchDigits = 16;

// A name in the log's folder that no file holds now; the caller creates it exclusively.
std::string temporaryLogName(const std::string& logPath)
{
    thread_local std::mt19937_64 random{std::random_device{}()};
    char digits[kScratchDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(random()));
    return withSeparator(parentFolder(logPath)) + kScratchPrefix + digits + kScratchSuffix;
}

}  // namespace

bool isScratchLogName(const std::string& name)
{
    const std::string prefix = kScratchPrefix;
    const std::string suffix = kScratchSuffix;
    if (name.size() != prefix.size() + kScratchDigits + suffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(suffix)) {
        return false;
    }
    const std::string digits = name.substr(prefix.size(), kScratchDigits);
    return std::all_of(digits.begin(), digits.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
}

bool writeLogByRename(FileSystem& fs, const std::string& logPath, const std::string& name,
                      std::int32_t fillType, LogForm form, const std::vector<BadRegion>& records,
                      PlainFile* keep)
{
    constexpr int kTries = 16;
    PlainFile next(fs);
    std::string nextPath;
    for (int i = 0; i < kTries && !next.isOpen(); ++i) {
        nextPath = temporaryLogName(logPath);
        // Locked from its creation on, so that removeStaleScratchLogs of another run
        // leaves it alone; a name that run has locked first is its to remove.
        if (next.create(nextPath, Disposition::CreateNew, Access::Write) && !next.file()->tryLock())
            next.close();
    }
    if (!next.isOpen()) return false;
    CopyLog log;
    log.bind(&next);
    bool written = log.writeHeader(name, fillType, form);
    for (const BadRegion& r : records) {
        written = written && log.appendRecord(r.offset, r.length) == log.recordSize();
    }
    // Sync point: the new log reaches the medium before its name replaces the old one,
    // so that no moment leaves the log's name on a file that lists less; the rename
    // syncs the folder.
    if (!written || !next.sync() || !fs.rename(nextPath, logPath)) {
        next.close();
        fs.removeFile(nextPath);
        return false;
    }
    if (keep != nullptr) *keep = std::move(next);
    return true;
}

int removeStaleScratchLogs(FileSystem& fs, const std::string& folder)
{
    std::vector<FolderEntry> entries;
    fs.listFolder(folder, &entries);  // what could be read
    int removed = 0;
    for (const FolderEntry& entry : entries) {
        if (entry.kind != EntryKind::File || entry.link || !isScratchLogName(entry.name)) continue;
        const std::string path = withSeparator(folder) + entry.name;
        PlainFile scratch(fs);
        // Opened to be written, so never through a link put there since the listing; a
        // lock that cannot be taken (or told) may be a running writer's.
        if (!scratch.openExisting(path, Access::Write) || !scratch.file()->tryLockSeen()) continue;
        // Renamed into a log meanwhile, the name holds another file or none.
        if (fs.isSymlink(path) || fs.identity(path) != scratch.file()->identity()) continue;
        if (fs.removeFile(path)) ++removed;
    }
    return removed;
}

}  // namespace tessaly
