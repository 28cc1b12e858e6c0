// Get and Put with copies of many GiB, over sparse files of the scripted medium:
// regions past 4 GiB in the wide log form, regions longer than the jobs' buffer in
// both forms, and wide logs whose regions the copy cannot hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/fill_type.h"
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

constexpr std::uint64_t kGiB = 1ull << 30;
constexpr std::uint64_t kSize = 5 * kGiB;
constexpr auto kZeros = static_cast<std::int32_t>(FillType::Zeros);

struct Piece
{
    BadRegion region;
    Bytes bytes;  // what the intact instance holds there
};

// An intact instance /good/disk.img and a copy /copy/disk.img of the same size whose
// regions were filled with zeros; each folder holds the log.
class WideTransferTest : public ::testing::Test
{
protected:
    void make(std::uint64_t size, const std::vector<BadRegion>& regions, LogForm form)
    {
        medium.addSparseFile("/good/disk.img", size);
        medium.addSparseFile("/copy/disk.img", size);
        std::uint32_t seed = 5;
        for (const BadRegion& r : regions) {
            pieces.push_back({r, pattern(static_cast<std::size_t>(r.length), seed++)});
            medium.writeAt("/good/disk.img", r.offset, pieces.back().bytes);
        }
        // Bytes the copy read well, beside the regions, that Put must leave alone.
        for (const BadRegion& r : regions) {
            const Bytes around = pattern(4096, seed++);
            medium.writeAt("/good/disk.img", r.offset - 4096, around);
            medium.writeAt("/copy/disk.img", r.offset - 4096, around);
        }
        std::vector<BadRegion> records = regions;
        records.push_back({size, 0});
        log = copyLogBytes("disk.img", kZeros, records, std::nullopt, form);
        medium.addFile("/good/disk.img.log", log);
        medium.addFile("/copy/disk.img.log", log);
    }
    TransferOutcome run(TransferKind kind, const std::string& folder)
    {
        TransferFiles files(medium);
        return runTransferJob({"disk.img.log", folder, kind}, files, ui);
    }
    Bytes at(const std::string& path, const BadRegion& r) const
    {
        return medium.contents(path, r.offset, r.length);
    }
    // Get from the intact instance, the transfer file carried to the copy, Put into it.
    void roundTrip()
    {
        ASSERT_EQ(run(TransferKind::Get, "/good"), TransferOutcome::Done);
        EXPECT_TRUE(ui.errors.empty());
        Bytes expected;
        for (const Piece& p : pieces) expected.insert(expected.end(), p.bytes.begin(), p.bytes.end());
        const Bytes transfer = medium.contents("/good/disk.img.mrd");
        ASSERT_EQ(transfer.size(), expected.size());
        EXPECT_TRUE(transfer == expected);
        ASSERT_FALSE(ui.progress.empty());
        EXPECT_EQ(ui.progress.back(), 100);

        // One byte more than the regions: made from another log, refused untouched.
        Bytes longer = transfer;
        longer.push_back(1);
        medium.addFile("/copy/disk.img.mrd", longer);
        int writes = 0;
        medium.setWriteHook("/copy/disk.img", [&writes](std::uint64_t) { ++writes; });
        ui = {};
        EXPECT_EQ(run(TransferKind::Put, "/copy"), TransferOutcome::Failed);
        EXPECT_EQ(ui.errors, (std::vector<JobMessage>{
                                 {text::kFileWord, "disk.img.mrd", text::kTransferTooLong}}));
        EXPECT_EQ(writes, 0);

        medium.addFile("/copy/disk.img.mrd", transfer);
        ui = {};
        ASSERT_EQ(run(TransferKind::Put, "/copy"), TransferOutcome::Done);
        EXPECT_GT(writes, 0);
        medium.setWriteHook("/copy/disk.img", {});
        EXPECT_TRUE(ui.errors.empty());
        EXPECT_EQ(medium.fileSize("/copy/disk.img"), medium.fileSize("/good/disk.img"));
        for (const Piece& p : pieces) {
            EXPECT_TRUE(at("/copy/disk.img", p.region) == p.bytes) << p.region.offset;
            const BadRegion around{p.region.offset - 4096, p.region.length + 8192};
            EXPECT_TRUE(at("/copy/disk.img", around) == at("/good/disk.img", around));
        }
    }

    ScriptedMedium medium;
    ScriptedUi ui;
    std::vector<Piece> pieces;
    Bytes log;
};

TEST_F(WideTransferTest, RoundTripOfAWideLogWithRegionsPast4GiB)
{
    // One region below 4 GiB, one across it, one at 4.5 GiB longer than the buffer.
    make(kSize,
         {{kGiB, 4096},
          {4 * kGiB - 2048, 8192},
          {4 * kGiB + kGiB / 2, 3 * kTransferBufferSize + 12345}},
         LogForm::Wide);
    roundTrip();
}

class BothFormsTransferTest : public WideTransferTest,
                              public ::testing::WithParamInterface<LogForm>
{
};

TEST_P(BothFormsTransferTest, RegionsLongerThanTheBufferMoveInPieces)
{
    // Exactly one buffer, one byte more, and several buffers up to the narrow form's
    // last offset.
    const std::uint64_t last = 0xFFFF'FFFFull - 4 * kTransferBufferSize;
    make(0xFFFF'FFFFull,
         {{8192, kTransferBufferSize},
          {16 * kTransferBufferSize, kTransferBufferSize + 1},
          {last, 4 * kTransferBufferSize - 7}},
         GetParam());
    roundTrip();
}

INSTANTIATE_TEST_SUITE_P(Forms, BothFormsTransferTest,
                         ::testing::Values(LogForm::Narrow, LogForm::Wide),
                         [](const ::testing::TestParamInfo<LogForm>& param) {
                             return std::string(param.param == LogForm::Wide ? "Wide" : "Narrow");
                         });

TEST_F(WideTransferTest, PutRefusesAWideLogWhoseRegionsPassTheCopyAndWritesNothing)
{
    const std::uint64_t shortCopy = 4 * kGiB + kGiB / 4;
    struct Case
    {
        const char* what;
        std::vector<BadRegion> records;
    };
    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    const Case cases[] = {
        {"region past the copy's end", {{4 * kGiB, 512}, {4 * kGiB + kGiB / 2, 4096}, {kSize, 0}}},
        {"region past the end record", {{4 * kGiB, 512}, {shortCopy - 4096, 8192}, {shortCopy - 4096, 0}}},
        // Offset plus length passes 2^64: counted at its true end, it is far beyond.
        {"region that wraps past 2^64", {{4096, 512}, {top - 4095, 8192}, {shortCopy, 0}}},
        {"region that ends at 2^64", {{4096, 512}, {top - 4095, 4096}, {shortCopy, 0}}},
        {"region at the last offset", {{4096, 512}, {top, 1}, {shortCopy, 0}}},
    };
    medium.addSparseFile("/copy/disk.img", shortCopy);
    medium.writeAt("/copy/disk.img", 4 * kGiB, pattern(8192, 3));
    int writes = 0;
    medium.setWriteHook("/copy/disk.img", [&writes](std::uint64_t) { ++writes; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ui = {};
        medium.addFile("/copy/disk.img.log",
                       copyLogBytes("disk.img", kZeros, c.records, std::nullopt, LogForm::Wide));
        medium.addFile("/copy/disk.img.mrd", pattern(8704, 9));
        EXPECT_EQ(run(TransferKind::Put, "/copy"), TransferOutcome::Failed);
        EXPECT_EQ(ui.errors,
                  (std::vector<JobMessage>{{text::kFileWord, "disk.img.log", text::kRegionsBeyondEnd}}));
        EXPECT_EQ(writes, 0);
        EXPECT_EQ(medium.fileSize("/copy/disk.img"), shortCopy);
        EXPECT_TRUE(medium.contents("/copy/disk.img", 4 * kGiB, 8192) == pattern(8192, 3));

        // Get of the same log from an instance of that size moves nothing either.
        ui = {};
        medium.addFile("/copy/disk.img.mrd", Bytes{});
        EXPECT_EQ(run(TransferKind::Get, "/copy"), TransferOutcome::Failed);
        EXPECT_EQ(ui.errors.size(), 1u);
        EXPECT_TRUE(medium.contents("/copy/disk.img.mrd").empty());
    }
}

}  // namespace
}  // namespace tessaly
