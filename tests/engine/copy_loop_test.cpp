#include <algorithm>
#include <atomic>

#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class CopyLoopTest : public EngineTest
{
protected:
    // The main pass alone: its reads, fills and log (the trim pass after it has
    // tests of its own).
    CopyLoopTest() { setSetting(*engine, &EngineSettings::trimPass, false); }
    // Reads of the file that started at offset.
    int readsAt(const std::string& path, std::uint64_t offset)
    {
        const auto offsets = medium.readOffsets(path);
        return static_cast<int>(std::count(offsets.begin(), offsets.end(), offset));
    }
    std::vector<std::uint32_t> regionLengthsInSectors()
    {
        std::vector<std::uint32_t> lengths;
        for (const BadRegion& r : engine->badRegions()) lengths.push_back(r.length / 512);
        return lengths;
    }
};

TEST_F(CopyLoopTest, CleanCopyIsExactReadsAlignedAndLeavesNoLog)
{
    const Bytes source = pattern(100000);  // not a whole number of sectors
    medium.addFile("/src/a.bin", source);
    ASSERT_TRUE(copy("/src/a.bin"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/out/a.bin"), source);
    EXPECT_EQ(engine->snapshot().position, engine->snapshot().fileSize);
    EXPECT_EQ(engine->position(), 100000u);
    EXPECT_EQ(engine->sectorSize(), 512u);
    EXPECT_FALSE(medium.hasFile("/out/a.bin.log"));
    for (std::uint64_t offset : medium.readOffsets("/src/a.bin")) EXPECT_EQ(offset % 512, 0u);

    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, false);
    setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Replace);
    ASSERT_TRUE(copy("/src/a.bin"));
    EXPECT_EQ(logOf("/out/a.bin.log"), logBytes("a.bin", 0, {{100000, 0}}));
}

// The size is taken when the source is opened; what is added to the file during
// the copy is not copied, and the position never passes the size.
TEST_F(CopyLoopTest, SourceThatGrowsDuringTheCopyGivesItsSizeAtTheStart)
{
    const Bytes source = pattern(20000);  // chunk 1536, the last read asks for 512
    medium.addFile("/src/g", source);
    std::unique_ptr<File> writer =
        medium.open("/src/g", Disposition::OpenExisting, Access::Write, nullptr);
    ASSERT_TRUE(writer);
    writer->seek(0, Whence::End);
    ticks.hook = [this, &writer] {
        if (engine->busy() && engine->position() > 0 && writer) {
            const Bytes more(4096, 0xEE);
            writer->write(more.data(), more.size());
            writer.reset();
        }
    };
    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, false);
    ASSERT_TRUE(copy("/src/g"));
    ticks.hook = nullptr;
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(engine->position(), 20000u);
    EXPECT_EQ(engine->snapshot().position, engine->snapshot().fileSize);
    EXPECT_EQ(medium.contents("/out/g"), source);
    EXPECT_EQ(logOf("/out/g.log"), logBytes("g", 0, {{20000, 0}}));
}

// A source cut short during the copy gives nothing past its new end: the rest of
// the size taken at the start is filled and listed, as any unreadable part.
TEST_F(CopyLoopTest, SourceThatShrinksDuringTheCopyIsFilledToItsSizeAtTheStart)
{
    const Bytes source = pattern(20480);  // chunk 2048
    medium.addFile("/src/s", source);
    std::unique_ptr<File> writer =
        medium.open("/src/s", Disposition::OpenExisting, Access::Write, nullptr);
    ASSERT_TRUE(writer);
    ticks.hook = [this, &writer] {
        if (engine->busy() && engine->position() >= 4096 && writer) {
            writer->truncate(6144);  // the chunk at 4096 has just been read
            writer.reset();
        }
    };
    setSetting(*engine, &EngineSettings::optimizeFor, 1.0f);
    ASSERT_TRUE(copy("/src/s"));
    ticks.hook = nullptr;
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(engine->filledBytes(), 20480 - 6144);
    Bytes expected = source;
    std::fill(expected.begin() + 6144, expected.end(), 0);
    EXPECT_EQ(medium.contents("/out/s"), expected);
    std::uint32_t end = 6144;
    for (const BadRegion& r : engine->badRegions()) {
        EXPECT_EQ(r.offset, end);
        end += r.length;
    }
    EXPECT_EQ(end, 20480u);
}

TEST_F(CopyLoopTest, EmptySourceEndsAtOnceWithAnEndRecord)
{
    medium.addFile("/src/empty", Bytes{});
    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, false);
    ASSERT_TRUE(copy("/src/empty"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(engine->snapshot().position, engine->snapshot().fileSize);
    EXPECT_TRUE(medium.hasFile("/out/empty"));
    EXPECT_EQ(logOf("/out/empty.log"), logBytes("empty", 0, {{0, 0}}));
    EXPECT_EQ(medium.readCount("/src/empty"), 0);
}

struct FillCase
{
    const char* name;
    FillType type;
    std::uint8_t value;
    std::string pattern;
    std::uint64_t badOffset;
    std::function<Bytes(const Bytes& source, std::uint64_t bad)> expected;
};

class FillTest : public CopyLoopTest, public ::testing::WithParamInterface<FillCase>
{
};

Bytes replaced(const Bytes& source, std::uint64_t at,
               const std::function<std::uint8_t(std::size_t)>& f)
{
    Bytes out = source;
    for (std::size_t i = 0; i < 512; ++i) out[at + i] = f(i);
    return out;
}

TEST_P(FillTest, ReplacesAnUnreadableSector)
{
    const FillCase& c = GetParam();
    const Bytes source = pattern(20480);
    medium.addFile("/src/f", source);
    medium.markBad("/src/f", c.badOffset, 512);
    setSetting(*engine, &EngineSettings::fillType, c.type);
    setSetting(*engine, &EngineSettings::fillValue, c.value);
    setSetting(*engine, &EngineSettings::fillString, c.pattern);
    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, false);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/out/f"), c.expected(source, c.badOffset));
    const std::uint32_t bad = static_cast<std::uint32_t>(c.badOffset);
    EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{bad, 512}}));
    EXPECT_EQ(engine->filledBytes(), 512);
    EXPECT_EQ(logOf("/out/f.log"),
              logBytes("f", static_cast<std::int32_t>(c.type), {{bad, 512}, {20480, 0}}));
}

INSTANTIATE_TEST_SUITE_P(
    EveryFill, FillTest,
    ::testing::Values(FillCase{"Zeros", FillType::Zeros, 0x11, "ab", 3072,
                               [](const Bytes& s, std::uint64_t at) {
                                   return replaced(s, at, [](std::size_t) { return 0; });
                               }},
                      FillCase{"Value", FillType::Value, 0xA5, "", 3072,
                               [](const Bytes& s, std::uint64_t at) {
                                   return replaced(s, at, [](std::size_t) { return 0xA5; });
                               }},
                      FillCase{"String", FillType::String, 0, "xyz", 3072,
                               [](const Bytes& s, std::uint64_t at) {
                                   return replaced(s, at, [](std::size_t i) {
                                       return static_cast<std::uint8_t>("xyz"[i % 3]);
                                   });
                               }},
                      FillCase{"OneCharStringIsValue", FillType::String, 0, "Q", 3072,
                               [](const Bytes& s, std::uint64_t at) {
                                   return replaced(s, at, [](std::size_t) { return 'Q'; });
                               }},
                      FillCase{"EmptyStringIsZeros", FillType::String, 0x11, "", 3072,
                               [](const Bytes& s, std::uint64_t at) {
                                   return replaced(s, at, [](std::size_t) { return 0; });
                               }},
                      FillCase{"LastGood", FillType::LastGood, 0, "", 3072,
                               [](const Bytes& s, std::uint64_t at) {
                                   return replaced(
                                       s, at, [&s, at](std::size_t i) { return s[at - 512 + i]; });
                               }},
                      FillCase{"LastGoodBeforeAnyReadIsZeros", FillType::LastGood, 0, "", 0,
                               [](const Bytes& s, std::uint64_t at) {
                                   return replaced(s, at, [](std::size_t) { return 0; });
                               }},
                      FillCase{"NothingShortensTheCopy", FillType::Nothing, 0, "", 3072,
                               [](const Bytes& s, std::uint64_t at) {
                                   Bytes out = s;
                                   out.erase(out.begin() + static_cast<std::ptrdiff_t>(at),
                                             out.begin() + static_cast<std::ptrdiff_t>(at + 512));
                                   return out;
                               }}),
    [](const ::testing::TestParamInfo<FillCase>& p) { return std::string(p.param.name); });

TEST_F(CopyLoopTest, UnknownFillTypeFailsAsAWriteFailure)
{
    medium.addFile("/src/f", pattern(20480));
    medium.markBad("/src/f", 3072, 512);
    // As an unchecked profile value would give it.
    setSetting(*engine, &EngineSettings::fillType, static_cast<FillType>(9));
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::WriteFailed);
    EXPECT_EQ(engine->position(), 3072u);
    EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 9, {{3072, 0}}));
}

TEST_F(CopyLoopTest, FillSpanDoublesAtSpeedUpToOneChunk)
{
    medium.addFile("/src/f", pattern(409600));  // chunk 40960 bytes, 80 sectors
    medium.markBad("/src/f", 100 * 512, 255 * 512);
    setSetting(*engine, &EngineSettings::optimizeFor, 1.0f);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(regionLengthsInSectors(),
              (std::vector<std::uint32_t>{1, 2, 4, 8, 16, 32, 64, 80, 80}));
    EXPECT_EQ(engine->filledBytes(), 287 * 512);
    ASSERT_EQ(engine->badRegionCount(), 9u);
    EXPECT_EQ(engine->badRegionsFrom(7),
              (std::vector<BadRegion>{{227 * 512, 80 * 512}, {307 * 512, 80 * 512}}));
    EXPECT_TRUE(engine->badRegionsFrom(9).empty());
}

TEST_F(CopyLoopTest, FillSpanFallsBackToOneSectorAfter41GoodReads)
{
    for (std::uint32_t gap : {40u, 41u}) {
        SCOPED_TRACE(gap);
        const std::string path = "/src/f" + std::to_string(gap);
        medium.addFile(path, pattern(409600));
        medium.markBad(path, 100 * 512, 7 * 512);  // filled 1, 2, 4 sectors
        medium.markBad(path, (107 + gap) * 512, 512);
        setSetting(*engine, &EngineSettings::optimizeFor, 1.0f);
        ASSERT_TRUE(copy(path));
        const std::uint32_t next = gap == 41 ? 1 : 8;
        EXPECT_EQ(regionLengthsInSectors(), (std::vector<std::uint32_t>{1, 2, 4, next}));
    }
}

struct LimitCase
{
    DriveType drive;
    float optimizeFor;
    bool autoRereads;
    std::uint32_t rereadCount;
    int expectedAttempts;
};

class AttemptLimitTest : public CopyLoopTest, public ::testing::WithParamInterface<LimitCase>
{
};

TEST_P(AttemptLimitTest, ReadsAnUnreadableSectorThatOftenBeforeFilling)
{
    const LimitCase& c = GetParam();
    medium.setVolume("/src/", VolumeInfo{512, c.drive});
    medium.addFile("/src/f", pattern(20480));
    medium.markBad("/src/f", 1536, 512);
    setSetting(*engine, &EngineSettings::optimizeFor, c.optimizeFor);
    setSetting(*engine, &EngineSettings::autoRereads, c.autoRereads);
    setSetting(*engine, &EngineSettings::rereadCount, c.rereadCount);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->driveType(), c.drive);
    EXPECT_EQ(readsAt("/src/f", 1536), c.expectedAttempts);
    EXPECT_EQ(engine->badRegions().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(DrivesAndSettings, AttemptLimitTest,
                         ::testing::Values(LimitCase{DriveType::CdRom, 0.0f, true, 1, 2},
                                           LimitCase{DriveType::CdRom, 0.5f, true, 1, 2},
                                           LimitCase{DriveType::CdRom, 0.6f, true, 1, 1},
                                           LimitCase{DriveType::Removable, 0.0f, true, 3, 1},
                                           LimitCase{DriveType::Fixed, 0.0f, false, 3, 3},
                                           LimitCase{DriveType::CdRom, 0.0f, false, 1, 1}));

TEST_F(CopyLoopTest, AutoRereadsDropToOneAttemptAfter20FillsWithoutRecovery)
{
    medium.setVolume("/src/", VolumeInfo{512, DriveType::CdRom});
    medium.addFile("/src/f", pattern(40960));
    medium.markBad("/src/f", 10 * 512, 30 * 512);
    ASSERT_TRUE(copy("/src/f"));
    ASSERT_EQ(engine->badRegions().size(), 30u);
    for (std::uint64_t sector = 10; sector < 40; ++sector) {
        EXPECT_EQ(readsAt("/src/f", sector * 512), sector < 31 ? 2 : 1) << "sector " << sector;
    }
}

TEST_F(CopyLoopTest, AutoRereadsKeepTheirLimitWhileRereadsOftenSucceed)
{
    medium.setVolume("/src/", VolumeInfo{512, DriveType::CdRom});
    medium.addFile("/src/f", pattern(40960));
    for (std::uint64_t sector = 10; sector < 60; sector += 2) {
        medium.markBad("/src/f", sector * 512, 512);
        medium.markWeak("/src/f", (sector + 1) * 512, 512, 1);
    }
    ASSERT_TRUE(copy("/src/f"));
    ASSERT_EQ(engine->badRegions().size(), 25u);
    EXPECT_EQ(readsAt("/src/f", 58 * 512), 2);
    EXPECT_EQ(slice(medium.contents("/out/f"), 59 * 512, 60 * 512),
              slice(pattern(40960), 59 * 512, 60 * 512));
}

TEST_F(CopyLoopTest, StopRequestedWhileIdleStopsTheNextCopyAtItsFirstPass)
{
    medium.addFile("/src/f", pattern(20480));
    engine->requestStop(false);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Stopped);
    EXPECT_EQ(engine->position(), 0u);
    EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {{0, 0}}));
    EXPECT_TRUE(medium.contents("/out/f").empty());
    // The request ended with that copy: the next one runs through.
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/out/f"), pattern(20480));
}

TEST_F(CopyLoopTest, StopJustAfterTheLastBytesStillEndsOk)
{
    // 4096 bytes are read in eight one-sector chunks; the clock is read while
    // each read is counted, before the position moves on.
    for (std::uint32_t stopAt : {6u * 512, 7u * 512}) {
        SCOPED_TRACE(stopAt);
        medium.addFile("/src/f", pattern(4096));
        ticks.hook = [this, stopAt] {
            if (engine->busy() && engine->position() >= stopAt) engine->requestStop(false);
        };
        setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Replace);
        ASSERT_TRUE(copy("/src/f"));
        ticks.hook = nullptr;
        if (stopAt == 7 * 512) {
            EXPECT_EQ(engine->status(), EngineStatus::Ok);
            EXPECT_EQ(medium.contents("/out/f"), pattern(4096));
        } else {
            EXPECT_EQ(engine->status(), EngineStatus::Stopped);
            EXPECT_EQ(engine->position(), 7u * 512);
            EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {{7 * 512, 0}}));
        }
    }
}

TEST_F(CopyLoopTest, StopAmongFillsEndsWithTheRegionsAndTheEndRecord)
{
    medium.addFile("/src/f", pattern(20480));
    medium.markBad("/src/f", 2048, 512);
    medium.markBad("/src/f", 3072, 2048);
    ticks.hook = [this] {
        if (engine->filledBytes() >= 1024) engine->requestStop(false);
    };
    ASSERT_TRUE(copy("/src/f"));
    // The request comes while the third fill is counted; that fill completes.
    EXPECT_EQ(engine->status(), EngineStatus::Stopped);
    EXPECT_EQ(engine->badRegions(),
              (std::vector<BadRegion>{{2048, 512}, {3072, 512}, {3584, 512}}));
    EXPECT_EQ(logOf("/out/f.log"),
              logBytes("f", 0, {{2048, 512}, {3072, 512}, {3584, 512}, {4096, 0}}));
    EXPECT_EQ(medium.contents("/out/f").size(), 4096u);
}

TEST_F(CopyLoopTest, RemovedMediumEndsWithNotReadyAndNoFill)
{
    const Bytes source = pattern(204800);  // chunk 20480
    medium.addFile("/src/f", source);
    medium.setRemovalAfter(3 * 20480);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::NotReady);
    EXPECT_TRUE(engine->badRegions().empty());
    EXPECT_EQ(engine->filledBytes(), 0);
    EXPECT_EQ(medium.contents("/out/f"), slice(source, 0, 3 * 20480));
    EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {{3 * 20480, 0}}));
}

TEST_F(CopyLoopTest, MediumRemovedAmongSectorReadsIsNotFilledEither)
{
    medium.addFile("/src/f", pattern(20480));
    medium.markBad("/src/f", 4096, 512);
    ticks.hook = [this] {
        if (engine->filledBytes() > 0) medium.removeMedium();
    };
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::NotReady);
    EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{4096, 512}}));
    // The read after the fill still worked; the next one found the medium gone.
    EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {{4096, 512}, {5120, 0}}));
}

TEST_F(CopyLoopTest, FailedWritesEndWithWriteFailedAndTheReachedPosition)
{
    const Bytes source = pattern(20480);  // chunk 2048
    struct Case
    {
        const char* name;
        std::function<void(const std::string&)> arrange;
        std::uint32_t reached;
    };
    const Case cases[] = {
        {"data write refused", [this](const std::string& d) { medium.setWriteLimit(d, 4096); },
         4096},
        // A short write would leave a gap that shifts all later data.
        {"short data write", [this](const std::string& d) { medium.setShortWrites(d, 1000); }, 0},
        {"fill write refused",
         [this](const std::string& d) {
             medium.markBad("/src/g", 2048, 512);
             medium.setWriteLimit(d, 2048);
         },
         2048},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name[0] == 'f' ? "g" : std::string("w") + c.name[0];
        medium.addFile("/src/" + name, source);
        c.arrange("/out/" + name);
        ASSERT_TRUE(copy("/src/" + name));
        EXPECT_EQ(engine->status(), EngineStatus::WriteFailed);
        EXPECT_EQ(engine->position(), c.reached);
        EXPECT_EQ(logOf("/out/" + name + ".log"), logBytes(name, 0, {{c.reached, 0}}));
        // The destination ends at the end record, so that Resume continues in step.
        EXPECT_EQ(medium.contents("/out/" + name), slice(source, 0, c.reached));
    }
}

TEST_F(CopyLoopTest, FullDiskLeavesACopyThatResumesExactly)
{
    const Bytes source = pattern(20480);  // chunk 2048
    medium.addFile("/src/f", source);
    // Once the copy runs, the disk has room for 5000 bytes of data beside the log's
    // header: the third chunk only partly fits.
    const std::uint64_t header = logBytes("f", 0, {}).size();
    bool filled = false;
    ticks.hook = [&] {
        if (!filled) medium.setQuota(20480 + header + 5000);
        filled = true;
    };
    setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Resume);
    ASSERT_TRUE(copy("/src/f"));
    ticks.hook = nullptr;
    EXPECT_EQ(engine->status(), EngineStatus::WriteFailed);
    EXPECT_EQ(medium.contents("/out/f"), slice(source, 0, 4096));

    medium.setQuota(std::uint64_t{1} << 30);
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/out/f"), source);
}

// A record that only partly fits (a full disk) is lost, but the log stays a
// sequence of whole records that a later run can read and continue.
TEST_F(CopyLoopTest, ARecordWrittenInPartIsCutOffTheLogAndItsFillIsNotWritten)
{
    medium.addFile("/src/f", pattern(20480));  // chunk 2048
    medium.markBad("/src/f", 2048, 512);
    medium.markBad("/src/f", 8192, 512);
    bool limited = false;
    ticks.hook = [&] {
        if (engine->filledBytes() == 512 && !limited) {
            medium.setWriteLimit("/out/f.log", 4);  // the second record gets 4 bytes
            limited = true;
        }
    };
    ASSERT_TRUE(copy("/src/f"));
    ticks.hook = nullptr;
    EXPECT_EQ(engine->status(), EngineStatus::LogWriteFailed);
    EXPECT_EQ(logOf("/out/f.log"), logBytes("f", 0, {{2048, 512}}));
    EXPECT_EQ(medium.contents("/out/f").size(), 8192u);
}

// A run killed at any moment leaves a log that lists every fill its copy holds: when
// a fill reaches the copy, its record is in the log already.
TEST_F(CopyLoopTest, EveryFillIsInTheLogBeforeItIsInTheCopy)
{
    medium.addFile("/src/f", pattern(20480));  // chunk 2048
    medium.markBad("/src/f", 2048, 512);
    medium.markBad("/src/f", 8192, 1024);
    std::vector<std::pair<std::uint64_t, Bytes>> logAtFill;
    // Only fills are written at these offsets: they lie in the bad ranges.
    medium.setWriteHook("/out/f", [&](std::uint64_t offset) {
        if (offset == 2048 || offset == 8192 || offset == 8704) {
            logAtFill.emplace_back(offset, logOf("/out/f.log"));
        }
    });
    ASSERT_TRUE(copy("/src/f"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    ASSERT_EQ(logAtFill.size(), 3u);
    EXPECT_EQ(logAtFill[0].second, logBytes("f", 0, {{2048, 512}}));
    EXPECT_EQ(logAtFill[1].second, logBytes("f", 0, {{2048, 512}, {8192, 512}}));
    EXPECT_EQ(logAtFill[2].second, logBytes("f", 0, {{2048, 512}, {8192, 512}, {8704, 512}}));
}

TEST_F(CopyLoopTest, LogHoldsEveryRegionByteForByte)
{
    medium.addFile("/src/data.img", pattern(20480));
    medium.markBad("/src/data.img", 512, 512);
    medium.markBad("/src/data.img", 19968, 512);
    setSetting(*engine, &EngineSettings::fillType, FillType::Value);
    ASSERT_TRUE(copy("/src/data.img"));
    EXPECT_EQ(engine->filledBytes(), 1024);
    EXPECT_EQ(logOf("/out/data.img.log"),
              logBytes("data.img", 1, {{512, 512}, {19968, 512}, {20480, 0}}));
}

class SettableTicks : public TickSource
{
public:
    std::uint32_t now() const override { return at.load(); }
    std::atomic<std::uint32_t> at{1000};
};

// A drive that does not answer holds a read in the kernel; the engine tells how long.
TEST(ReadWait, TellsHowLongTheCurrentReadHasRun)
{
    ScriptedMedium medium;
    medium.addFolder("/out");
    medium.addFile("/src/a.bin", Bytes(300000, 7));
    SettableTicks ticks;
    std::atomic<int> reads{0};
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    medium.setReadHook("/src/a.bin", [&](std::uint64_t) {
        if (++reads != 2) return;
        held = true;
        while (!release) sleepMs(1);
    });
    CopyEngine engine(medium, ticks);
    EXPECT_EQ(engine.readWaitMs(), 0u);
    ASSERT_TRUE(engine.startFile("/src/a.bin", "/out", ""));
    while (!held) sleepMs(1);
    EXPECT_EQ(engine.readWaitMs(), 0u);  // timed from the first poll that sees it
    ticks.at += 6500;
    EXPECT_EQ(engine.readWaitMs(), 6500u);
    ticks.at += 500;
    EXPECT_EQ(engine.readWaitMs(), 7000u);
    release = true;
    while (!engine.waitUntilIdle(1000)) {
    }
    EXPECT_EQ(engine.status(), EngineStatus::Ok);
    EXPECT_EQ(engine.readWaitMs(), 0u);
}

}  // namespace
}  // namespace tessaly::testing
