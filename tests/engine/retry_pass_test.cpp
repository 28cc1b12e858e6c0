#include "engine/retry_pass.h"

#include <algorithm>
#include <map>

#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kSector = 512;

class RetryPassTest : public EngineTest
{
protected:
    RetryPassTest() { medium.addFile("/src/f", source); }

    std::vector<std::uint64_t> reads() const { return medium.readOffsets("/src/f"); }
    int readsAt(std::uint64_t offset) const
    {
        const auto offsets = reads();
        return static_cast<int>(std::count(offsets.begin(), offsets.end(), offset));
    }
    Bytes withZeros(const std::vector<BadRegion>& regions) const
    {
        Bytes out = source;
        for (const BadRegion& r : regions)
            std::fill_n(out.begin() + r.offset, r.length, std::uint8_t{0});
        return out;
    }
    // A bad sector at 10 puts the main pass into sector reads, so that each sector
    // behind it is read once there. Sectors 20 and 22 are bad; 21 between them gives
    // its data on read number `on` (main pass 1, trim none: it stops at 20 and 22).
    void weakBetweenBad(int on)
    {
        medium.markBad("/src/f", 10 * kSector, kSector);
        medium.markBad("/src/f", 20 * kSector, kSector);
        medium.markWeak("/src/f", 21 * kSector, kSector, on - 1);
        medium.markBad("/src/f", 22 * kSector, kSector);
    }
    const std::vector<BadRegion> kBadLeft = {{10 * kSector, kSector}, {20 * kSector, 3 * kSector}};

    Bytes source = pattern(64 * kSector + 100, 9);
    const std::uint32_t size = 64 * kSector + 100;
};

// A sector inside a region is never reached by the trim; the retry passes read it once
// each, so the third read comes at the defaults' second pass and the fourth needs three.
TEST_F(RetryPassTest, AWeakSectorInsideARegionIsRecoveredByTheRetryPasses)
{
    struct Case
    {
        int givesOn;
        std::uint32_t passes;
        bool recovered;
    };
    for (const Case c : {Case{3, 2, true}, Case{4, 2, false}, Case{4, 3, true}}) {
        SCOPED_TRACE(::testing::Message() << "read " << c.givesOn << ", passes " << c.passes);
        medium.removeFile("/out/f");
        medium.removeFile("/out/f.log");
        medium.addFile("/src/f", source);
        weakBetweenBad(c.givesOn);
        setSetting(*engine, &EngineSettings::retryPasses, c.passes);
        ASSERT_TRUE(copy("/src/f"));
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        const std::vector<BadRegion> left = c.recovered
                                                ? std::vector<BadRegion>{{10 * kSector, kSector},
                                                                         {20 * kSector, kSector},
                                                                         {22 * kSector, kSector}}
                                                : kBadLeft;
        EXPECT_EQ(engine->badRegions(), left);
        EXPECT_EQ(medium.contents("/out/f"), withZeros(left));
        std::vector<BadRegion> records = left;
        records.push_back({size, 0});
        EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, records));
        EXPECT_EQ(readsAt(21 * kSector), c.recovered ? c.givesOn : 1 + static_cast<int>(c.passes));
        // Main pass, trim, one read per pass within the budget of 1 + passes reads.
        EXPECT_EQ(readsAt(22 * kSector), 1 + static_cast<int>(c.passes));
        EXPECT_EQ(readsAt(10 * kSector), 1 + static_cast<int>(c.passes));
        EXPECT_EQ(engine->retryPass(), 0u);
        EXPECT_EQ(engine->trimmingRegions(), 0u);
    }
}

// The first pass goes backward from the file's end, the second forward; the third
// reads only sector 21, which the trim did not read.
TEST_F(RetryPassTest, PassesAlternateDirectionStartingBackward)
{
    weakBetweenBad(10);
    setSetting(*engine, &EngineSettings::retryPasses, 3u);
    ASSERT_TRUE(copy("/src/f"));
    const std::vector<std::uint64_t> all = reads();
    ASSERT_GE(all.size(), 9u);
    const std::vector<std::uint64_t> passes(all.end() - 9, all.end());
    const std::vector<std::uint64_t> expected = {22 * kSector, 21 * kSector, 20 * kSector,
                                                 10 * kSector, 10 * kSector, 20 * kSector,
                                                 21 * kSector, 22 * kSector, 21 * kSector};
    EXPECT_EQ(passes, expected);
}

// A dead run longer than the limit keeps only its trimmed edges: the passes read none
// of it, whatever their number.
TEST_F(RetryPassTest, ADeadRunOf2000SectorsGetsNoReadBeyondItsEdges)
{
    source = pattern(2100 * kSector, 3);
    std::vector<int> readCounts;
    for (const std::uint32_t passes : {0u, 2u, 9u}) {
        medium.removeFile("/out/f");
        medium.removeFile("/out/f.log");
        medium.addFile("/src/f", source);
        medium.markBad("/src/f", 50 * kSector, 2000 * kSector);
        setSetting(*engine, &EngineSettings::retryPasses, passes);
        ASSERT_TRUE(copy("/src/f"));
        EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{50 * kSector, 2000 * kSector}}));
        readCounts.push_back(medium.readCount("/src/f"));
    }
    EXPECT_EQ(readCounts[1], readCounts[0]);
    EXPECT_EQ(readCounts[2], readCounts[0]);
}

// The pass over given regions: one of exactly the limit is read sector by sector, one
// sector more is left alone; each sector is read once per pass, every source tried.
TEST_F(RetryPassTest, RegionsJustUnderAndJustOverTheLimit)
{
    const std::uint64_t limitSectors = kRetryRegionLimit / kSector;
    const Bytes data = pattern(400 * kSector, 5);
    medium.addFile("/src/g", data);
    medium.addFile("/src/g.cp1", data);
    medium.addFile("/out/g", Bytes(data.size(), 0));
    SourceReader main(medium);
    SourceReader reserved(medium);
    ASSERT_TRUE(main.open("/src/g"));
    ASSERT_TRUE(reserved.open("/src/g.cp1"));
    PlainFile destination(medium);
    ASSERT_TRUE(destination.openExisting("/out/g", Access::ReadWrite));
    // Under: bad in the main file at its second sector, read from the copy there.
    medium.markBad("/src/g", 11 * kSector, kSector);
    medium.markBad("/src/g.cp1", 11 * kSector, kSector);
    medium.markBad("/src/g", 12 * kSector, kSector);
    const auto overStart = static_cast<std::uint32_t>(10 + limitSectors + 20);
    const BadRegion under{10 * kSector, static_cast<std::uint32_t>(limitSectors * kSector)};
    const BadRegion over{overStart * kSector,
                         static_cast<std::uint32_t>((limitSectors + 1) * kSector)};
    const std::atomic<bool> stop{false};
    std::vector<std::pair<std::uint32_t, std::size_t>> seen;
    RetryPass pass({{&main, &reserved}, &destination, kSector, 0}, stop);
    const PassResult result =
        pass.run(RegionMap({under, over}), 2,
                 [&seen](std::uint32_t p, std::size_t left) { seen.emplace_back(p, left); });
    EXPECT_EQ(result.end, PassEnd::Done);
    EXPECT_EQ(result.regions, RegionMap({{11 * kSector, kSector}, over}));
    using Seen = std::vector<std::pair<std::uint32_t, std::size_t>>;
    EXPECT_EQ(seen, (Seen{{1, 1}, {2, 1}, {0, 0}}));
    // What it read went to the copy; the region over the limit stays as it was.
    Bytes expected(data.size(), 0);
    std::copy_n(data.begin() + 10 * kSector, under.length, expected.begin() + 10 * kSector);
    std::fill_n(expected.begin() + 11 * kSector, kSector, std::uint8_t{0});
    EXPECT_EQ(medium.contents("/out/g"), expected);
    std::map<std::uint64_t, int> mainReads;
    for (const std::uint64_t at : medium.readOffsets("/src/g")) ++mainReads[at];
    EXPECT_EQ(mainReads[11 * kSector], 2);  // once a pass while it stays unread
    EXPECT_EQ(mainReads[10 * kSector], 1);  // read in the first pass: not again
    for (const auto& [at, count] : mainReads) {
        EXPECT_LT(at, (10 + limitSectors) * kSector) << "a read in the long region";
        EXPECT_LE(count, 2) << "sector " << at / kSector;
    }
    EXPECT_EQ(medium.readCount("/src/g.cp1"), 3);  // sectors 11 and 12, twice and once
}

// A stop during a retry pass ends it at once: what it read is gone from the list and
// the log, the rest stays; the file counts as copied.
TEST_F(RetryPassTest, AStopDuringARetryPassKeepsWhatItRead)
{
    weakBetweenBad(3);
    medium.markWeak("/src/f", 40 * kSector, kSector, 1);  // left filled by the main pass
    medium.markBad("/src/f", 41 * kSector, kSector);
    medium.markWeak("/src/f", 42 * kSector, kSector, 2);
    std::vector<std::uint32_t> passesSeen;
    medium.setWriteHook("/out/f", [this, &passesSeen](std::uint64_t offset) {
        // The first sector the retry gets: 42, the last region's last sector.
        if (const std::uint32_t pass = engine->retryPass()) {
            passesSeen.push_back(pass);
            EXPECT_EQ(offset, 42u * kSector);
            engine->requestStop(false);
        }
    });
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(passesSeen, std::vector<std::uint32_t>{1});
    const std::vector<BadRegion> left = {kBadLeft[0], kBadLeft[1], {41 * kSector, kSector}};
    EXPECT_EQ(engine->badRegions(), left);
    EXPECT_EQ(medium.contents("/out/f"), withZeros(left));
    EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {left[0], left[1], left[2], {size, 0}}));
    EXPECT_EQ(readsAt(41 * kSector), 2);  // main pass and trim: the stop came before it
}

// A removed medium ends the passes with NotReady; a Resume of the whole copy then
// reads the listed regions again and goes on where the passes were cut short.
TEST_F(RetryPassTest, AMediumRemovedDuringTheRetryEndsItAndAResumeFinishes)
{
    weakBetweenBad(3);
    medium.markBad("/src/f", 30 * kSector, kSector);
    medium.markWeak("/src/f", 31 * kSector, kSector, 1);
    medium.markBad("/src/f", 32 * kSector, kSector);
    medium.setRemovableMedium("/src");
    // Sector 31 is the first the retry gets (backward: 32 fails, 31 reads): the medium
    // goes as it is written, so 30 finds it gone.
    medium.setWriteHook("/out/f", [this](std::uint64_t offset) {
        if (engine->retryPass() > 0 && offset == 31 * kSector) medium.removeMedium();
    });
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::NotReady);
    const std::vector<BadRegion> cut = {
        kBadLeft[0], kBadLeft[1], {30 * kSector, kSector}, {32 * kSector, kSector}};
    EXPECT_EQ(engine->badRegions(), cut);
    EXPECT_EQ(medium.contents("/out/f"), withZeros(cut));
    EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {cut[0], cut[1], cut[2], cut[3], {size, 0}}));
    EXPECT_EQ(readsAt(21 * kSector), 1);  // the main pass's only

    medium.setWriteHook("/out/f", nullptr);
    medium.insertMedium();
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_TRUE(engine->triesAgain());
    const std::vector<BadRegion> left = {
        kBadLeft[0], {20 * kSector, kSector}, {22 * kSector, kSector}, cut[2], cut[3]};
    EXPECT_EQ(engine->badRegions(), left);
    EXPECT_EQ(medium.contents("/out/f"), withZeros(left));
    EXPECT_EQ(readsAt(21 * kSector), 3);
}

// A kill as a retry pass writes a sector it read, or as the log that the passes wrote
// takes the old one's place, leaves the main pass's log, which still lists the sector
// the passes read: a Resume reads it again, and the copy ends as an uninterrupted one.
TEST_F(RetryPassTest, AKillDuringTheRetryLeavesTheWholeLogAndResumes)
{
    for (const bool atRename : {true, false}) {
        SCOPED_TRACE(atRename ? "killed at the rename" : "killed at a retry write");
        medium.removeFile("/out/f");
        medium.removeFile("/out/f.log");
        medium.addFile("/src/f", source);
        weakBetweenBad(3);
        std::map<std::string, Bytes> left;  // the files as the kill leaves them
        const auto kill = [this, &left] {
            if (!left.empty()) return;
            for (const char* path : {"/out/f", "/out/f.log"}) left[path] = medium.contents(path);
        };
        if (atRename) {
            medium.setRenameHook([&kill](const std::string&, const std::string&) { kill(); });
        } else {
            medium.setWriteHook("/out/f", [this, &kill](std::uint64_t) {
                if (engine->retryPass() > 0) kill();
            });
        }
        ASSERT_TRUE(copy("/src/f"));
        medium.setRenameHook(nullptr);
        medium.setWriteHook("/out/f", nullptr);
        ASSERT_EQ(left.size(), 2u);
        // The main pass's log: one record per fill.
        EXPECT_EQ(withoutAnnotations(left["/out/f.log"]), logBytes("f", 0,
                                                                   {{10 * kSector, kSector},
                                                                    {20 * kSector, kSector},
                                                                    {21 * kSector, kSector},
                                                                    {22 * kSector, kSector},
                                                                    {size, 0}}));
        for (const auto& [path, bytes] : left) medium.addFile(path, bytes);

        ASSERT_TRUE(copy("/src/f"));
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        const std::vector<BadRegion> after = {
            {10 * kSector, kSector}, {20 * kSector, kSector}, {22 * kSector, kSector}};
        EXPECT_EQ(engine->badRegions(), after);
        EXPECT_EQ(medium.contents("/out/f"), withZeros(after));
        EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {after[0], after[1], after[2], {size, 0}}));
    }
}

// Sectors 10, 20, 24, ..., 44: single bad sectors, each read once by the main pass, once
// by the trim and once by each retry pass. Each source read takes 10 s of the clock.
class PassRecordTest : public RetryPassTest
{
protected:
    PassRecordTest()
    {
        for (std::uint64_t s : kBad) regions.push_back({s * kSector, kSector});
        for (const BadRegion& r : regions) medium.markBad("/src/f", r.offset, r.length);
        setSetting(*engine, &EngineSettings::retryPasses, 3);
        medium.setReadHook("/src/f", [this](std::uint64_t) { ticks.at += 10000; });
    }
    // Adds the reads of each bad sector among the source's reads [from, to) to n.
    void countBadReads(std::map<std::uint64_t, int>& n, std::size_t from, std::size_t to) const
    {
        const auto offsets = reads();
        for (std::size_t i = from; i < std::min(to, offsets.size()); ++i) {
            if (offsets[i] % kSector == 0) ++n[offsets[i] / kSector];
        }
    }
    // The log as a finished copy leaves it: its regions, and no record of the passes.
    void expectFinishedLog()
    {
        std::vector<BadRegion> records = regions;
        records.push_back({size, 0});
        EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, records));
        EXPECT_EQ(medium.contents("/out/f.log").size(),
                  logOf("/out/f.log").size() + kSourceBlockBytes);
    }
    const std::vector<std::uint64_t> kBad = {10, 20, 24, 28, 32, 36, 40, 44};
    std::vector<BadRegion> regions;
};

// A kill during retry pass 2 of 3 loses at most 30 s of pass work: the log it leaves
// records pass 2 up to its last checkpoint, and the next run reads on from there.
TEST_F(PassRecordTest, AKillDuringRetryPassTwoContinuesThatPass)
{
    std::map<std::string, Bytes> left;  // the files as the kill leaves them
    std::size_t readsBeforeKill = 0;
    medium.setReadHook("/src/f", [&](std::uint64_t offset) {
        ticks.at += 10000;
        if (engine->retryPass() != 2 || offset != 32 * kSector || !left.empty()) return;
        readsBeforeKill = reads().size();
        for (const char* path : {"/out/f", "/out/f.log"}) left[path] = medium.contents(path);
    });
    ASSERT_TRUE(copy("/src/f"));
    ASSERT_EQ(left.size(), 2u);
    for (const auto& [path, bytes] : left) medium.addFile(path, bytes);
    const std::size_t firstRun = reads().size();
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    std::map<std::uint64_t, int> n;  // the reads of the killed run, then of the next
    countBadReads(n, 0, readsBeforeKill);
    countBadReads(n, firstRun, SIZE_MAX);
    int lost = 0;
    for (std::uint64_t s : kBad) {
        // Main pass, trim, three passes; a read lost with the kill comes again.
        EXPECT_TRUE(n[s] == 5 || n[s] == 6) << "sector " << s << ": " << n[s];
        lost += n[s] - 5;
    }
    EXPECT_LE(lost, 3);  // 30 s of reads of 10 s
    expectFinishedLog();
}

// A rerun over a finished copy whose log records the passes: a record that fits goes on
// where it says, within the passes the settings give now; one that does not fit the copy
// is ignored, and the passes begin anew. The log then records no pass.
TEST_F(PassRecordTest, ARerunGoesOnWhereTheRecordedPassStopped)
{
    struct Case
    {
        PassPoint record;
        std::uint32_t passesNow;
        int readsBelow24, readsFrom24;  // by the rerun, of each bad sector
    };
    const Case cases[] = {
        {{4, 3, 0}, 3, 4, 4},             // a pass beyond the count
        {{2, 3, size + 1}, 3, 4, 4},      // an offset past the copy's end
        {{0, 3, 24 * kSector}, 3, 3, 4},  // the trim from sector 24 on
        {{2, 3, 24 * kSector}, 3, 1, 2},  // pass 2 (forward) from 24 on, then pass 3
        {{1, 3, 24 * kSector}, 2, 2, 1},  // pass 1 (backward) below 24, then pass 2
        {{3, 3, 0}, 2, 0, 0},             // the passes the settings give now are done
    };
    ASSERT_TRUE(copy("/src/f"));
    const Bytes copied = medium.contents("/out/f");
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "pass " << c.record.pass << " at " << c.record.offset);
        ASSERT_TRUE(replaceLog(medium, "/out/f.log", RegionMap(regions), size, c.record));
        setSetting(*engine, &EngineSettings::retryPasses, c.passesNow);
        const std::size_t before = reads().size();
        ASSERT_TRUE(copy("/src/f"));
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        std::map<std::uint64_t, int> n;
        countBadReads(n, before, SIZE_MAX);
        for (std::uint64_t s : kBad) EXPECT_EQ(n[s], s < 24 ? c.readsBelow24 : c.readsFrom24) << s;
        EXPECT_EQ(medium.contents("/out/f"), copied);
        expectFinishedLog();
    }
}

// Running a finished copy again reads the regions its log lists, through the trim and
// the retry passes, and nothing else beyond the source check's few sectors.
TEST_F(RetryPassTest, ARerunOverAFinishedCopyReadsOnlyTheListedRegions)
{
    weakBetweenBad(4);  // main pass and two passes: three reads, one short
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_FALSE(engine->triesAgain());
    ASSERT_EQ(engine->badRegions(), kBadLeft);
    const std::size_t firstRun = reads().size();

    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_TRUE(engine->triesAgain());
    const std::vector<BadRegion> left = {
        {10 * kSector, kSector}, {20 * kSector, kSector}, {22 * kSector, kSector}};
    EXPECT_EQ(engine->badRegions(), left);
    EXPECT_EQ(medium.contents("/out/f"), withZeros(left));
    const std::vector<std::uint64_t> all = reads();
    const RegionMap listed(kBadLeft);
    int outside = 0;
    for (std::size_t i = firstRun; i < all.size(); ++i) {
        if (!listed.meets(all[i], all[i] + kSector)) ++outside;
    }
    EXPECT_LE(outside, 16);  // the source check: its sectors, and the copy's start and end
    // Trim 10, 20, 22; pass 1: 22, 21 (its fourth read gives it), 20, 10; pass 2: 10, 20, 22.
    EXPECT_EQ(all.size() - firstRun - static_cast<std::size_t>(outside), 10u);

    // A copy whose log lists nothing is not tried again.
    medium.removeFile("/out/f.log");
    medium.addFile("/src/g", source);
    ASSERT_TRUE(copy("/src/g"));
    ASSERT_TRUE(copy("/src/g"));
    EXPECT_FALSE(engine->triesAgain());
}

// A region that starts exactly at an Append's base is the appended file's own: the
// retry passes read it (those before the base belong to the copy appended to).
TEST_F(RetryPassTest, ARegionAtAnAppendsBaseIsRetried)
{
    const Bytes old = pattern(3 * kSector, 4);
    medium.addFile("/out/f", old);
    medium.addFile("/out/f.log", logBytes("f", 0, {{0, kSector}, {3 * kSector, 0}}));
    setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Append);
    // Source sector 1 gives its data on its third read (main pass, trim, first retry);
    // sectors 0 and 2 never do, so the trim stops at both edges of the region.
    medium.markBad("/src/f", 0, kSector);
    medium.markWeak("/src/f", kSector, kSector, 2);
    medium.markBad("/src/f", 2 * kSector, kSector);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    const std::uint64_t base = old.size();
    EXPECT_EQ(
        engine->badRegions(),
        (std::vector<BadRegion>{{0, kSector}, {base, kSector}, {base + 2 * kSector, kSector}}));
    EXPECT_EQ(slice(medium.contents("/out/f"), base + kSector, base + 2 * kSector),
              slice(source, kSector, 2 * kSector));
}

// No sector is read more than 1 + RetryPasses times after its first failure (its chunk's),
// the main pass's sector reads counted, but the trim's read is not taken away: sector 10
// where a chunk failed first, sector 20 behind it.
TEST_F(RetryPassTest, NoSectorIsReadMoreThanTheBudgetAfterItsFirstFailure)
{
    struct Case
    {
        std::uint32_t attempts;  // 0: automatic
        std::uint32_t passes;
        int reads;  // sector reads of each
    };
    for (const Case c :
         {Case{0, 2, 3}, Case{3, 2, 3}, Case{2, 1, 2}, Case{4, 1, 4}, Case{1, 0, 2}}) {
        SCOPED_TRACE(::testing::Message() << "attempts " << c.attempts << ", passes " << c.passes);
        medium.removeFile("/out/f");
        medium.removeFile("/out/f.log");
        medium.addFile("/src/f", source);
        medium.markBad("/src/f", 10 * kSector, kSector);
        medium.markBad("/src/f", 20 * kSector, kSector);
        setSetting(*engine, &EngineSettings::autoRereads, c.attempts == 0);
        setSetting(*engine, &EngineSettings::rereadCount, std::max(c.attempts, 1u));
        setSetting(*engine, &EngineSettings::retryPasses, c.passes);
        ASSERT_TRUE(copy("/src/f"));
        EXPECT_EQ(readsAt(10 * kSector), c.reads);
        EXPECT_EQ(readsAt(20 * kSector), c.reads);
    }
}

}  // namespace
}  // namespace tessaly::testing
