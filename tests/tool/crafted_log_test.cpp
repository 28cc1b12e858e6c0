// Get and Put against logs whose regions lie beyond the file they describe, logs
// whose offsets are not the copy's, transfer files that do not belong to the log
// and copies in use, over the scripted medium with a small quota: such a log once
// made Get pad zeros until the volume was full and Put grow a 64 KiB copy to 4 GiB.
// A refused job writes nothing at all.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/copy_engine.h"
#include "tests/support/log_bytes.h"
#include "tests/support/scripted_medium.h"
#include "tests/tool/tool_test_support.h"
#include "texts/text_ids.h"
#include "tool/transfer_jobs.h"

namespace tessaly {
namespace {

using testing::Bytes;
using testing::copyLogBytes;
using testing::pattern;
using testing::ScriptedMedium;
using testing::ScriptedUi;

constexpr std::uint32_t kSize = 65536;
constexpr auto kZeros = static_cast<std::int32_t>(FillType::Zeros);
constexpr auto kNothing = static_cast<std::int32_t>(FillType::Nothing);

class CraftedLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        medium.addFile("/copy/a.bin", data);
        medium.setQuota(data.size() + 1024 * 1024);
    }
    TransferOutcome run(TransferKind kind, const std::vector<BadRegion>& records,
                        std::int32_t fill = kZeros, LogForm form = LogForm::Narrow)
    {
        medium.addFile("/copy/a.bin.log", copyLogBytes("a.bin", fill, records, {}, form));
        ui = {};
        TransferFiles files(medium);
        const TransferOutcome outcome = runTransferJob({"a.bin.log", "/copy", kind}, files, ui);
        EXPECT_FALSE(files.logFile.isOpen() || files.inputFile.isOpen() ||
                     files.outputFile.isOpen());
        return outcome;
    }
    // The job refused the log with message before it moved or created anything.
    void expectRefused(TransferOutcome outcome,
                       JobMessage message = {text::kFileWord, "a.bin.log", text::kRegionsBeyondEnd})
    {
        EXPECT_EQ(outcome, TransferOutcome::Failed);
        EXPECT_EQ(ui.errors, std::vector<JobMessage>{message});
        EXPECT_TRUE(ui.notices.empty());
        EXPECT_TRUE(ui.locateTitles.empty());
        EXPECT_TRUE(ui.states.empty());
        EXPECT_EQ(medium.contents("/copy/a.bin"), data);
    }

    ScriptedMedium medium;
    ScriptedUi ui;
    const Bytes data = pattern(kSize, 3);
};

TEST_F(CraftedLogTest, GetMovesNothingOfALogWhoseRegionsPassTheFilesEnd)
{
    const JobMessage shorter{text::kFileWord, "a.bin", text::kDataShorterThanRegions};
    const JobMessage pastEnd{text::kFileWord, "a.bin.log", text::kRegionsBeyondEnd};
    struct Case
    {
        const char* what;
        std::vector<BadRegion> records;
        const JobMessage& message;
    };
    const Case cases[] = {
        {"4 GiB region before the end record", {{65000, 0xFFFFFFFF}, {kSize, 0}}, shorter},
        {"region past the end record", {{0, 10}, {61000, 1000}, {kSize - 4096, 0}}, pastEnd},
        {"no end record: the data file's size", {{65000, 537}, {0, 10}, {65000, 600}}, shorter},
        {"regions that add up past 2^32",
         {{0, 0x80000000}, {0, 0x80000000}, {kSize, 0}},
         shorter},
        // An end record far out once let Get pad the 64 KiB file up to 4 GiB.
        {"a region up to a crafted end record", {{0, 0xFFFFFFFF}, {0xFFFFFFFF, 0}}, shorter},
        {"one byte past the file's end", {{kSize - 512, 513}, {kSize + 1, 0}}, shorter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectRefused(run(TransferKind::Get, c.records), c.message);
        EXPECT_FALSE(medium.hasFile("/copy/a.bin.mrd"));
    }
    // A transfer file from an earlier Get stays as it was.
    const Bytes earlier = pattern(100, 8);
    medium.addFile("/copy/a.bin.mrd", earlier);
    expectRefused(run(TransferKind::Get, {{0, 0xFFFFFFFF}, {0xFFFFFFFF, 0}}), shorter);
    EXPECT_EQ(medium.contents("/copy/a.bin.mrd"), earlier);

    // Up to the end exactly is a region of the file.
    ASSERT_EQ(run(TransferKind::Get, {{65000, 536}, {kSize, 0}}), TransferOutcome::Done);
    EXPECT_EQ(medium.contents("/copy/a.bin.mrd"), Bytes(data.begin() + 65000, data.end()));
}

TEST_F(CraftedLogTest, PutWritesOnlyWhereAFillOfTheCopyCanLie)
{
    medium.addFile("/copy/a.bin.mrd", pattern(0x100, 9));
    struct Case
    {
        const char* what;
        std::int32_t fill;
        std::vector<BadRegion> records;
    };
    const Case cases[] = {
        {"past the end record", kZeros, {{0xFFFFFF00, 0xF0}, {kSize, 0}}},
        {"past the copy's end", kZeros, {{0xFFFFFF00, 0xF0}, {0xFFFFFFFF, 0}}},
        {"no end record", kZeros, {{0xFFFFFF00, 0xF0}, {0, 10}}},
        {"Zeros, just past the copy's end", kZeros, {{kSize - 16, 32}, {kSize + 16, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectRefused(run(TransferKind::Put, c.records, c.fill));
    }
}

// A wide record whose length carries the regions' sum past 2^63 ends the reading of the
// log: the records before it are not the log, so neither job moves them and says Done.
TEST_F(CraftedLogTest, AJobRefusesALogWithARecordItCannotRead)
{
    medium.addFile("/copy/a.bin.mrd", pattern(10, 9));
    const std::vector<BadRegion> records = {{0, 10}, {100, ~std::uint64_t{0}}, {200, 30}, {kSize, 0}};
    for (const TransferKind kind : {TransferKind::Get, TransferKind::Put}) {
        expectRefused(run(kind, records, kZeros, LogForm::Wide),
                      {text::kFileWord, "a.bin.log", text::kDamagedLog});
        EXPECT_EQ(medium.contents("/copy/a.bin.mrd"), pattern(10, 9));
    }
}

// With fill type Nothing no byte was written for a filled region: the copy is
// shorter than the source and every later byte sits at another offset than the
// log's, so Put cannot know where a region belongs. Such a log once let Put grow a
// 4 KiB copy to 4 GB. A log without a copy log's header says no fill at all.
TEST_F(CraftedLogTest, PutRefusesALogWhoseOffsetsAreNotTheCopys)
{
    medium.addFile("/copy/a.bin.mrd", pattern(0x200, 9));
    expectRefused(run(TransferKind::Put, {{kSize - 512, 512}, {kSize, 0}}, kNothing),
                  {text::kFileWord, "a.bin.log", text::kNothingFillLog});
    // Regions that sum up past the copy's end by more than its size.
    expectRefused(run(TransferKind::Put,
                      {{0xF0000000, 0x100}, {0, 0xFFFFFFF0}, {0xFFFFFFFF, 0}}, kNothing),
                  {text::kFileWord, "a.bin.log", text::kNothingFillLog});
    EXPECT_EQ(medium.contents("/copy/a.bin.mrd"), pattern(0x200, 9));

    Bytes noMagic = copyLogBytes("a.bin", kZeros, {{0, 0x200}, {kSize, 0}});
    noMagic[0] = 'X';
    medium.addFile("/copy/a.bin.log", noMagic);
    ui = {};
    TransferFiles files(medium);
    expectRefused(runPut({"a.bin.log", "/copy", TransferKind::Put}, files, ui),
                  {text::kFileWord, "a.bin.log", text::kNoLogHeader});

    // Get reads the source's instance at the source's offsets: Nothing is no bar.
    ASSERT_EQ(run(TransferKind::Get, {{kSize - 512, 512}, {kSize, 0}}, kNothing),
              TransferOutcome::Done);
    EXPECT_EQ(medium.contents("/copy/a.bin.mrd"), Bytes(data.end() - 512, data.end()));
}

// Get makes a transfer file of exactly the regions' bytes; a longer one was made
// from another log, and its bytes would land at the wrong offsets.
TEST_F(CraftedLogTest, PutRefusesATransferFileLongerThanTheRegions)
{
    const std::vector<BadRegion> records = {{0, 100}, {1000, 100}, {kSize, 0}};
    medium.addFile("/copy/a.bin.mrd", pattern(201, 9));
    expectRefused(run(TransferKind::Put, records),
                  {text::kFileWord, "a.bin.mrd", text::kTransferTooLong});
    // A log without regions takes no transfer bytes at all.
    expectRefused(run(TransferKind::Put, {{kSize, 0}}),
                  {text::kFileWord, "a.bin.mrd", text::kTransferTooLong});

    const Bytes transfer = pattern(200, 9);
    medium.addFile("/copy/a.bin.mrd", transfer);
    ASSERT_EQ(run(TransferKind::Put, records), TransferOutcome::Done);
    Bytes expected = data;
    std::copy(transfer.begin(), transfer.begin() + 100, expected.begin());
    std::copy(transfer.begin() + 100, transfer.end(), expected.begin() + 1000);
    EXPECT_EQ(medium.contents("/copy/a.bin"), expected);
}

// A copy that a copy run is writing is in use, not missing: Put says so, asks for
// no other file and leaves the copy alone, also when the user locates that copy.
TEST_F(CraftedLogTest, PutSaysACopyThatACopyRunHoldsIsInUse)
{
    medium.addFile("/copy/a.bin.mrd", pattern(0x100, 9));
    PlainFile copyRun(medium);
    ASSERT_TRUE(copyRun.openExisting("/copy/a.bin", Access::Write));
    ASSERT_TRUE(copyRun.file()->tryLock());
    expectRefused(run(TransferKind::Put, {{0, 0x100}, {kSize, 0}}),
                  {text::kFileWord, "a.bin", text::kCopyHeldByRun});

    medium.addFile("/copy/b.bin.log", copyLogBytes("b.bin", kZeros, {{0, 0x100}, {kSize, 0}}));
    ui = {};
    ui.locateAnswer = "/copy/a.bin";
    TransferFiles files(medium);
    EXPECT_EQ(runPut({"b.bin.log", "/copy", TransferKind::Put}, files, ui),
              TransferOutcome::Failed);
    EXPECT_EQ(ui.notices, (std::vector<JobMessage>{
                              {text::kFileWord, "b.bin", text::kMissingForPut}}));
    EXPECT_EQ(ui.errors, (std::vector<JobMessage>{
                             {text::kFileWord, "a.bin", text::kCopyHeldByRun}}));
    EXPECT_EQ(medium.contents("/copy/a.bin"), data);

    // Once the run has ended, the same Put goes through.
    copyRun.close();
    ASSERT_EQ(run(TransferKind::Put, {{0, 0x100}, {kSize, 0}}), TransferOutcome::Done);
    const Bytes put = medium.contents("/copy/a.bin");
    EXPECT_EQ(Bytes(put.begin(), put.begin() + 0x100), pattern(0x100, 9));
}

}  // namespace
}  // namespace tessaly
