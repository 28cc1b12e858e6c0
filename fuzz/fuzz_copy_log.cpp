// The copy log reader with the input as a log: header, name, regions, end record,
// and the ddrescue map that `tessaly-cli map` makes of it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

#include "engine/copy_log.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/log_bytes.h"
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

// Reads bytes as a log in every way the readers do and checks what they promise.
void checkLog(const std::vector<std::uint8_t>& bytes)
{
    const std::size_t size = bytes.size();
    tessaly::testing::ScriptedMedium medium;
    medium.addFile("/log", bytes);
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
    // The magic alone says the form; a log without either, or too short for a
    // header, is read as narrow.
    const bool wide = size >= CopyLog::kHeaderSize && std::memcmp(bytes.data(), "AC64", 4) == 0;
    FUZZ_CHECK(log.form() == (wide ? tessaly::LogForm::Wide : tessaly::LogForm::Narrow));
    const std::size_t recordSize = log.recordSize();
    FUZZ_CHECK(recordSize == (wide ? 16u : 8u));

    std::vector<BadRegion> records;
    const std::int64_t sum = log.readRegions(records);
    FUZZ_CHECK(sum == -1 || !name.empty());
    if (sum >= 0) {
        // The records that follow the name and the annotation block, read by the format's
        // rule independently of the reader.
        const std::size_t recordBytes =
            tessaly::testing::withoutAnnotations(bytes).size() - 14 - name.size();
        const auto annotations = log.readAnnotations();
        FUZZ_CHECK(annotations.has_value());
        // A record of the passes reads back as it is written.
        if (const auto point = tessaly::passPointOf(*annotations))
            FUZZ_CHECK(tessaly::passPointOf({tessaly::passAnnotation(*point)}) == point);
        FUZZ_CHECK(records.size() == recordBytes / recordSize);
        std::uint64_t total = 0;
        for (const BadRegion& r : records) {
            FUZZ_CHECK(wide || (r.offset <= UINT32_MAX && r.length <= UINT32_MAX));
            total += r.length;
        }
        FUZZ_CHECK(total == static_cast<std::uint64_t>(sum));
        checkMap(records);
    }

    const std::int64_t end = log.readEndPosition();
    if (end >= 0) {
        FUZZ_CHECK(size >= CopyLog::kHeaderSize + recordSize);
        log.dropEndRecord();
        FUZZ_CHECK(file.size() == static_cast<std::int64_t>(size - recordSize));
    }
}

}  // namespace

// The input as it is, and with the other form's magic in place of its own: every
// log is read in both forms.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> bytes(data, data + size);
    checkLog(bytes);
    if (size >= 4) {
        static const std::uint8_t narrow[4] = {'A', 'C', 'L', 0};
        static const std::uint8_t wide[4] = {'A', 'C', '6', '4'};
        std::memcpy(bytes.data(), std::memcmp(data, wide, 4) == 0 ? narrow : wide, 4);
        checkLog(bytes);
    }
    return 0;
}
