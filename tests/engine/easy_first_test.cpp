// The easy data first (engine/easy_pass.cpp) over a dead head: 64 KiB unreadable in every
// 256 KiB of 1 MiB, whose last chunk (the reader's chunk is 100 KiB here) lies behind them all.
#include <set>

#include "engine/copy_log.h"
#include "engine/region_map.h"
#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kSize = 1 << 20;
constexpr std::uint64_t kStripe = 64 << 10;
constexpr std::uint64_t kLastChunk = kSize - 102400;
const std::vector<BadRegion> kStripes = {{kStripe, kStripe}, {5 * kStripe, kStripe},
                                         {9 * kStripe, kStripe}, {13 * kStripe, kStripe}};

class EasyFirstTest : public EngineTest
{
protected:
    // A new source whose stripes fail `failures` times (-1: always), and no copy yet.
    void freshSource(int failures)
    {
        medium.removeFile("/out/f");
        medium.removeFile("/out/f.log");
        medium.addFile("/src/f", source);
        for (const BadRegion& s : kStripes) {
            if (failures < 0)
                medium.markBad("/src/f", s.offset, s.length);
            else
                medium.markWeak("/src/f", s.offset, s.length, failures);
        }
    }
    // The regions of the log (none without one), and its annotations in notes.
    RegionMap logged(std::vector<LogAnnotation>* notes = nullptr)
    {
        PlainFile file(medium);
        CopyLog log;
        log.bind(&file);
        std::vector<BadRegion> records;
        if (!file.openExisting("/out/f.log", Access::Read) || log.readRegions(records) < 0) return {};
        if (notes) *notes = log.readAnnotations().value_or(std::vector<LogAnnotation>{});
        return RegionMap(records);
    }
    // A finished copy: the source with zeros where its log lists the regions left.
    void expectFinished(const std::vector<BadRegion>& left)
    {
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        Bytes expected = source;
        for (const BadRegion& r : left) std::fill_n(expected.begin() + r.offset, r.length, 0);
        EXPECT_EQ(medium.contents("/out/f"), expected);
        EXPECT_EQ(logged(), RegionMap(left));
        EXPECT_EQ(engine->filledBytes(), static_cast<std::int64_t>(RegionMap(left).totalBytes()));
    }

    const Bytes source = pattern(kSize, 3);
};

// In order, every sector of every stripe fails before the last chunk is read; first,
// a few chunks per stripe, and every readable 64 KiB comes before the first read of a
// sector alone, at one failed read per stripe. Either way, the main pass reads every
// readable sector, and the part of the file shown as done never goes back.
TEST_F(EasyFirstTest, TheEasyDataComesFirstAndTheMainPassStillReadsWhatCanBeRead)
{
    struct Case
    {
        bool easyFirst;
        int failures;
        std::vector<BadRegion> left;
    };
    int inOrder = 0;  // failed reads before the last chunk, in order
    for (const Case& c : {Case{false, -1, kStripes}, Case{true, -1, kStripes}, Case{true, 1, {}}}) {
        SCOPED_TRACE(::testing::Message() << "easy first " << c.easyFirst << ", failures " << c.failures);
        freshSource(c.failures);
        setSetting(*engine, &EngineSettings::easyFirst, c.easyFirst);
        setSetting(*engine, &EngineSettings::easyFirstAbove, std::uint64_t{0});
        int failedBeforeLast = -1, failedBeforeSectors = -1;
        std::set<std::uint64_t> chunksBeforeSectors;
        std::uint64_t reached = 0;  // what the snapshot says the copy has read or filled
        bool reachedGoesBack = false;
        std::uint64_t forward = 0;  // the first pass's furthest read
        medium.setReadHook("/src/f", [&](std::uint64_t offset) {
            // A forward read of the first pass may hang: the block map sees it reached,
            // with every stripe behind it not tried yet.
            if (engine->snapshot().phase == 1 && offset >= forward) {
                forward = offset;
                EXPECT_EQ(engine->destinationFrontier(), offset);
                RegionMap notTried;
                for (const Region& r : engine->notTriedAreas()) notTried.add(r.offset, r.length);
                for (const BadRegion& s : kStripes)
                    EXPECT_TRUE(s.offset + s.length > offset ||
                                notTried.overlap(s.offset, s.offset + s.length).totalBytes() == s.length)
                        << offset;
            }
            const std::uint64_t now = engine->snapshot().reached();
            reachedGoesBack = reachedGoesBack || now < reached;
            reached = now;
            if (offset >= kLastChunk && failedBeforeLast < 0)
                failedBeforeLast = medium.failedReadCount("/src/f");
            if (offset % 4096 != 0 && failedBeforeSectors < 0)
                failedBeforeSectors = medium.failedReadCount("/src/f");
            if (failedBeforeSectors < 0) chunksBeforeSectors.insert(offset);
        });
        ASSERT_TRUE(copy("/src/f"));
        expectFinished(c.left);
        EXPECT_FALSE(reachedGoesBack);
        EXPECT_EQ(engine->snapshot().reached(), kSize);
        if (c.easyFirst) {
            // The sector read at a stripe's start came first.
            EXPECT_LE(failedBeforeSectors, static_cast<int>(kStripes.size()) + 1);
            for (std::uint64_t at = 0; at < kSize; at += kStripe)
                EXPECT_TRUE(RegionMap(kStripes).meets(at, at + 1) || chunksBeforeSectors.count(at))
                    << at;
        }
        if (!c.easyFirst) inOrder = failedBeforeLast;
        EXPECT_GT(failedBeforeLast, 0);
        EXPECT_TRUE(!c.easyFirst || failedBeforeLast * 20 < inOrder) << failedBeforeLast;
    }
}

// A bad stretch that repeats (the second half of each of the first four 512 KiB of a
// file large enough to skip that far) costs the first pass two failed reads the first
// time, one each time after: a run starts with a skip as long as the last one's bad
// stretch was judged to be, and lands on the next good chunk.
TEST_F(EasyFirstTest, ARunOfFailuresStartsWithTheSkipTheLastOneNeeded)
{
    constexpr std::uint64_t kHalf = 256 << 10;
    medium.addSparseFile("/src/f", 1000 * kHalf);
    for (std::uint64_t at = kHalf; at < 8 * kHalf; at += 2 * kHalf)
        medium.markBad("/src/f", at, kHalf);
    setSetting(*engine, &EngineSettings::easyFirst, true);
    setSetting(*engine, &EngineSettings::easyFirstAbove, std::uint64_t{0});
    std::uint64_t highest = 0;
    int forward = -1;  // failed reads before the first read backwards
    medium.setReadHook("/src/f", [&](std::uint64_t at) {
        if (at < highest && forward < 0) forward = medium.failedReadCount("/src/f");
        highest = std::max(highest, at);
    });
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(forward, 5);
    const std::vector<std::uint64_t> reads = medium.readOffsets("/src/f");
    for (const std::uint64_t landed : {4 * kHalf, 6 * kHalf, 8 * kHalf})
        EXPECT_NE(std::find(reads.begin(), reads.end(), landed), reads.end()) << landed;
}

// A slow band (each read 100 ms, the rest 1 ms) is read after the rest, and read whole.
TEST_F(EasyFirstTest, ASlowBandIsReadAfterTheRest)
{
    setSetting(*engine, &EngineSettings::easyFirst, true);
    setSetting(*engine, &EngineSettings::easyFirstAbove, std::uint64_t{0});
    freshSource(0);
    int slowBeforeLast = -1, slow = 0;
    medium.setReadHook("/src/f", [&](std::uint64_t at) {
        const bool inBand = at >= kSize / 2 && at < 3 * kSize / 4;
        slow += inBand;
        ticks.at += inBand ? 100 : 1;
        if (at >= kLastChunk && slowBeforeLast < 0) slowBeforeLast = slow;
    });
    ASSERT_TRUE(copy("/src/f"));
    expectFinished({});
    EXPECT_LT(slowBeforeLast, slow);  // in order, all of them come before
}

// A stop in either phase leaves it in the log, whose regions list what was not read;
// the next run goes on there (with the setting off, in the main pass) and ends as one
// that was not stopped.
TEST_F(EasyFirstTest, AStopInEachPhaseLeavesItInTheLogAndAResumeGoesOnFromThere)
{
    for (const auto& [phase, thenEasy] : {std::pair{1u, true}, std::pair{2u, true}, std::pair{1u, false}}) {
        SCOPED_TRACE(::testing::Message() << "phase " << phase << ", then easy first " << thenEasy);
        setSetting(*engine, &EngineSettings::easyFirst, true);
        setSetting(*engine, &EngineSettings::easyFirstAbove, std::uint64_t{0});
        freshSource(-1);
        std::uint64_t highest = 0;  // phase 2 reads below what phase 1 reached
        medium.setReadHook("/src/f", [&](std::uint64_t at) {
            highest = std::max(highest, at);
            if (phase == 1 ? at >= kSize / 2 : highest >= kLastChunk && at < 3 * kStripe)
                engine->requestStop(false);
        });
        ASSERT_TRUE(copy("/src/f"));
        medium.setReadHook("/src/f", nullptr);
        ASSERT_EQ(engine->status(), EngineStatus::Stopped);
        std::vector<LogAnnotation> notes;
        const RegionMap listed = logged(&notes);
        const Bytes copied = medium.contents("/out/f");
        for (std::size_t i = 0; i < copied.size(); ++i)
            ASSERT_TRUE(copied[i] == source[i] || listed.meets(i, i + 1)) << "byte " << i;
        ASSERT_TRUE(phasePointOf(notes).has_value());
        EXPECT_EQ(phasePointOf(notes)->phase, phase);

        setSetting(*engine, &EngineSettings::easyFirst, thenEasy);
        ASSERT_TRUE(copy("/src/f"));
        expectFinished(kStripes);
    }
}

}  // namespace
}  // namespace tessaly::testing
