#include "engine/trim_pass.h"

#include <algorithm>
#include <map>

#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kSector = 512;

class TrimPassTest : public EngineTest
{
protected:
    // The trim alone: the retry passes after it have tests of their own.
    TrimPassTest()
    {
        medium.addFile("/src/f", source);
        setSetting(*engine, &EngineSettings::retryPasses, 0u);
    }

    int readsAt(std::uint64_t offset)
    {
        const auto offsets = medium.readOffsets("/src/f");
        return static_cast<int>(std::count(offsets.begin(), offsets.end(), offset));
    }
    // The names in /out: the trim's scratch log must not stay behind.
    std::vector<std::string> outFiles()
    {
        std::vector<FolderEntry> entries;
        medium.listFolder("/out", &entries);
        std::vector<std::string> names;
        for (const FolderEntry& e : entries) names.push_back(e.name);
        std::sort(names.begin(), names.end());
        return names;
    }
    // The source with the bytes of the given regions zeroed, as a fill of zeros leaves it.
    Bytes withZeros(const std::vector<BadRegion>& regions) const
    {
        Bytes out = source;
        for (const BadRegion& r : regions)
            std::fill_n(out.begin() + r.offset, r.length, std::uint8_t{0});
        return out;
    }
    // A sector that fails as often as the main pass reads it, so that it is filled
    // there and reads in the trim pass: twice where the first failure of the file
    // happens (the chunk's read and the sector's), once behind it, where the loop
    // reads one sector at a time (it goes back to chunks only after 1 MiB).
    void weak(std::uint32_t sector, int reads = 2)
    {
        medium.markWeak("/src/f", sector * kSector, kSector, reads);
    }
    void weakSectors10To30()
    {
        weak(10);
        weak(20, 1);
        weak(30, 1);
    }

    Bytes source = pattern(64 * kSector + 100, 7);  // chunks of 6 sectors, a short last sector
    const std::uint32_t size = 64 * kSector + 100;
};

TEST_F(TrimPassTest, AWeakSectorEndsAsDataAndLeavesTheLog)
{
    weak(20);
    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, false);
    const std::uint32_t generation = engine->badRegionsGeneration();
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/out/f"), source);
    EXPECT_TRUE(engine->badRegions().empty());
    EXPECT_EQ(engine->filledBytes(), 0);
    EXPECT_NE(engine->badRegionsGeneration(), generation);
    EXPECT_EQ(engine->trimmingRegions(), 0u);
    EXPECT_EQ(engine->snapshot().position, size);
    EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {{size, 0}}));
    EXPECT_EQ(outFiles(), (std::vector<std::string>{"f", "f.log"}));

    // With nothing left filled, the log goes as after a clean copy.
    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, true);
    setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Replace);
    weak(20);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(medium.contents("/out/f"), source);
    EXPECT_FALSE(medium.hasFile("/out/f.log"));
}

// The trim's reads, read or failed, count in the speed as the main pass's do. The clock
// stands still, so a meter's rate is its bytes times 1000.
TEST_F(TrimPassTest, ItsReadsCountInTheRateMeters)
{
    medium.markBad("/src/f", 20 * kSector, 10 * kSector);
    setSetting(*engine, &EngineSettings::optimizeFor, 1.0f);
    setSetting(*engine, &EngineSettings::trimPass, false);
    ASSERT_TRUE(copy("/src/f"));
    const std::uint32_t mainPass = engine->shortRate();
    EXPECT_EQ(mainPass, size * 1000u);
    setSetting(*engine, &EngineSettings::trimPass, true);
    setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Replace);
    ASSERT_TRUE(copy("/src/f"));
    // Readable sectors behind the run, and one failed read at each of its ends.
    const std::uint32_t trimmed = engine->shortRate() - mainPass;
    EXPECT_GE(trimmed, 3 * kSector * 1000u);
    EXPECT_EQ(engine->longRate(), engine->shortRate());
}

// At Speed the fills over a dead run grow 1, 2, 4, 6 sectors and cover readable
// sectors behind it; the trim reads them back from the region's end, for one failed
// read at each end of the run.
TEST_F(TrimPassTest, ADeadRunAtSpeedKeepsItsReadableEdges)
{
    medium.markBad("/src/f", 20 * kSector, 10 * kSector);
    setSetting(*engine, &EngineSettings::optimizeFor, 1.0f);
    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, false);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    const std::vector<BadRegion> left = {{20 * kSector, 10 * kSector}};
    EXPECT_EQ(engine->badRegions(), left);
    EXPECT_EQ(engine->filledBytes(), static_cast<std::int32_t>(10 * kSector));
    EXPECT_EQ(medium.contents("/out/f"), withZeros(left));
    EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {left[0], {size, 0}}));
    EXPECT_EQ(readsAt(22 * kSector), 0);  // inside the run: never read
    EXPECT_EQ(readsAt(29 * kSector), 1);  // the backward read that failed
    EXPECT_EQ(readsAt(20 * kSector), 2);  // main pass and the forward read
}

TEST_F(TrimPassTest, RegionsAtTheStartAndAtTheShortEndOfTheFile)
{
    medium.markBad("/src/f", 0, kSector);
    weak(1);
    medium.markWeak("/src/f", 64 * kSector, 100, 1);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    const std::vector<BadRegion> left = {{0, kSector}};
    EXPECT_EQ(engine->badRegions(), left);
    EXPECT_EQ(medium.contents("/out/f"), withZeros(left));
    EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {left[0], {size, 0}}));
}

TEST_F(TrimPassTest, NothingFillAndTheSettingSkipTheTrim)
{
    weak(20);
    setSetting(*engine, &EngineSettings::fillType, FillType::Nothing);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{20 * kSector, kSector}}));
    EXPECT_EQ(medium.contents("/out/f").size(), size - kSector);
    EXPECT_EQ(readsAt(20 * kSector), 1);  // the sector read of the main pass only

    medium.removeFile("/out/f");
    medium.removeFile("/out/f.log");
    setSetting(*engine, &EngineSettings::fillType, FillType::Zeros);
    setSetting(*engine, &EngineSettings::trimPass, false);
    EXPECT_FALSE(engine->settings().trimPass);
    weak(20);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{20 * kSector, kSector}}));
    EXPECT_EQ(medium.contents("/out/f"), withZeros({{20 * kSector, kSector}}));
}

// A stop while the trim runs ends it at once: the regions it has read are gone from
// the list and the log, the others stay; the file counts as copied.
TEST_F(TrimPassTest, AStopDuringTheTrimKeepsWhatItRead)
{
    weakSectors10To30();
    std::vector<std::size_t> seen;
    medium.setWriteHook("/out/f", [this, &seen](std::uint64_t) {
        if (const std::size_t left = engine->trimmingRegions()) {
            seen.push_back(left);
            engine->requestStop(false);
        }
    });
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(seen, std::vector<std::size_t>{3});
    const std::vector<BadRegion> left = {{20 * kSector, kSector}, {30 * kSector, kSector}};
    EXPECT_EQ(engine->badRegions(), left);
    EXPECT_EQ(engine->filledBytes(), static_cast<std::int32_t>(2 * kSector));
    EXPECT_EQ(medium.contents("/out/f"), withZeros(left));
    EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {left[0], left[1], {size, 0}}));
}

// A removed medium ends the trim with NotReady and the regions read so far; the
// copy is continued later, and the trim then finishes.
TEST_F(TrimPassTest, AMediumRemovedDuringTheTrimEndsItAndAResumeFinishesIt)
{
    weakSectors10To30();
    medium.setRemovableMedium("/src");
    medium.setWriteHook("/out/f", [this](std::uint64_t) {
        if (engine->trimmingRegions() > 0) medium.removeMedium();
    });
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::NotReady);
    const std::vector<BadRegion> left = {{20 * kSector, kSector}, {30 * kSector, kSector}};
    EXPECT_EQ(engine->badRegions(), left);
    EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {left[0], left[1], {size, 0}}));

    medium.setWriteHook("/out/f", nullptr);
    medium.insertMedium();
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_TRUE(engine->badRegions().empty());
    EXPECT_EQ(medium.contents("/out/f"), source);
    EXPECT_FALSE(medium.hasFile("/out/f.log"));
}

// A kill during the trim, before its log replaces the old one or in the middle of
// its writes, leaves the main pass's whole log; a Resume then trims again.
TEST_F(TrimPassTest, AKillDuringTheTrimLeavesTheWholeLogAndResumes)
{
    const std::vector<BadRegion> filled = {
        {10 * kSector, kSector}, {20 * kSector, kSector}, {30 * kSector, kSector}};
    for (const bool atRename : {true, false}) {
        SCOPED_TRACE(atRename ? "killed at the rename" : "killed at a trim write");
        medium.removeFile("/out/f");
        medium.removeFile("/out/f.log");
        medium.addFile("/src/f", source);
        medium.markBad("/src/f", 30 * kSector, kSector);
        weak(10);
        weak(20, 1);
        std::map<std::string, Bytes> left;  // the files as the kill leaves them
        const auto kill = [this, &left] {
            if (!left.empty()) return;
            for (const char* path : {"/out/f", "/out/f.log"})
                if (medium.hasFile(path)) left[path] = medium.contents(path);
        };
        if (atRename) {
            medium.setRenameHook([&kill](const std::string&, const std::string&) { kill(); });
        } else {
            medium.setWriteHook("/out/f", [this, &kill](std::uint64_t) {
                if (engine->trimmingRegions() > 0) kill();
            });
        }
        ASSERT_TRUE(copy("/src/f"));
        medium.setRenameHook(nullptr);
        medium.setWriteHook("/out/f", nullptr);
        ASSERT_FALSE(left.empty());
        EXPECT_EQ(withoutAnnotations(left["/out/f.log"]),
                  logBytes("f", 0, {filled[0], filled[1], filled[2], {size, 0}}));
        for (const auto& [path, bytes] : left) medium.addFile(path, bytes);

        ASSERT_TRUE(copy("/src/f"));  // Resume, the default policy
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        EXPECT_EQ(engine->badRegions(), std::vector<BadRegion>{filled[2]});
        EXPECT_EQ(medium.contents("/out/f"), withZeros({filled[2]}));
        EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {filled[2], {size, 0}}));
        EXPECT_EQ(outFiles(), (std::vector<std::string>{"f", "f.log"}));
    }
}

// Two sources that fail at different sectors of one chunk: the main file's sector
// is read although the reserved copy, read last, failed there.
TEST_F(TrimPassTest, NoFillWhereTheMainFileReadsAfterAReservedCopyFailed)
{
    medium.addFile("/src/f.cp1", source);
    medium.markBad("/src/f", 7 * kSector, kSector);
    medium.markBad("/src/f.cp1", 6 * kSector, kSector);  // first sector of the chunk at 3072
    setSetting(*engine, &EngineSettings::trimPass, false);  // the main pass alone
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_TRUE(engine->badRegions().empty());
    EXPECT_EQ(medium.contents("/out/f"), source);

    // The trim reads a sector from whichever source gives it: 21 from the copy, 22
    // (filled unread at Speed) from the main file; 20 fails in both.
    medium.removeFile("/out/f");
    medium.markBad("/src/f", 20 * kSector, 2 * kSector);
    medium.markBad("/src/f.cp1", 20 * kSector, kSector);
    medium.markWeak("/src/f.cp1", 21 * kSector, kSector, 1);
    setSetting(*engine, &EngineSettings::trimPass, true);
    setSetting(*engine, &EngineSettings::optimizeFor, 1.0f);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{20 * kSector, kSector}}));
    EXPECT_EQ(medium.contents("/out/f"), withZeros({{20 * kSector, kSector}}));
}

// The pass reads a region forward until a sector fails and then backward down to the
// sector after it: the failed sector is not read a second time, nor any other.
TEST_F(TrimPassTest, EachSectorOfARegionIsReadAtMostOnce)
{
    const Bytes other = pattern(20 * kSector, 4);
    medium.addFile("/src/g", other);
    medium.addFile("/out/g", Bytes(other.size(), 0));
    SourceReader reader(medium);
    ASSERT_TRUE(reader.open("/src/g"));
    PlainFile destination(medium);
    ASSERT_TRUE(destination.openExisting("/out/g", Access::Write));
    const std::atomic<bool> stop{false};
    for (const std::uint32_t badAt : {10u, 11u, 12u}) {
        SCOPED_TRACE(badAt);
        medium.markBad("/src/g", badAt * kSector, kSector);
        const auto before = medium.readOffsets("/src/g").size();
        TrimPass pass({{&reader}, &destination, kSector, 0}, stop);
        const PassResult result = pass.run(RegionMap({{10 * kSector, 3 * kSector}}));
        EXPECT_EQ(result.regions, RegionMap({{badAt * kSector, kSector}}));
        const auto offsets = medium.readOffsets("/src/g");
        std::map<std::uint64_t, int> reads;
        for (auto i = before; i < offsets.size(); ++i) ++reads[offsets[i]];
        for (const auto& [offset, count] : reads) EXPECT_EQ(count, 1) << "sector " << offset / kSector;
        medium.addFile("/src/g", other);  // undamaged again for the next case
        ASSERT_TRUE(reader.open("/src/g"));
    }
}

}  // namespace
}  // namespace tessaly::testing
