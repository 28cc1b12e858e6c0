// The copy log reader with the input as a log: header, name, regions, end record,
// and the ddrescue map that `tessaly-cli map` makes of it.
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <vector>

#include "engine/copy_log.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/scripted_medium.h"
#include "tool/rescue_map.h"
#include "tool/transfer_jobs.h"

namespace {

using tessaly::BadRegion;
using tessaly::CopyLog;
using tessaly::PlainFile;

void checkMap(const std::vector<BadRegion>& records)
{
    for (const std::optional<std::uint64_t> size :
         {std::optional<std::uint64_t>{}, std::optional<std::uint64_t>{65536}}) {
        const auto blocks = tessaly::mapBlocks(records, size);
        if (!blocks) {
            FUZZ_CHECK(size.has_value());
            continue;
        }
        std::uint64_t at = 0;
        for (const tessaly::MapBlock& block : *blocks) {
            FUZZ_CHECK(block.position == at && block.size > 0);
            at += block.size;
        }
        if (size) FUZZ_CHECK(at == *size || (blocks->empty() && *size == 0));
        FUZZ_CHECK(!tessaly::formatRescueMap(*blocks, "fuzz").empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tessaly::testing::ScriptedMedium medium;
    medium.addFile("/log", std::vector<std::uint8_t>(data, data + size));
    PlainFile file(medium);
    FUZZ_CHECK(file.openExisting("/log", tessaly::Access::ReadWrite));
    CopyLog log;
    log.bind(&file);

    const std::int64_t fill = log.readHeader();
    FUZZ_CHECK(fill == -1 || (size >= CopyLog::kHeaderSize && fill >= INT32_MIN));
    const std::string name = log.readName();
    char buffer[tessaly::kDataFileNameCapacity];
    const bool haveName = tessaly::readDataFileName(log, buffer, sizeof buffer);
    FUZZ_CHECK(haveName == (!name.empty() && name.size() < sizeof buffer));
    if (haveName) FUZZ_CHECK(name == std::string(buffer, name.size()) && buffer[name.size()] == 0);

    std::vector<BadRegion> records;
    const std::int64_t sum = log.readRegions(records);
    FUZZ_CHECK(sum == -1 || !name.empty());
    if (sum >= 0) {
        const std::size_t recordBytes = size - 14 - name.size();
        FUZZ_CHECK(records.size() == recordBytes / CopyLog::kRecordSize);
        std::int64_t total = 0;
        for (const BadRegion& r : records) total += r.length;
        FUZZ_CHECK(total == sum);
        checkMap(records);
    }

    const std::int64_t end = log.readEndPosition();
    if (end >= 0) {
        FUZZ_CHECK(size >= CopyLog::kHeaderSize + CopyLog::kRecordSize);
        log.dropEndRecord();
        FUZZ_CHECK(file.size() == static_cast<std::int64_t>(size - CopyLog::kRecordSize));
    }
    return 0;
}
