// Copies that end past 4 GiB: offsets beyond 32 bits reach the copy, the log (in its
// wide form), the passes after the main pass and a continued run unchanged.
#include "engine/region_map.h"
#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::uint64_t k4GiB = 4 * kGiB;
constexpr std::uint64_t kSize = 5 * kGiB;

// A sparse 5 GiB source that holds distinct bytes around 4 GiB and at its end, so that
// data put at an offset cut to 32 bits (or shifted by a sector) shows; zeros elsewhere.
class LargeCopyTest : public EngineTest
{
protected:
    // Where the source holds data, and the data.
    struct Spot
    {
        std::uint64_t offset;
        Bytes bytes;
    };

    LargeCopyTest()
    {
        medium.addSparseFile("/src/big", kSize);
        for (const std::uint64_t at : {std::uint64_t{0}, k4GiB - 65536, k4GiB + 4096,
                                       k4GiB + kGiB / 2, kSize - 8192}) {
            spots.push_back({at, pattern(8192, static_cast<unsigned>(at >> 12))});
            medium.writeAt("/src/big", at, spots.back().bytes);
        }
    }

    // The copy's bytes at every spot are the source's, with zeros where regions lie.
    void expectSpotsCopied(const std::vector<Region>& filled)
    {
        for (const Spot& spot : spots) {
            Bytes expected = spot.bytes;
            for (const Region& r : filled) {
                const std::uint64_t from = std::max(r.offset, spot.offset);
                const std::uint64_t to = std::min(r.end(), spot.offset + expected.size());
                for (std::uint64_t at = from; at < to; ++at) expected[at - spot.offset] = 0;
            }
            EXPECT_EQ(medium.contents("/out/big", spot.offset, spot.bytes.size()), expected)
                << "at " << spot.offset;
        }
    }

    // The copy as a run stopped at end left it: the source's bytes up to there.
    void makeCopyUpTo(std::uint64_t end)
    {
        medium.addSparseFile("/out/big", end);
        for (const Spot& spot : spots) {
            if (spot.offset >= end) continue;
            const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(spot.bytes.size(), end - spot.offset));
            medium.writeAt("/out/big", spot.offset, slice(spot.bytes, 0, length));
        }
    }

    std::vector<Spot> spots;
};

// Bad sectors on both sides of 4 GiB, one region across it, one far beyond, and a weak
// sector past 4 GiB that the trim pass reads: the copy is 5 GiB, its data lies at the
// source's offsets, and the log, rewritten by the trim pass, is the wide form with every
// region and the end record at their whole offsets.
TEST_F(LargeCopyTest, ACopyPast4GiBKeepsEveryOffsetWhole)
{
    medium.markBad("/src/big", k4GiB - 1024, 2048);
    medium.markWeak("/src/big", k4GiB + 4096 + 512, 512, 2);
    medium.markBad("/src/big", k4GiB + kGiB / 2, 512);
    ASSERT_TRUE(copy("/src/big"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    const std::vector<BadRegion> regions = {{k4GiB - 1024, 2048}, {k4GiB + kGiB / 2, 512}};
    std::vector<BadRegion> records = regions;
    records.push_back({kSize, 0});
    EXPECT_EQ(logOf("/out/big.log"), wideLogBytes("big", 0, records));
    EXPECT_EQ(engine->badRegions(), regions);
    EXPECT_EQ(engine->filledBytes(), 2560);
    EXPECT_EQ(engine->destinationEnd(), kSize);
    const std::unique_ptr<File> out =
        medium.open("/out/big", Disposition::OpenExisting, Access::Read, nullptr);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), static_cast<std::int64_t>(kSize));
    expectSpotsCopied({{k4GiB - 1024, 2048}, {k4GiB + kGiB / 2, 512}});
}

// A run stopped a few sectors past 4 GiB is continued there: the source check reads the
// copy's sectors at their whole offsets, the copy goes on after its last byte, and the
// log keeps the regions of both runs.
TEST_F(LargeCopyTest, ResumeGoesOnAFewSectorsPast4GiB)
{
    const std::uint64_t end = k4GiB + 4096 + 1536;
    makeCopyUpTo(end);
    medium.writeAt("/out/big", k4GiB - 1024, Bytes(2048, 0));
    medium.addFile("/out/big.log", wideLogBytes("big", 0, {{k4GiB - 1024, 2048}, {end, 0}}));
    medium.markBad("/src/big", k4GiB - 1024, 2048);
    medium.markBad("/src/big", k4GiB + kGiB / 2, 512);
    ASSERT_TRUE(copy("/src/big"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(continuedAt("/src/big", end), end);
    EXPECT_EQ(logOf("/out/big.log"),
              wideLogBytes("big", 0, {{k4GiB - 1024, 2048}, {k4GiB + kGiB / 2, 512}, {kSize, 0}}));
    expectSpotsCopied({{k4GiB - 1024, 2048}, {k4GiB + kGiB / 2, 512}});
}

// The same copy continued from another 5 GiB file of the same name (another disc): the
// source differs in the last sector before the copy's end, past 4 GiB, and the copy and
// its log stay as they are.
TEST_F(LargeCopyTest, AnotherFileOfTheSameSizeIsToldApartPast4GiB)
{
    const std::uint64_t end = k4GiB + 8192;
    makeCopyUpTo(end);
    const Bytes log = wideLogBytes("big", 0, {{end, 0}});
    medium.addFile("/out/big.log", log);
    medium.writeAt("/src/big", end - 512, pattern(512, 99));
    EXPECT_FALSE(copy("/src/big"));
    EXPECT_EQ(engine->status(), EngineStatus::SourceMismatch);
    EXPECT_EQ(logOf("/out/big.log"), log);
    EXPECT_EQ(medium.contents("/out/big", end - 512, 1024), slice(spots[2].bytes, 3584, 4096));
}

// A copy of a card is compared at more places than four: another card of the same size
// that agrees at the first, the last and the thirds still differs where the data lies
// (here at 5/17 of the copy) and is refused.
TEST_F(LargeCopyTest, ALargeCopyIsComparedAtPlacesSpreadOverIt)
{
    const std::uint64_t end = k4GiB + 8192;
    makeCopyUpTo(end);
    const std::uint64_t place = end / 17 * 5 / 512 * 512;
    medium.writeAt("/out/big", place, pattern(512, 7));
    const Bytes log = wideLogBytes("big", 0, {{end, 0}});
    medium.addFile("/out/big.log", log);
    EXPECT_FALSE(copy("/src/big"));
    EXPECT_EQ(engine->status(), EngineStatus::SourceMismatch);
    EXPECT_EQ(logOf("/out/big.log"), log);

    // The same card again: every place agrees (20 sectors read), and the copy goes on at
    // its end.
    medium.writeAt("/src/big", place, pattern(512, 7));
    const std::size_t before = medium.readOffsets("/src/big").size();
    ASSERT_TRUE(copy("/src/big"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    const std::vector<std::uint64_t> reads = medium.readOffsets("/src/big");
    const auto first = reads.begin() + static_cast<std::ptrdiff_t>(before);
    const auto past = std::find_if(first, reads.end(), [&](std::uint64_t at) { return at >= end; });
    ASSERT_NE(past, reads.end());
    EXPECT_GE(past - first, 20);
    EXPECT_EQ(*past, end);
}

// A narrow log continued under Append behind a copy that then ends past 4 GiB cannot
// say where its new regions lie: it is replaced by a wide log with its records before
// anything is copied, and the copy lands at the destination's whole size.
TEST_F(LargeCopyTest, AppendWidensANarrowLogThatCannotReachTheNewEnd)
{
    const std::uint64_t base = k4GiB - 4096;
    medium.addFile("/src/small", pattern(20480, 5));
    medium.markBad("/src/small", 8192, 512);
    medium.addSparseFile("/out/small", base);
    medium.addFile("/out/small.log", logBytes("small", 0, {{512, 512}, {base, 0}}));
    setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Append);
    ASSERT_TRUE(copy("/src/small"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(logOf("/out/small.log"),
              wideLogBytes("small", 0, {{512, 512}, {base + 8192, 512}, {base + 20480, 0}}));
    Bytes expected = pattern(20480, 5);
    std::fill(expected.begin() + 8192, expected.begin() + 8704, 0);
    EXPECT_EQ(medium.contents("/out/small", base, 20480), expected);
}

}  // namespace
}  // namespace tessaly::testing
