// The easy data first: a pass of chunk reads that skips past failures, then the main pass
// over what it skipped (engine/easy_pass.cpp).
#include <algorithm>
#include <functional>

#include "engine/copy_log.h"
#include "engine/region_map.h"
#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kSize = 1 << 20;
constexpr std::uint64_t kStripe = 64 << 10;  // a dead head: 64 KiB unreadable in every 256 KiB
// The file's last chunk (the reader's chunk for 1 MiB is 100 KiB) lies behind every stripe.
constexpr std::uint64_t kLastChunk = kSize - 102400;

class EasyFirstTest : public EngineTest
{
protected:
    EasyFirstTest()
    {
        setSetting(*engine, &EngineSettings::easyFirst, true);
        medium.addFile("/src/f", source);
    }

    void deadHead(int failures = -1)
    {
        for (std::uint64_t at = kStripe; at < kLastChunk; at += 4 * kStripe) {
            if (failures < 0)
                medium.markBad("/src/f", at, kStripe);
            else
                medium.markWeak("/src/f", at, kStripe, failures);
        }
    }
    std::vector<BadRegion> stripes() const
    {
        std::vector<BadRegion> out;
        for (std::uint64_t at = kStripe; at < kLastChunk; at += 4 * kStripe) out.push_back({at, kStripe});
        return out;
    }
    // The log's regions, merged, and its annotations; none when there is no readable log.
    std::pair<RegionMap, std::vector<LogAnnotation>> readLog()
    {
        PlainFile file(medium);
        if (!file.openExisting("/out/f.log", Access::Read)) return {};
        CopyLog log;
        log.bind(&file);
        std::vector<BadRegion> records;
        if (log.readRegions(records) < 0) return {};
        return {RegionMap(records), log.readAnnotations().value_or(std::vector<LogAnnotation>{})};
    }
    // Every byte of the copy that is not the source's is listed by its log.
    void expectListed()
    {
        const Bytes copy = medium.contents("/out/f");
        const RegionMap listed = readLog().first;
        for (std::size_t i = 0; i < copy.size(); ++i) {
            if (i < source.size() && copy[i] == source[i]) continue;
            ASSERT_TRUE(listed.meets(i, i + 1)) << "byte " << i;
        }
    }
    // A finished copy: the source with zeros where the log lists regions, and these regions.
    void expectFinished(const std::vector<BadRegion>& regions)
    {
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        Bytes expected = source;
        for (const BadRegion& r : regions) std::fill_n(expected.begin() + r.offset, r.length, 0);
        EXPECT_EQ(medium.contents("/out/f"), expected);
        EXPECT_EQ(readLog().first, RegionMap(regions));
    }

    const Bytes source = pattern(kSize, 3);
};

TEST_F(EasyFirstTest, TheEasyDataComesFirstAndTheMainPassStillReadsWhatCanBeRead)
{
    struct Case
    {
        const char* name;
        int failures;  // of each stripe; -1: for ever
        bool easyFirst;
        std::vector<BadRegion> left;
    };
    const Case cases[] = {
        {"dead head, in order", -1, false, stripes()},
        {"dead head, easy data first", -1, true, stripes()},
        {"weak stripes, easy data first", 1, true, {}},
    };
    int inOrder = 0;  // failed reads before the last chunk, in order
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        medium.addFile("/src/f", source);
        medium.removeFile("/out/f");
        medium.removeFile("/out/f.log");
        deadHead(c.failures);
        setSetting(*engine, &EngineSettings::easyFirst, c.easyFirst);
        int failedBeforeLast = -1;
        medium.setReadHook("/src/f", [&](std::uint64_t offset) {
            if (offset >= kLastChunk && failedBeforeLast < 0)
                failedBeforeLast = medium.failedReadCount("/src/f");
        });
        ASSERT_TRUE(copy("/src/f"));
        medium.setReadHook("/src/f", nullptr);
        expectFinished(c.left);
        if (!c.easyFirst) inOrder = failedBeforeLast;
        // In order, every sector of every stripe fails before the last chunk is read;
        // first, a few chunks per stripe.
        if (c.easyFirst) {
            EXPECT_LT(failedBeforeLast * 20, inOrder);
        }
        EXPECT_GT(failedBeforeLast, 0);
    }
}

TEST_F(EasyFirstTest, AStopInEachPhaseLeavesItInTheLogAndAResumeGoesOnFromThere)
{
    struct Case
    {
        const char* name;
        std::uint32_t phase;
        // Told each read's offset and the highest offset read so far: true stops the copy.
        std::function<bool(std::uint64_t offset, std::uint64_t highest)> stopAt;
    };
    const Case cases[] = {
        {"in the easy data", 1, [](std::uint64_t at, std::uint64_t) { return at >= kSize / 2; }},
        {"in the main pass over what was skipped", 2,
         [](std::uint64_t at, std::uint64_t highest) { return highest >= kLastChunk && at < 3 * kStripe; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        medium.addFile("/src/f", source);
        medium.removeFile("/out/f");
        medium.removeFile("/out/f.log");
        deadHead();
        std::uint64_t highest = 0;
        medium.setReadHook("/src/f", [&](std::uint64_t offset) {
            highest = std::max(highest, offset);
            if (c.stopAt(offset, highest)) engine->requestStop(false);
        });
        ASSERT_TRUE(copy("/src/f"));
        medium.setReadHook("/src/f", nullptr);
        ASSERT_EQ(engine->status(), EngineStatus::Stopped);
        expectListed();
        const std::optional<PhasePoint> point = phasePointOf(readLog().second);
        ASSERT_TRUE(point.has_value());
        EXPECT_EQ(point->phase, c.phase);

        ASSERT_TRUE(copy("/src/f"));
        expectFinished(stripes());
        EXPECT_EQ(phasePointOf(readLog().second), std::nullopt);
    }
}

}  // namespace
}  // namespace tessaly::testing
