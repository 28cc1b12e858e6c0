#include <gtest/gtest.h>

#include <cstdint>

#include "run/run_figures.h"

using namespace tessaly;

namespace {

constexpr std::uint32_t kUnknown = RunTimes::kUnknownSeconds;
constexpr std::uint64_t kInOrder = ~std::uint64_t{0};
using Speed = RunTimes::Speed;

}  // namespace

// What both front ends show, from the engine's bytes and the list's place: one row per
// situation, figures computed by hand.
TEST(RunFigures, FromTheEnginesBytesAndTheListsPlace)
{
    const struct
    {
        const char* what;
        std::uint64_t fileSize, position;
        std::uint32_t shortRate, longRate;
        std::size_t passRegions;
        std::uint64_t notTried;  // ~0: not read easy data first
        ListPlace list;  // copying, index, count, totalSize, doneSize, onLine
        int filePercent, totalPercent;
        Speed speed;
        std::uint32_t thisFile, allFiles;
    } rows[] = {
        {"mid-list: the list's rest shrinks with the file's", 50000, 20000, 2048, 1000, 0, kInOrder,
         {true, 1, 3, 1000000, 400000, true}, 40, 42, Speed::Measured, 30, 580},
        {"last line: both rests are the file's", 50000, 20000, 2048, 1000, 0, kInOrder,
         {true, 2, 3, 1000000, 400000, true}, 40, 42, Speed::Measured, 30, 30},
        {"nothing measured yet", 50000, 0, 1, 1, 0, kInOrder, {true, 0, 2, 100000, 0, true}, 0, 0,
         Speed::Unknown, 50000, 100000},
        {"copies grown past the listed sizes leave no rest", 50000, 50001, 9, 9, 0, kInOrder,
         {true, 0, 2, 100000, 100005, true}, 100, 100, Speed::Measured, 0, 0},
        {"a rest past 2^32 s shows as unknown, not wrapped", 1, 0, 1, 1, 0, kInOrder,
         {true, 0, 2, (std::uint64_t{1} << 32) + 5, 0, true}, 0, 0, Speed::Unknown, 1, kUnknown},
        {"a pass after the main pass: speed, no time left", 50000, 50000, 40000, 30000, 7, kInOrder,
         {true, 0, 2, 100000, 0, true}, 100, 50, Speed::Measured, kUnknown, kUnknown},
        {"16 GiB copied but its last sector: not 100", std::uint64_t{16} << 30,
         (std::uint64_t{16} << 30) - 512, 1, 1, 0, kInOrder,
         {true, 0, 1, std::uint64_t{16} << 30, 0, true},
         99, 99, Speed::Unknown, 512, 512},
        {"sizes past 2^57 bytes do not overflow", std::uint64_t{1} << 62,
         (std::uint64_t{1} << 61) + 1, 1, 1, 0, kInOrder,
         {true, 0, 1, std::uint64_t{1} << 62, 0, true},
         50, 50, Speed::Unknown, kUnknown, kUnknown},
        {"an empty source is whole; a list of empty files counts lines", 0, 0, 1, 1, 0, kInOrder,
         {true, 1, 4, 0, 0, true}, 100, 50, Speed::Unknown, 0, 0},
        {"between lines: the finished lines only", 50000, 50000, 9, 9, 0, kInOrder,
         {true, 1, 3, 150000, 50000, false}, 0, 33, Speed::Measured, 0, 11111},
        {"stopped: no speed and no times", 50000, 20000, 2048, 1000, 0, kInOrder,
         {false, 0, 2, 100000, 0, true}, 40, 20, Speed::Idle, 0, 0},
        {"easy data first, back at the first area skipped: what is not tried is left", 50000, 1000,
         2048, 1000, 0, 10000, {true, 0, 1, 50000, 0, true}, 80, 80, Speed::Measured, 10, 10},
        {"past the last line", 0, 0, 2048, 1000, 0, kInOrder, {true, 3, 3, 100, 100, false}, 0, 100,
         Speed::Idle, 0, 0},
    };
    for (const auto& row : rows) {
        EngineSnapshot engine;
        engine.busy = true;
        engine.fileSize = row.fileSize;
        engine.position = row.position;
        engine.destinationBase = 4096;  // an Append's base changes none of the figures
        engine.shortRate = row.shortRate;
        engine.longRate = row.longRate;
        engine.passRegions = row.passRegions;
        engine.phased = row.notTried != kInOrder;
        engine.notTried = engine.phased ? row.notTried : 0;
        const RunFigures figures = runFigures(engine, row.list);
        EXPECT_EQ(figures.filePercent, row.filePercent) << row.what;
        EXPECT_EQ(figures.totalPercent, row.totalPercent) << row.what;
        EXPECT_EQ(figures.times.speed, row.speed) << row.what;
        EXPECT_EQ(figures.times.thisFileSeconds, row.thisFile) << row.what;
        EXPECT_EQ(figures.times.allFilesSeconds, row.allFiles) << row.what;
    }
}
