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

// The annotations as the words of a block: per annotation kind | n << 16, then its n words.
std::vector<std::uint32_t> annotationWords(const std::vector<LogAnnotation>& annotations)
{
    std::vector<std::uint32_t> words;
    for (const LogAnnotation& a : annotations) {
        words.push_back(a.kind | static_cast<std::uint32_t>(a.words.size()) << 16);
        words.insert(words.end(), a.words.begin(), a.words.end());
    }
    return words;
}

// The annotations of a block's words; nullopt when an annotation passes the block's end.
std::optional<std::vector<LogAnnotation>> parseAnnotations(const std::vector<std::uint32_t>& words)
{
    std::vector<LogAnnotation> annotations;
    for (std::size_t i = 0; i < words.size();) {
        const std::size_t n = words[i] >> 16;
        if (n > words.size() - i - 1) return std::nullopt;
        annotations.push_back({static_cast<std::uint16_t>(words[i] & 0xFFFF),
                               {words.begin() + static_cast<std::ptrdiff_t>(i + 1),
                                words.begin() + static_cast<std::ptrdiff_t>(i + 1 + n)}});
        i += n + 1;
    }
    return annotations;
}

void putWords(std::vector<std::uint32_t>& words, std::uint64_t value)
{
    words.push_back(static_cast<std::uint32_t>(value));
    words.push_back(static_cast<std::uint32_t>(value >> 32));
}

std::uint64_t wordsAt(const std::vector<std::uint32_t>& words, std::size_t i)
{
    return words[i] | std::uint64_t{words[i + 1]} << 32;
}

// The words of the first annotation of kind that has at least n of them.
const std::vector<std::uint32_t>* wordsOf(const std::vector<LogAnnotation>& annotations,
                                          AnnotationKind kind, std::size_t n)
{
    for (const LogAnnotation& a : annotations) {
        if (a.kind == static_cast<std::uint16_t>(kind) && a.words.size() >= n) return &a.words;
    }
    return nullptr;
}

}  // namespace

LogAnnotation sourceAnnotation(const SourceStamp& stamp)
{
    LogAnnotation a{static_cast<std::uint16_t>(AnnotationKind::Source), {}};
    putWords(a.words, stamp.size);
    putWords(a.words, stamp.modifiedNs);
    putWords(a.words, stamp.volume);
    return a;
}

LogAnnotation appendBaseAnnotation(std::uint64_t base)
{
    LogAnnotation a{static_cast<std::uint16_t>(AnnotationKind::AppendBase), {}};
    putWords(a.words, base);
    return a;
}

LogAnnotation passAnnotation(const PassPoint& point)
{
    LogAnnotation a{static_cast<std::uint16_t>(AnnotationKind::PassReached),
                    {point.pass, point.passes}};
    putWords(a.words, point.offset);
    return a;
}

LogAnnotation phaseAnnotation(const PhasePoint& point)
{
    LogAnnotation a{static_cast<std::uint16_t>(AnnotationKind::NotTried), {point.phase}};
    putWords(a.words, point.boundary);
    putWords(a.words, point.cursor);
    return a;
}

std::optional<PhasePoint> phasePointOf(const std::vector<LogAnnotation>& annotations)
{
    const std::vector<std::uint32_t>* w = wordsOf(annotations, AnnotationKind::NotTried, 5);
    if (w == nullptr) return std::nullopt;
    return PhasePoint{(*w)[0], wordsAt(*w, 1), wordsAt(*w, 3)};
}

std::optional<SourceStamp> sourceStampOf(const std::vector<LogAnnotation>& annotations)
{
    const std::vector<std::uint32_t>* w = wordsOf(annotations, AnnotationKind::Source, 6);
    if (w == nullptr) return std::nullopt;
    return SourceStamp{wordsAt(*w, 0), wordsAt(*w, 2), wordsAt(*w, 4)};
}

std::optional<std::uint64_t> appendBaseOf(const std::vector<LogAnnotation>& annotations)
{
    const std::vector<std::uint32_t>* w = wordsOf(annotations, AnnotationKind::AppendBase, 2);
    if (w == nullptr) return std::nullopt;
    return wordsAt(*w, 0);
}

std::optional<PassPoint> passPointOf(const std::vector<LogAnnotation>& annotations)
{
    const std::vector<std::uint32_t>* w = wordsOf(annotations, AnnotationKind::PassReached, 4);
    if (w == nullptr) return std::nullopt;
    return PassPoint{(*w)[0], (*w)[1], wordsAt(*w, 2)};
}

bool CopyLog::writeHeader(const std::string& name, std::int32_t fillType, LogForm form,
                          const std::vector<LogAnnotation>& annotations)
{
    if (!m_file) return false;
    m_form = form;
    const std::vector<std::uint32_t> words = annotationWords(annotations);
    if (words.size() > kMaxAnnotationWords) return false;
    // Header, name length, name and annotation block in one write.
    std::vector<std::uint8_t> bytes(kHeaderSize + 2 + name.size(), 0);
    const auto& magic = form == LogForm::Wide ? kWideMagic : kMagic;
    std::memcpy(bytes.data(), magic.data(), magic.size());
    putLe(bytes.data() + 8, static_cast<std::uint32_t>(fillType), 4);
    const auto length = static_cast<std::uint16_t>(name.size());
    bytes[kHeaderSize] = static_cast<std::uint8_t>(length);
    bytes[kHeaderSize + 1] = static_cast<std::uint8_t>(length >> 8);
    std::memcpy(bytes.data() + kHeaderSize + 2, name.data(), name.size());
    if (!words.empty()) {
        const std::size_t half = recordSize() / 2;
        const auto putRecord = [&](std::uint32_t offset) {
            bytes.resize(bytes.size() + recordSize(), 0);
            putLe(bytes.data() + bytes.size() - recordSize(), offset, static_cast<int>(half));
        };
        putRecord(kAnnotationMark);
        putRecord(static_cast<std::uint32_t>(words.size()));
        for (std::uint32_t word : words) putRecord(word);
    }
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
    // Only a whole record after the name and the annotations can be the end record:
    // trailing bytes of a record written in part, or a name that does not fit the file,
    // would make any 8 bytes look like one.
    const std::optional<Layout> layout = readLayout();
    if (!layout) return -1;
    const std::int64_t records = layout->recordsAt;
    const std::int64_t size = m_file->size();
    const std::int64_t recordBytes = recordSize();
    if (size < records + recordBytes || (size - records) % recordBytes != 0) return -1;
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
    const std::size_t first = regions.size();
    if (!readRecords(regions)) return -1;
    std::int64_t sum = 0;
    for (std::size_t i = first; i < regions.size(); ++i) {
        // A crafted length would carry the sum past what any file can hold.
        if (regions[i].length > static_cast<std::uint64_t>(INT64_MAX - sum)) {
            regions.resize(i);
            return -1;
        }
        sum += static_cast<std::int64_t>(regions[i].length);
    }
    return sum;
}

bool CopyLog::readRecords(std::vector<BadRegion>& records)
{
    const std::optional<Layout> layout = readLayout();
    if (!layout || m_file->seek(layout->recordsAt, Whence::Begin) < 0) return false;
    const int half = static_cast<int>(recordSize() / 2);
    std::uint8_t record[kWideRecordSize];
    while (readExact(*m_file, record, recordSize())) {
        records.push_back({getLe(record, half), getLe(record + half, half)});
    }
    return true;
}

std::optional<std::vector<LogAnnotation>> CopyLog::readAnnotations()
{
    std::optional<Layout> layout = readLayout();
    if (!layout) return std::nullopt;
    return std::move(layout->annotations);
}

std::optional<CopyLog::Layout> CopyLog::readLayout()
{
    const std::string name = readName();
    if (name.empty()) return std::nullopt;
    Layout layout{static_cast<std::int64_t>(kHeaderSize + 2 + name.size()), {}};
    const int half = static_cast<int>(recordSize() / 2);
    std::uint8_t record[kWideRecordSize];
    const auto next = [&](std::uint64_t& offset) {
        if (!readExact(*m_file, record, recordSize())) return false;
        offset = getLe(record, half);
        return getLe(record + half, half) == 0;
    };
    std::uint64_t mark = 0;
    std::uint64_t count = 0;
    // The mark alone is an end record; with a record after it, a block whose every
    // record has length 0 and whose words fit 32 bits.
    if (!next(mark) || mark != kAnnotationMark) return layout;
    const std::int64_t afterMark = m_file->offset();
    if (!readExact(*m_file, record, recordSize())) return layout;
    m_file->seek(afterMark, Whence::Begin);
    if (!next(count) || count == 0 || count > kMaxAnnotationWords) return std::nullopt;
    std::vector<std::uint32_t> words(count);
    for (std::uint32_t& word : words) {
        std::uint64_t value = 0;
        if (!next(value) || value > UINT32_MAX) return std::nullopt;
        word = static_cast<std::uint32_t>(value);
    }
    std::optional<std::vector<LogAnnotation>> annotations = parseAnnotations(words);
    if (!annotations) return std::nullopt;
    layout.recordsAt = m_file->offset();
    layout.annotations = std::move(*annotations);
    return layout;
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
                      PlainFile* keep, const std::vector<LogAnnotation>& annotations)
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
    bool written = log.writeHeader(name, fillType, form, annotations);
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
