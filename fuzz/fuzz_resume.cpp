// A continued copy with the input as its log: the copy exists, and the engine
// resumes it (or, for an input of odd length, appends to it) from what the log says.
// An input whose last record is an end record at the source's size has the whole file
// copied, so that a Resume runs only the passes at the end, from the place its record
// of the passes names; its clock moves 30 s at each reading, so that they write a
// checkpoint before each sector.
// Whatever the log holds, the run never ends Ok with a wrong byte its log does not list,
// neither as it ends nor after a power loss at one of its sync points (chosen by the
// input's bytes), which leaves the files as they were on the medium then.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/copy_engine.h"
#include "engine/copy_log.h"
#include "engine/plain_file.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/scripted_medium.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSourceSize = 65536;
constexpr std::uint32_t kCopied = 40960;

Bytes patternBytes(std::size_t size)
{
    Bytes bytes(size);
    std::uint32_t x = 7;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

// Whatever the log said, every byte of the copy that its log does not list as
// filled is right: the old copy's bytes below the base, the source's above.
void checkListedBytes(const Bytes& copy, const std::vector<tessaly::BadRegion>& regions,
                      std::uint64_t base)
{
    static const Bytes source = patternBytes(kSourceSize);
    FUZZ_CHECK(copy.size() <= base + kSourceSize);
    std::vector<int> starts(copy.size() + 1, 0);  // regions opening minus closing at i
    for (const tessaly::BadRegion& r : regions) {
        if (r.offset >= copy.size() || r.length == 0) continue;
        ++starts[r.offset];
        --starts[std::min<std::uint64_t>(std::uint64_t{r.offset} + r.length, copy.size())];
    }
    int open = 0;
    for (std::size_t i = 0; i < copy.size(); ++i) {
        open += starts[i];
        if (open == 0) FUZZ_CHECK(copy[i] == (i < base ? source[i] : source[i - base]));
    }
}

// The regions of the log at logPath (none when it has no readable name), or nullopt when
// it was written under the fill Nothing: its offsets are not the copy's then.
std::optional<std::vector<tessaly::BadRegion>> listedRegions(tessaly::FileSystem& fs,
                                                              const std::string& logPath)
{
    using namespace tessaly;
    std::vector<BadRegion> regions;
    PlainFile file(fs);
    if (!file.openExisting(logPath, Access::Read)) return regions;
    CopyLog log;
    log.bind(&file);
    if (log.readHeader() == static_cast<std::int32_t>(FillType::Nothing)) return std::nullopt;
    if (log.readRegions(regions) < 0) regions.clear();
    return regions;
}

// Moves 30 s at each reading.
class RushingTicks : public tessaly::TickSource
{
public:
    std::uint32_t now() const override { return m_now += 30000; }

private:
    mutable std::atomic<std::uint32_t> m_now{0};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tessaly;
    static const Bytes source = patternBytes(kSourceSize);
    testing::ScriptedMedium medium;
    medium.addFile("/src/a.bin", source);
    medium.markBad("/src/a.bin", 45056, 1024);
    static const std::uint8_t kWholeEnd[8] = {0, 0, 1, 0, 0, 0, 0, 0};  // (65536, 0)
    const bool append = size % 2 == 1;
    const bool whole = !append && size >= 8 && std::equal(data + size - 8, data + size, kWholeEnd);
    medium.addFile("/out/a.bin",
                   Bytes(source.begin(), source.begin() + (whole ? kSourceSize : kCopied)));
    medium.addFile("/out/a.bin.log", Bytes(data, data + size));
    medium.setQuota(1024 * 1024);
    medium.trackDurability();
    int lossPoint = 0;
    for (std::size_t i = 0; i < size; ++i) lossPoint += data[i];
    medium.setPowerLossAfter(lossPoint % 40);  // past the run's sync points: as it ends

    {
        RushingTicks ticks;
        CopyEngine engine(medium, ticks);
        const ExistingPolicy policy = append ? ExistingPolicy::Append : ExistingPolicy::Resume;
        engine.setSettings({.autoRereads = false,
                            .deleteLogIfNoErrors = false,
                            .rereadCount = 1,
                            .existingPolicy = policy});
        engine.setQueryCallback([](EngineQuery& query) {
            return query.kind == QueryKind::NoLog || query.kind == QueryKind::Existing;
        });
        if (engine.startFile("/src/a.bin", "/out", "")) {
            FUZZ_CHECK(engine.waitUntilIdle(60000));
            const std::uint64_t end = engine.destinationEnd();
            FUZZ_CHECK(end == kSourceSize + (append ? kCopied : 0));
            // Filled bytes are counted inside the file only, whatever the log claims.
            FUZZ_CHECK(engine.filledBytes() >= 0 &&
                       static_cast<std::uint64_t>(engine.filledBytes()) <= end);
            FUZZ_CHECK(engine.status() == EngineStatus::Ok);
            // A copy grows by at most the source, wherever the log sends the source.
            FUZZ_CHECK(medium.contents("/out/a.bin").size() <= kCopied + kSourceSize);
            // The run ended its log properly, so that the next run can continue it.
            PlainFile file(medium);
            FUZZ_CHECK(file.openExisting("/out/a.bin.log", Access::Read));
            CopyLog log;
            log.bind(&file);
            const std::int64_t fill = log.readHeader();
            FUZZ_CHECK(fill >= 0 && log.readEndPosition() >= 0);
            // Under the fill Nothing a copy lacks its regions' bytes: its offsets are not
            // the source's, and only its length says anything.
            if (fill != static_cast<std::int32_t>(FillType::Nothing)) {
                std::vector<tessaly::BadRegion> regions;
                FUZZ_CHECK(log.readRegions(regions) >= 0);
                FUZZ_CHECK(medium.contents("/out/a.bin").size() == end);
                checkListedBytes(medium.contents("/out/a.bin"), regions, append ? kCopied : 0);
            }
            file.close();
            medium.losePower();
            if (const auto regions = listedRegions(medium, "/out/a.bin.log"))
                checkListedBytes(medium.contents("/out/a.bin"), *regions, append ? kCopied : 0);
        }
    }
    FUZZ_CHECK(medium.contents("/src/a.bin") == source);
    return 0;
}
