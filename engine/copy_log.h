#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/bad_region.h"
#include "engine/plain_file.h"

namespace tessaly {

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
class CopyLog
{
public:
    static constexpr std::uint32_t kHeaderSize = 12;
    static constexpr std::uint32_t kRecordSize = 8;       // a narrow record
    static constexpr std::uint32_t kWideRecordSize = 16;  // a wide record
    static constexpr std::uint16_t kMaxNameLength = 259;
    // The engine's name buffer; longer names make a log unreadable.
    static constexpr std::uint16_t kNameBufferSize = 260;

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
    bool writeHeader(const std::string& name, std::int32_t fillType, LogForm form = LogForm::Narrow);
    // Appends one record at the file pointer; bytes written (recordSize(), or 0 on
    // failure or when the narrow form cannot hold offset or length).
    std::size_t appendRecord(std::uint64_t offset, std::uint64_t length);
    // The fill type of the header, or -1 when the header is unreadable or not a log's.
    [[nodiscard]] std::int64_t readHeader();
    // The offset of the end record that closes the file, or -1 when there is none: the
    // last record counts only when it is whole and stands at a record boundary after
    // the name.
    [[nodiscard]] std::int64_t readEndPosition();
    // Cuts the end record off, so that a continued run appends after the regions.
    void dropEndRecord();
    // Appends every record after the name, in file order (an end record too, as a
    // region of length 0), and returns the sum of their lengths, or -1 when the
    // name length is 0 or above 260, the name cannot be read whole, or a record's
    // length carries the sum past 2^63 (regions then holds the records before it
    // only: a caller must not take them for the log's). An incomplete last record is
    // not taken.
    [[nodiscard]] std::int64_t readRegions(std::vector<BadRegion>& regions);
    // The source's file name stored in the header, or an empty string when unreadable
    // or longer than maxLength.
    [[nodiscard]] std::string readName(std::size_t maxLength = kNameBufferSize);

private:
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
                      PlainFile* keep = nullptr);

// True for the names writeLogByRename gives its scratch logs: ".tessaly-", 16 hex
// digits in lower case, ".log.tmp".
bool isScratchLogName(const std::string& name);

// Removes from folder the scratch logs that runs killed while writing them left behind:
// regular files (no links) named as isScratchLogName says whose lock nobody holds, as a
// running writer holds its own from the scratch log's creation on. On a file system
// whose locks cannot be told, none is removed. Returns the number removed.
int removeStaleScratchLogs(FileSystem& fs, const std::string& folder);

}  // namespace tessaly
