// The whole salvage of one file: a copy from a damaged medium leaves fills and a
// log; Get takes the missing regions from a good instance, Put writes them into
// the copy, which then equals the good instance byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/copy_log.h"
#include "tests/medium/medium_mount.h"
#include "tests/tool/tool_test_support.h"

namespace tessaly {
namespace {

using testing::Bytes;
using testing::cliPath;
using testing::readFile;
using testing::readText;
using testing::run;
using testing::TempDir;
using testing::writeFile;

std::vector<BadRegion> logRegions(const std::string& path)
{
    PlainFile file;
    CopyLog log;
    std::vector<BadRegion> regions;
    if (!file.openExisting(path, Access::Read)) return regions;
    log.bind(&file);
    log.readRegions(regions);
    return regions;
}

TEST(ToolRoundTrip, CopyGetPutRestoresTheDamagedCopy)
{
    const std::string image = MediumMount::patternBytes(256 * 1024, 21);
    MediumMount medium;
    medium.addImage("disk/data.bin", image, "sector 512\nbad 100-103\nbad 300\nbad 511\n");
    TESSALY_MOUNT_OR_SKIP(medium);

    TempDir dir;
    const std::string out = dir / "out";
    const std::string good = dir / "good";
    std::filesystem::create_directory(out);
    std::filesystem::create_directory(good);
    const std::string errors = " 2>>" + (dir / "stderr.txt");

    ASSERT_EQ(run(cliPath() + " copy -q --attempts=1 " + medium.path("disk/data.bin") + " " + out +
                  " >/dev/null" + errors),
              1)
        << readText(dir / "stderr.txt");
    const Bytes goodBytes(image.begin(), image.end());
    Bytes copy = readFile(out + "/data.bin");
    ASSERT_EQ(copy.size(), goodBytes.size());
    EXPECT_NE(copy, goodBytes);
    const std::vector<BadRegion> regions = logRegions(out + "/data.bin.log");
    ASSERT_GE(regions.size(), 2u);  // filled regions and the end record
    EXPECT_EQ(regions.back(), (BadRegion{static_cast<std::uint32_t>(image.size()), 0}));
    std::uint64_t filled = 0;
    for (std::size_t i = 0; i + 1 < regions.size(); ++i) filled += regions[i].length;
    EXPECT_GE(filled, 6u * 512);

    // The log travels to the good instance, Get writes the transfer file beside it.
    writeFile(good + "/data.bin", goodBytes);
    std::filesystem::copy_file(out + "/data.bin.log", good + "/data.bin.log");
    ASSERT_EQ(run(cliPath() + " get " + good + "/data.bin.log" + errors), 0)
        << readText(dir / "stderr.txt");
    EXPECT_EQ(readFile(good + "/data.bin.mrd").size(), filled);

    std::filesystem::copy_file(good + "/data.bin.mrd", out + "/data.bin.mrd");
    ASSERT_EQ(run(cliPath() + " put " + out + "/data.bin.log" + errors), 0)
        << readText(dir / "stderr.txt");
    EXPECT_EQ(readFile(out + "/data.bin"), goodBytes);
}

// At Speed the fills over a dead run cover readable sectors, and a weak sector is
// filled at its first sector read; the trim pass reads both back and replaces the
// log by rename. Get and Put over the trimmed log still restore the copy whole.
TEST(ToolRoundTrip, AfterATrimTheLogStillRestoresTheCopy)
{
    const std::string image = MediumMount::patternBytes(256 * 1024, 22);
    MediumMount medium;
    medium.addImage("disk/data.bin", image, "sector 512\nbad 100-103\nweak 200 1\nbad 300-309\n");
    TESSALY_MOUNT_OR_SKIP(medium);

    TempDir dir;
    const std::string out = dir / "out";
    const std::string good = dir / "good";
    std::filesystem::create_directory(out);
    std::filesystem::create_directory(good);
    const std::string errors = " 2>>" + (dir / "stderr.txt");
    ASSERT_EQ(run(cliPath() + " copy -q --optimize=1 " + medium.path("disk/data.bin") + " " + out +
                  " >/dev/null" + errors),
              1)
        << readText(dir / "stderr.txt");
    const std::uint32_t end = static_cast<std::uint32_t>(image.size());
    EXPECT_EQ(logRegions(out + "/data.bin.log"),
              (std::vector<BadRegion>{{100 * 512, 4 * 512}, {300 * 512, 10 * 512}, {end, 0}}));
    EXPECT_FALSE(std::filesystem::exists(out + "/data.bin.log.new"));
    Bytes expected(image.begin(), image.end());
    std::fill_n(expected.begin() + 100 * 512, 4 * 512, 0);
    std::fill_n(expected.begin() + 300 * 512, 10 * 512, 0);
    EXPECT_EQ(readFile(out + "/data.bin"), expected);

    const Bytes goodBytes(image.begin(), image.end());
    writeFile(good + "/data.bin", goodBytes);
    std::filesystem::copy_file(out + "/data.bin.log", good + "/data.bin.log");
    ASSERT_EQ(run(cliPath() + " get " + good + "/data.bin.log" + errors), 0)
        << readText(dir / "stderr.txt");
    EXPECT_EQ(readFile(good + "/data.bin.mrd").size(), 14u * 512);
    std::filesystem::copy_file(good + "/data.bin.mrd", out + "/data.bin.mrd");
    ASSERT_EQ(run(cliPath() + " put " + out + "/data.bin.log" + errors), 0)
        << readText(dir / "stderr.txt");
    EXPECT_EQ(readFile(out + "/data.bin"), goodBytes);
}

}  // namespace
}  // namespace tessaly
