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
    EXPECT_GE(log.readRegions(regions), 0);
    return regions;
}

// The folders of one salvage: out receives the copy, good holds a good instance.
class ToolRoundTrip : public ::testing::Test
{
protected:
    ToolRoundTrip()
    {
        std::filesystem::create_directory(out);
        std::filesystem::create_directory(good);
    }

    // Exit status of tessaly-cli copy with the options, from the medium into out.
    int copy(const std::string& options, const std::string& source)
    {
        return run(cliPath() + " copy -q " + options + " " + source + " " + out + " >/dev/null" +
                   errors);
    }

    // Get from the good instance with the copy's log, Put into the copy; the
    // transfer file must hold transferBytes, and the copy must then be the good one.
    void getAndPut(const Bytes& goodBytes, std::uint64_t transferBytes)
    {
        writeFile(good + "/data.bin", goodBytes);
        std::filesystem::copy_file(out + "/data.bin.log", good + "/data.bin.log");
        ASSERT_EQ(run(cliPath() + " get " + good + "/data.bin.log" + errors), 0) << stderrText();
        EXPECT_EQ(readFile(good + "/data.bin.mrd").size(), transferBytes);
        std::filesystem::copy_file(good + "/data.bin.mrd", out + "/data.bin.mrd");
        ASSERT_EQ(run(cliPath() + " put " + out + "/data.bin.log" + errors), 0) << stderrText();
        EXPECT_EQ(readFile(out + "/data.bin"), goodBytes);
    }

    std::string stderrText() { return readText(dir / "stderr.txt"); }

    TempDir dir;
    const std::string out = dir / "out";
    const std::string good = dir / "good";
    const std::string errors = " 2>>" + (dir / "stderr.txt");
};

TEST_F(ToolRoundTrip, CopyGetPutRestoresTheDamagedCopy)
{
    const std::string image = MediumMount::patternBytes(256 * 1024, 21);
    MediumMount medium;
    medium.addImage("disk/data.bin", image, "sector 512\nbad 100-103\nbad 300\nbad 511\n");
    TESSALY_MOUNT_OR_SKIP(medium);

    ASSERT_EQ(copy("--attempts=1", medium.path("disk/data.bin")), 1) << stderrText();
    const Bytes goodBytes(image.begin(), image.end());
    const Bytes copied = readFile(out + "/data.bin");
    ASSERT_EQ(copied.size(), goodBytes.size());
    EXPECT_NE(copied, goodBytes);
    const std::vector<BadRegion> regions = logRegions(out + "/data.bin.log");
    ASSERT_GE(regions.size(), 2u);  // filled regions and the end record
    EXPECT_EQ(regions.back(), (BadRegion{static_cast<std::uint32_t>(image.size()), 0}));
    std::uint64_t filled = 0;
    for (std::size_t i = 0; i + 1 < regions.size(); ++i) filled += regions[i].length;
    EXPECT_GE(filled, 6u * 512);
    // The log travels to the good instance, Get writes the transfer file beside it.
    getAndPut(goodBytes, filled);
}

// At Speed the fills over a dead run cover readable sectors, and a weak sector is
// filled at its first sector read; the trim pass reads both back and replaces the
// log by rename. Get and Put over the trimmed log still restore the copy whole.
TEST_F(ToolRoundTrip, AfterATrimTheLogStillRestoresTheCopy)
{
    const std::string image = MediumMount::patternBytes(256 * 1024, 22);
    MediumMount medium;
    medium.addImage("disk/data.bin", image, "sector 512\nbad 100-103\nweak 200 1\nbad 300-309\n");
    TESSALY_MOUNT_OR_SKIP(medium);

    ASSERT_EQ(copy("--optimize=1", medium.path("disk/data.bin")), 1) << stderrText();
    const std::uint32_t end = static_cast<std::uint32_t>(image.size());
    EXPECT_EQ(logRegions(out + "/data.bin.log"),
              (std::vector<BadRegion>{{100 * 512, 4 * 512}, {300 * 512, 10 * 512}, {end, 0}}));
    // The trim's scratch log is gone: the copy and its log are all the folder holds.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 2);
    Bytes expected(image.begin(), image.end());
    std::fill_n(expected.begin() + 100 * 512, 4 * 512, 0);
    std::fill_n(expected.begin() + 300 * 512, 10 * 512, 0);
    EXPECT_EQ(readFile(out + "/data.bin"), expected);
    getAndPut(Bytes(image.begin(), image.end()), 14u * 512);
}

}  // namespace
}  // namespace tessaly
