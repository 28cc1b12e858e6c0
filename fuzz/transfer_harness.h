#pragma once

// Runs a Get or a Put job over the scripted medium with the fuzzer's input as the
// copy log, and checks what the jobs promise whatever the log holds: nothing but
// the job's own output file is opened for writing (so nothing outside the log's
// folder), the log and the job's input stay as they were, Get's transfer file holds
// nothing but the data file's own bytes of the regions, in log order, Put never
// grows the copy nor changes a byte outside the regions, and every file is closed
// when the job ends.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/copy_log.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/scripted_medium.h"
#include "tool/transfer_jobs.h"

namespace tessaly::fuzz {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint32_t kDataSize = 65536;
inline constexpr std::uint64_t kQuota = 4 * 1024 * 1024;

inline Bytes patternBytes(std::size_t size, std::uint32_t seed)
{
    Bytes bytes(size);
    std::uint32_t x = seed;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

// The scripted medium, refusing every open for writing but of the one allowed path.
class GuardedMedium : public testing::ScriptedMedium
{
public:
    std::string writable;  // the only path a job may open for writing

    std::unique_ptr<File> open(const std::string& path, Disposition disposition, Access access,
                               SysError* error) override
    {
        const bool writes = access != Access::Read || disposition != Disposition::OpenExisting;
        FUZZ_CHECK(!writes || path == writable);
        return ScriptedMedium::open(path, disposition, access, error);
    }
    bool removeFile(const std::string&) override
    {
        FUZZ_CHECK(false);
        return false;
    }
};

// Shows nothing and cancels locating a missing data file.
class SilentUi : public JobUi
{
public:
    void setDataFrom(const std::string&) override {}
    void setDataTo(const std::string&) override {}
    void setState(int) override {}
    void setProgress(int percent) override { FUZZ_CHECK(percent >= 0 && percent <= 100); }
    void showError(const JobMessage&) override {}
    void showNotice(const JobMessage&) override {}
    std::optional<std::string> locateFile(int, const std::string&) override
    {
        return std::nullopt;
    }
};

// The log's name and records as the jobs read them.
struct ParsedLog
{
    std::string name;
    std::int64_t fill = -1;  // -1: no copy log header
    std::vector<BadRegion> records;
    bool whole = false;  // every record could be read: records is the whole log
};

inline ParsedLog parseLog(testing::ScriptedMedium& medium)
{
    ParsedLog parsed;
    PlainFile file(medium);
    if (!file.openExisting("/copy/a.bin.log", Access::Read)) return parsed;
    CopyLog log;
    log.bind(&file);
    parsed.name = log.readName(kDataFileNameCapacity - 1);
    parsed.whole = log.readRegions(parsed.records) >= 0;
    parsed.fill = log.readHeader();
    return parsed;
}

// The end the log allows its regions: its end record, else the data file's size.
inline std::uint64_t allowedEnd(const ParsedLog& log)
{
    if (log.records.empty() || log.records.back().length != 0) return kDataSize;
    return log.records.back().offset;
}

// The records the jobs move: every one but an end record that closes the log.
inline std::size_t movedRecords(const ParsedLog& log)
{
    const bool ended = !log.records.empty() && log.records.back().length == 0;
    return log.records.size() - (ended ? 1 : 0);
}

// The sum of the lengths of the regions the jobs move.
inline std::uint64_t regionBytes(const ParsedLog& log)
{
    // A wide log's lengths may add up past 2^64: such a sum stands at the top.
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < movedRecords(log); ++i) {
        const std::uint64_t length = log.records[i].length;
        sum = length > UINT64_MAX - sum ? UINT64_MAX : sum + length;
    }
    return sum;
}

// Get wrote the data file's bytes of the regions end to end, as far as it got,
// and not one byte for a region that passes the data file's end.
inline void checkGet(testing::ScriptedMedium& medium, const ParsedLog& log, const Bytes& original,
                     TransferOutcome outcome)
{
    if (!medium.hasFile("/copy/a.bin.mrd")) return;
    const Bytes transfer = medium.contents("/copy/a.bin.mrd");
    std::uint64_t at = 0;
    for (std::size_t i = 0; i < movedRecords(log) && at < transfer.size(); ++i) {
        const BadRegion& r = log.records[i];
        // A record of length 0 holds no byte, wherever it points.
        FUZZ_CHECK(r.length == 0 || (r.offset <= original.size() &&
                                     r.length <= original.size() - r.offset));
        const std::uint64_t n = std::min<std::uint64_t>(r.length, transfer.size() - at);
        FUZZ_CHECK(std::equal(original.begin() + r.offset, original.begin() + r.offset + n,
                              transfer.begin() + static_cast<std::ptrdiff_t>(at)));
        at += n;
    }
    FUZZ_CHECK(at == transfer.size());
    if (outcome == TransferOutcome::Done) FUZZ_CHECK(transfer.size() == regionBytes(log));
}

// Put left the copy at its size, changed bytes only inside the regions, and none
// at all for a log that does not say its fill was written into the copy, or for a
// transfer file longer than the regions.
inline void checkPut(testing::ScriptedMedium& medium, const ParsedLog& log, const Bytes& original,
                     std::uint64_t transferSize)
{
    const Bytes copy = medium.contents("/copy/a.bin");
    FUZZ_CHECK(copy.size() == original.size());
    const bool offsetsKnown = log.fill >= 0 && log.fill != 4;
    if (!offsetsKnown || transferSize > regionBytes(log)) {
        FUZZ_CHECK(copy == original);
        return;
    }
    std::vector<bool> inRegion(original.size(), false);
    for (std::size_t i = 0; i < movedRecords(log); ++i) {
        const BadRegion& r = log.records[i];
        // A wide record's offset and length may add up past 2^64.
        const std::uint64_t end =
            r.offset >= original.size() ? r.offset
                                        : r.offset + std::min<std::uint64_t>(
                                                         r.length, original.size() - r.offset);
        for (std::uint64_t at = r.offset; at < end; ++at) inRegion[at] = true;
    }
    for (std::size_t at = 0; at < copy.size(); ++at) {
        FUZZ_CHECK(copy[at] == original[at] || inRegion[at]);
    }
}

inline void runTransfer(TransferKind kind, const std::uint8_t* data, std::size_t size)
{
    const bool get = kind == TransferKind::Get;
    GuardedMedium medium;
    const Bytes log(data, data + size);
    static const Bytes original = patternBytes(kDataSize, 1);
    medium.addFile("/copy/a.bin.log", log);
    medium.addFile("/copy/a.bin", original);
    medium.addFile("/other/b.bin", original);
    const ParsedLog parsed = parseLog(medium);
    // Put gets the transfer file that Get would make of the log, where that is small
    // enough; one byte more or less, or a fixed size, by the log's own size.
    Bytes transfer = patternBytes(kDataSize + 4096, 2);
    if (regionBytes(parsed) <= kQuota / 4) {
        transfer = patternBytes(static_cast<std::size_t>(regionBytes(parsed)) + 1, 2);
        if (size % 3 != 0 && !transfer.empty()) transfer.pop_back();
        if (size % 3 == 2 && !transfer.empty()) transfer.pop_back();
    }
    if (!get) medium.addFile("/copy/a.bin.mrd", transfer);
    medium.setQuota(kQuota);
    medium.writable = "/copy/" + parsed.name + (get ? ".mrd" : "");

    SilentUi ui;
    TransferFiles files(medium);
    const TransferOutcome outcome = runTransferJob({"a.bin.log", "/copy", kind}, files, ui);
    FUZZ_CHECK(!files.logFile.isOpen() && !files.inputFile.isOpen() &&
               !files.outputFile.isOpen() && !files.log.isBound());
    FUZZ_CHECK(medium.contents("/copy/a.bin.log") == log);
    FUZZ_CHECK(medium.contents("/other/b.bin") == original);
    FUZZ_CHECK(medium.contents(get ? "/copy/a.bin" : "/copy/a.bin.mrd") ==
               (get ? original : transfer));
    if (parsed.name != "a.bin") return;
    // A log whose records cannot all be read moves nothing: part of it is not the log.
    if (!parsed.whole) {
        FUZZ_CHECK(outcome != TransferOutcome::Done);
        FUZZ_CHECK(get ? !medium.hasFile("/copy/a.bin.mrd") : medium.contents("/copy/a.bin") == original);
        return;
    }
    if (get) {
        checkGet(medium, parsed, original, outcome);
    } else {
        checkPut(medium, parsed, original, transfer.size());
    }
}

}  // namespace tessaly::fuzz
