// Get and Put against logs whose regions lie beyond the file they describe, over the
// scripted medium with a small quota: such a log once made Get pad zeros until the
// volume was full and Put grow a 64 KiB copy to 4 GiB.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/copy_engine.h"
#include "tests/support/log_bytes.h"
#include "tests/support/scripted_medium.h"
#include "tests/tool/tool_test_support.h"
#include "tool/tool_texts.h"
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
                        std::int32_t fill = kZeros)
    {
        medium.addFile("/copy/a.bin.log", copyLogBytes("a.bin", fill, records));
        ui = {};
        TransferFiles files(medium);
        const TransferOutcome outcome = runTransferJob({"a.bin.log", "/copy", kind}, files, ui);
        EXPECT_FALSE(files.logFile.isOpen() || files.inputFile.isOpen() ||
                     files.outputFile.isOpen());
        return outcome;
    }
    // The job refused the log before it moved or created anything.
    void expectRefused(TransferOutcome outcome)
    {
        EXPECT_EQ(outcome, TransferOutcome::Failed);
        EXPECT_EQ(
            ui.errors,
            (std::vector<JobMessage>{{text::kFileWord, "a.bin.log", text::kRegionsBeyondEnd}}));
        EXPECT_TRUE(ui.states.empty());
        EXPECT_EQ(medium.contents("/copy/a.bin"), data);
    }

    ScriptedMedium medium;
    ScriptedUi ui;
    const Bytes data = pattern(kSize, 3);
};

TEST_F(CraftedLogTest, GetMovesNothingOfALogWhoseRegionsPassTheFilesEnd)
{
    struct Case
    {
        const char* what;
        std::vector<BadRegion> records;
    };
    const Case cases[] = {
        {"4 GiB region before the end record", {{65000, 0xFFFFFFFF}, {kSize, 0}}},
        {"region past the end record", {{0, 10}, {61000, 1000}, {kSize - 4096, 0}}},
        {"no end record: the data file's size", {{65000, 537}, {0, 10}, {65000, 600}}},
        {"regions that add up past 2^32", {{0, 0x80000000}, {0, 0x80000000}, {kSize, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectRefused(run(TransferKind::Get, c.records));
        EXPECT_FALSE(medium.hasFile("/copy/a.bin.mrd"));
    }
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
        {"Nothing, further than the fills left out",
         kNothing,
         {{0xFFFFFF00, 0xF0}, {0xFFFFFFFF, 0}}},
        {"Zeros, just past the copy's end", kZeros, {{kSize - 16, 32}, {kSize + 16, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectRefused(run(TransferKind::Put, c.records, c.fill));
    }
}

// With fill type Nothing the copy is shorter than the source by every filled
// region, and the log's offsets are the source's: a region past the copy's end is
// the bytes that were left out, and Put may write it there.
TEST_F(CraftedLogTest, PutRestoresRegionsThatANothingFillLeftOut)
{
    const Bytes tail = pattern(512, 5);
    medium.addFile("/copy/a.bin", Bytes(data.begin(), data.end() - 512));
    medium.addFile("/copy/a.bin.mrd", tail);
    ASSERT_EQ(run(TransferKind::Put, {{kSize - 512, 512}, {kSize, 0}}, kNothing),
              TransferOutcome::Done);
    Bytes expected(data.begin(), data.end() - 512);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(medium.contents("/copy/a.bin"), expected);
}

}  // namespace
}  // namespace tessaly
