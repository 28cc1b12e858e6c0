#pragma once

// Runs a Get or a Put job over the scripted medium with the fuzzer's input as the
// copy log, and checks what the jobs promise whatever the log holds: nothing but
// the job's own output file is opened for writing (so nothing outside the log's
// folder), the log and the job's input stay as they were, the output grows no
// further than the log's end allows, and every file is closed when the job ends.
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
    std::vector<BadRegion> records;
};

inline ParsedLog parseLog(testing::ScriptedMedium& medium)
{
    ParsedLog parsed;
    PlainFile file(medium);
    if (!file.openExisting("/copy/a.bin.log", Access::Read)) return parsed;
    CopyLog log;
    log.bind(&file);
    parsed.name = log.readName(kDataFileNameCapacity - 1);
    log.readRegions(parsed.records);
    return parsed;
}

// The end the log allows its regions: its end record, else the data file's size.
inline std::uint64_t allowedEnd(const ParsedLog& log)
{
    if (log.records.empty() || log.records.back().length != 0) return kDataSize;
    return log.records.back().offset;
}

// A job that moved every region of the log moved none past the end the log allows,
// and Get's transfer file holds them end to end.
inline void checkDone(bool get, testing::ScriptedMedium& medium, const ParsedLog& log)
{
    const std::uint64_t end = allowedEnd(log);
    std::uint64_t moved = 0;
    for (std::size_t i = 0; i + 1 < log.records.size(); ++i) {
        const BadRegion& r = log.records[i];
        FUZZ_CHECK(std::uint64_t{r.offset} + r.length <= end);
        moved += r.length;
    }
    if (get) FUZZ_CHECK(medium.contents("/copy/a.bin.mrd").size() == moved);
}

inline void runTransfer(TransferKind kind, const std::uint8_t* data, std::size_t size)
{
    const bool get = kind == TransferKind::Get;
    GuardedMedium medium;
    const Bytes log(data, data + size);
    static const Bytes original = patternBytes(kDataSize, 1);
    static const Bytes transfer = patternBytes(kDataSize + 4096, 2);
    medium.addFile("/copy/a.bin.log", log);
    medium.addFile("/copy/a.bin", original);
    if (!get) medium.addFile("/copy/a.bin.mrd", transfer);
    medium.addFile("/other/b.bin", original);
    medium.setQuota(kQuota);
    const ParsedLog parsed = parseLog(medium);
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
    if (!get) {
        const std::uint64_t grown = medium.contents("/copy/a.bin").size();
        FUZZ_CHECK(grown <= std::max<std::uint64_t>(kDataSize, allowedEnd(parsed)));
    }
    if (outcome == TransferOutcome::Done) checkDone(get, medium, parsed);
}

}  // namespace tessaly::fuzz
