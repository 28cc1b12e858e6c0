#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/bad_region.h"
#include "engine/plain_file.h"

namespace tessaly {

// One annotation of a log's annotation block: its kind and its 32-bit words. Readers
// pass over kinds they do not know.
struct LogAnnotation
{
    std::uint16_t kind = 0;
    std::vector<std::uint32_t> words;
    bool operator==(const LogAnnotation&) const = default;
};

// The annotations the copier writes.
enum class AnnotationKind : std::uint16_t
{
    Source = 1,       // the source the copy is made from (SourceStamp)
    AppendBase = 2,   // the copy's offset of source offset 0: the copy's size before Append
    PassReached = 3,  // how far the passes at the copy's end had got (PassPoint)
    NotTried = 4,     // which listed regions the copy has not yet tried to read (PhasePoint)
};

// The source of a copy as the copier recorded it when the copy started. 0 in
// modifiedNs or volume: not known (a device has no modification time here).
struct SourceStamp
{
    std::uint64_t size = 0;
    std::uint64_t modifiedNs = 0;  // nanoseconds since 1970
    std::uint64_t volume = 0;      // a hash of the medium's serial or file system's UUID
    bool operator==(const SourceStamp&) const = default;
};

// How far the passes at the end of a file have got: pass 0 is the trim pass, k from 1
// retry pass k of passes. offset is the copy's offset up to which the pass has gone in
// its direction: a forward pass (the trim, an even retry pass) has read every unit
// before it, a backward pass (an odd retry pass) every unit from it on. A log written
// while the passes run records it; the log of a copy whose passes ended has none.
struct PassPoint
{
    std::uint32_t pass = 0;
    std::uint32_t passes = 0;
    std::uint64_t offset = 0;
    bool operator==(const PassPoint&) const = default;
};

// How far a copy that reads the easy data first has got, for a log written before its
// main pass has covered the file. Every listed byte at or after boundary (a copy offset)
// has not been tried yet, those before it are filled. In phase 1, the pass that reads
// the easy data, cursor is where that pass reads on; the listed bytes between boundary
// and cursor are the areas it skipped. In phase 2, the main pass over the areas not
// tried, cursor equals boundary.
struct PhasePoint
{
    std::uint32_t phase = 1;
    std::uint64_t boundary = 0;
    std::uint64_t cursor = 0;
    bool operator==(const PhasePoint&) const = default;
};

LogAnnotation sourceAnnotation(const SourceStamp& stamp);
LogAnnotation phaseAnnotation(const PhasePoint& point);
std::optional<PhasePoint> phasePointOf(const std::vector<LogAnnotation>& annotations);
LogAnnotation passAnnotation(const PassPoint& point);
LogAnnotation appendBaseAnnotation(std::uint64_t base);
// The first annotation of its kind that has its words; nullopt when there is none.
std::optional<SourceStamp> sourceStampOf(const std::vector<LogAnnotation>& annotations);
std::optional<std::uint64_t> appendBaseOf(const std::vector<LogAnnotation>& annotations);
std::optional<PassPoint> passPointOf(const std::vector<LogAnnotation>& annotations);

// Reader and writer of the copy log kept beside each destination:
//   0  "ACL\0"            magic ("AC64" in the wide form)
//   4  4 bytes            reserved (written as zeros, ignored when read)
//   8  int32 LE           fill type in force when the log was created
//   12 uint16 LE L        length of the source's file name, 1..259
//   14 L bytes            the name, no terminating zero
//   .. records            (offset, length): uint32 LE each in the narrow form (8 bytes),
//                         uint64 LE each in the wide form (16 bytes); length 0 is the
//                         end record
// The wide form's magic keeps readers of the narrow form from taking its records for
// theirs. The log refers to a PlainFile it does not own; its form is the one readHeader
// or readName found, or the one writeHeader wrote.
//
// An annotation block may stand right after the name, before the first region: records
// of length 0 whose offsets carry it, so that every reader of the records takes none of
// them for a filled region (and, with records after it, none for the end record):
//   (kAnnotationMark, 0)  the block's mark, "note" in the offset's bytes
//   (W, 0)                the number of words that follow, 1..kMaxAnnotationWords
//   W x (word, 0)         32-bit words: each annotation is one word kind | n << 16,
//                         then its n words
// A first record that is the mark with no record after it is an end record (a copy that
// ended at that offset). readRegions and readEndPosition pass over the block; a block
// that does not parse whole makes the log unreadable.
class CopyLog
{
public:
    static constexpr std::uint32_t kHeaderSize = 12;
    static constexpr std::uint32_t kRecordSize = 8;       // a narrow record
    static constexpr std::uint32_t kWideRecordSize = 16;  // a wide record
    static constexpr std::uint16_t kMaxNameLength = 259;
    // The engine's name buffer; longer names make a log unreadable.
    static constexpr std::uint16_t kNameBufferSize = 260;
    static constexpr std::uint32_t kAnnotationMark = 0x65746F6E;  // "note", little-endian
    static constexpr std::uint32_t kMaxAnnotationWords = 1024;

    // Takes file as the log; form is the form of the log it holds, for a log written
    // elsewhere (readHeader and readName find it themselves).
    void bind(PlainFile* file, LogForm form = LogForm::Narrow)
    {
        m_file = file;
        m_form = form;
    }
    void unbind() { m_file = nullptr; }
    bool isBound() const { return m_file != nullptr; }
    PlainFile* file() const { return m_file; }

    LogForm form() const { return m_form; }
    std::uint32_t recordSize() const { return recordSizeOf(m_form); }
    static std::uint32_t recordSizeOf(LogForm form)
    {
        return form == LogForm::Wide ? kWideRecordSize : kRecordSize;
    }

    // Writes magic, reserved bytes and fill type, then the name's length and the
    // name; false as soon as a write writes nothing.
    // The annotations, when there are any, follow the name as a block in the same write.
    bool writeHeader(const std::string& name, std::int32_t fillType, LogForm form = LogForm::Narrow,
                     const std::vector<LogAnnotation>& annotations = {});
    // Appends one record at the file pointer; bytes written (recordSize(), or 0 on
    // failure or when the narrow form cannot hold offset or length).
    std::size_t appendRecord(std::uint64_t offset, std::uint64_t length);
    // The fill type of the header, or -1 when the header is unreadable or not a log's.
    [[nodiscard]] std::int64_t readHeader();
    // The offset of the end record that closes the file, or -1 when there is none: the
    // last record counts only when it is whole and stands at a record boundary after
    // the name and the annotation block.
    [[nodiscard]] std::int64_t readEndPosition();
    // Cuts the end record off, so that a continued run appends after the regions.
    void dropEndRecord();
    // Appends every record after the name and the annotation block, in file order (an
    // end record too, as a region of length 0), and returns the sum of their lengths,
    // or -1 when the name length is 0 or above 260, the name cannot be read whole, the
    // block does not parse, or a record's length carries the sum past 2^63 (regions then
    // holds the records before it only: a caller must not take them for the log's). An
    // incomplete last record is not taken.
    [[nodiscard]] std::int64_t readRegions(std::vector<BadRegion>& regions);
    // As readRegions, without the sum: every whole record is taken, whatever its length.
    // False when the name or the annotation block cannot be read.
    [[nodiscard]] bool readRecords(std::vector<BadRegion>& records);
    // The annotations of the block after the name (none when there is no block), or
    // nullopt when the name or the block cannot be read.
    [[nodiscard]] std::optional<std::vector<LogAnnotation>> readAnnotations();
    // The source's file name stored in the header, or an empty string when unreadable
    // or longer than maxLength.
    [[nodiscard]] std::string readName(std::size_t maxLength = kNameBufferSize);

private:
    // Where the records after the name and the annotation block start, with the block's
    // annotations; nullopt when the name or the block is unreadable.
    struct Layout
    {
        std::int64_t recordsAt = 0;
        std::vector<LogAnnotation> annotations;
    };
    std::optional<Layout> readLayout();

    PlainFile* m_file = nullptr;
    LogForm m_form = LogForm::Narrow;
};

// Writes a whole log (header, then records in order, the end record included when it is
// among them) under a fresh name in the log's folder, created exclusively and locked, puts
// it on the medium and renames it over logPath: whatever moment a run is killed at, logPath holds
// the old log whole or the new one whole, and no other file is touched. False when any
// step failed; logPath is unchanged then. On success keep, when given, holds the new log
// open (and locked) for further records.
bool writeLogByRename(FileSystem& fs, const std::string& logPath, const std::string& name,
                      std::int32_t fillType, LogForm form, const std::vector<BadRegion>& records,
                      PlainFile* keep = nullptr,
                      const std::vector<LogAnnotation>& annotations = {});

// True for the names writeLogByRename gives its scratch logs: ".tessaly-", 16 hex
// digits in lower case, ".log.tmp".
bool isScratchLogName(const std::string& name);

// Removes from folder the scratch logs that runs killed while writing them left behind:
// regular files (no links) named as isScratchLogName says whose lock nobody holds, as a
// running writer holds its own from the scratch log's creation on. On a file system
// whose locks cannot be told, none is removed. Returns the number removed.
int removeStaleScratchLogs(FileSystem& fs, const std::string& folder);

}  // namespace tessaly
