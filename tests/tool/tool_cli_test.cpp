// tessaly-cli get, put and map, run as a user would run them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "engine/plain_file.h"
#include "tests/support/log_bytes.h"
#include "tests/tool/tool_test_support.h"

namespace tessaly {
namespace {

using testing::Bytes;
using testing::cliPath;
using testing::copyLogBytes;
using testing::logBytes;
using testing::pattern;
using testing::readFile;
using testing::readText;
using testing::run;
using testing::TempDir;
using testing::writeFile;

class ToolCliTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::filesystem::create_directory(dir / "good");
        std::filesystem::create_directory(dir / "copy");
        writeFile(dir / "good/data.bin", good);
        damaged = good;
        for (const BadRegion& r : regions) std::fill_n(damaged.begin() + r.offset, r.length, 0);
        writeFile(dir / "copy/data.bin", damaged);
        std::vector<BadRegion> records = regions;
        records.push_back({static_cast<std::uint32_t>(good.size()), 0});
        writeFile(dir / "copy/data.bin.log", logBytes("data.bin", records));
    }
    std::string cli(const std::string& args) const
    {
        return cliPath() + " " + args + " 2>" + (dir / "stderr.txt");
    }
    std::string errors() const { return readText(dir / "stderr.txt"); }

    TempDir dir;
    const Bytes good = pattern(300000, 4);
    const std::vector<BadRegion> regions = {{8192, 4096}, {200000, 70000}, {1000, 100}};
    Bytes damaged;
};

TEST_F(ToolCliTest, GetWithDataThenPutRepairsTheCopy)
{
    // The log is taken to the good instance, which has another name there: --data
    // stands in for locating it.
    std::filesystem::copy_file(dir / "copy/data.bin.log", dir / "good/data.bin.log");
    std::filesystem::rename(dir / "good/data.bin", dir / "good/instance.bin");
    ASSERT_EQ(
        run(cli("get " + (dir / "good/data.bin.log") + " --data=" + (dir / "good/instance.bin"))),
        0)
        << errors();
    EXPECT_NE(errors().find("Done"), std::string::npos) << errors();
    EXPECT_EQ(readFile(dir / "good/instance.bin.mrd").size(), 4096u + 70000u + 100u);

    EXPECT_EQ(run(cli("put " + (dir / "copy/data.bin.log"))), 2);  // no transfer file there
    EXPECT_NE(errors().find("data.bin.mrd\ncannot be opened."), std::string::npos) << errors();
    std::filesystem::rename(dir / "good/instance.bin.mrd", dir / "copy/data.bin.mrd");
    ASSERT_EQ(run(cli("put " + (dir / "copy/data.bin.log"))), 0) << errors();
    EXPECT_EQ(readFile(dir / "copy/data.bin"), good);
}

TEST_F(ToolCliTest, ExitStatusSaysHowTheJobEnded)
{
    // No data file and nobody to ask: cancelled.
    EXPECT_EQ(run(cli("get " + (dir / "copy/nothing.bin.log"))), 2);
    std::filesystem::copy_file(dir / "copy/data.bin.log", dir / "good/other.log");
    std::filesystem::rename(dir / "good/data.bin", dir / "good/renamed.bin");
    EXPECT_EQ(run(cli("get " + (dir / "good/other.log"))), 2);
    EXPECT_NE(errors().find("File data.bin\n"), std::string::npos) << errors();
    EXPECT_FALSE(std::filesystem::exists(dir / "good/data.bin.mrd"));

    // A data file shorter than the regions is another file: nothing is read.
    writeFile(dir / "good/data.bin", Bytes(good.begin(), good.begin() + 100000));
    EXPECT_EQ(run(cli("get " + (dir / "good/other.log"))), 2);
    EXPECT_NE(errors().find("File data.bin\nis shorter than the regions"), std::string::npos)
        << errors();
    EXPECT_FALSE(std::filesystem::exists(dir / "good/data.bin.mrd"));

    // A transfer file that ends inside the regions ends Put on the first one it
    // cannot give a byte of.
    writeFile(dir / "copy/data.bin.mrd", Bytes(good.begin() + 8192, good.begin() + 12288));
    EXPECT_EQ(run(cli("put " + (dir / "copy/data.bin.log"))), 1);
    EXPECT_NE(errors().find("Reading failed."), std::string::npos) << errors();

    EXPECT_EQ(run(cli("get")), 64);
    EXPECT_EQ(run(cli("put a.log b.log")), 64);
    EXPECT_EQ(run(cli("map")), 64);
    EXPECT_EQ(run(cli("map " + (dir / "copy/data.bin.log") + " --size=12x")), 64);
}

// A link at NAME.mrd beside the good instance is refused, and what it leads to
// keeps every byte.
TEST_F(ToolCliTest, GetDoesNotWriteThroughALinkAtTheTransferFile)
{
    std::filesystem::copy_file(dir / "copy/data.bin.log", dir / "good/data.bin.log");
    const Bytes outside = pattern(5000, 9);
    writeFile(dir / "outside.bin", outside);
    std::filesystem::create_symlink(dir / "outside.bin", dir / "good/data.bin.mrd");
    EXPECT_NE(run(cli("get " + (dir / "good/data.bin.log"))), 0);
    EXPECT_NE(errors().find("data.bin.mrd\nA symbolic link stands where"), std::string::npos)
        << errors();
    EXPECT_EQ(readFile(dir / "outside.bin"), outside);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "good/data.bin.mrd"));
}

TEST_F(ToolCliTest, CraftedLogCannotWriteOutsideItsFolder)
{
    std::filesystem::create_directory(dir / "copy/inner");
    writeFile(dir / "copy/inner/evil.log", logBytes("../data.bin", {{0, 100}, {100, 0}}));
    writeFile(dir / "copy/data.bin.mrd", Bytes(100, 0x55));
    EXPECT_EQ(run(cli("put " + (dir / "copy/inner/evil.log"))), 2);
    EXPECT_NE(errors().find("no readable file name"), std::string::npos) << errors();
    EXPECT_EQ(readFile(dir / "copy/data.bin"), damaged);
    EXPECT_EQ(run(cli("get " + (dir / "copy/inner/evil.log"))), 2);
    EXPECT_EQ(readFile(dir / "copy/data.bin.mrd"), Bytes(100, 0x55));
}

// Every refusal ends with exit status 2, says why, and leaves the files as they were.
TEST_F(ToolCliTest, RefusedJobsWriteNothing)
{
    // 35 bytes that once made Get pad the good file with zeros up to 4 GiB.
    const Bytes crafted = logBytes("a.bin", {{0, 0xFFFFFFFF}, {0xFFFFFFFF, 0}});
    ASSERT_EQ(crafted.size(), 35u);
    writeFile(dir / "good/a.bin.log", crafted);
    writeFile(dir / "good/a.bin", good);
    EXPECT_EQ(run(cli("get " + (dir / "good/a.bin.log"))), 2);
    EXPECT_NE(errors().find("File a.bin\nis shorter than the regions"), std::string::npos)
        << errors();
    EXPECT_FALSE(std::filesystem::exists(dir / "good/a.bin.mrd"));

    Bytes transfer;
    for (const BadRegion& r : regions) {
        transfer.insert(transfer.end(), good.begin() + r.offset,
                        good.begin() + r.offset + r.length);
    }
    transfer.push_back(0);
    writeFile(dir / "copy/data.bin.mrd", transfer);
    EXPECT_EQ(run(cli("put " + (dir / "copy/data.bin.log"))), 2);
    EXPECT_NE(errors().find("data.bin.mrd\nholds more bytes"), std::string::npos) << errors();
    EXPECT_EQ(readFile(dir / "copy/data.bin"), damaged);
    transfer.pop_back();
    writeFile(dir / "copy/data.bin.mrd", transfer);

    // A copy made with the fill Nothing holds its bytes at other offsets than its log's.
    std::vector<BadRegion> records = regions;
    records.push_back({static_cast<std::uint32_t>(good.size()), 0});
    writeFile(dir / "copy/data.bin.log", copyLogBytes("data.bin", 4, records));
    EXPECT_EQ(run(cli("put " + (dir / "copy/data.bin.log"))), 2);
    EXPECT_NE(errors().find("data.bin.log\nwas written with the fill Nothing"),
              std::string::npos)
        << errors();
    EXPECT_EQ(readFile(dir / "copy/data.bin"), damaged);
    writeFile(dir / "copy/data.bin.log", logBytes("data.bin", records));

    // A copy that a copy run holds is in use; nobody is asked where it is, and
    // --data does not reach past that.
    {
        PlainFile copyRun;
        ASSERT_TRUE(copyRun.openExisting(dir / "copy/data.bin", Access::Write));
        ASSERT_TRUE(copyRun.file()->tryLock());
        EXPECT_EQ(run(cli("put " + (dir / "copy/data.bin.log") + " --data=" +
                          (dir / "good/data.bin"))),
                  2);
        EXPECT_NE(errors().find("File data.bin\nis in use by another copy run"),
                  std::string::npos)
            << errors();
        EXPECT_EQ(errors().find("locate"), std::string::npos) << errors();
        EXPECT_EQ(readFile(dir / "copy/data.bin"), damaged);
        EXPECT_EQ(readFile(dir / "good/data.bin"), good);
    }
    ASSERT_EQ(run(cli("put " + (dir / "copy/data.bin.log"))), 0) << errors();
    EXPECT_EQ(readFile(dir / "copy/data.bin"), good);
}

// A named pipe where a log, a data file or a transfer file belongs must be refused
// at once: an open that waits for a writer would hang the command (and the tool's
// worker) for ever. Each run is killed after 5 s, so that such a wait fails the
// test instead of hanging it.
TEST_F(ToolCliTest, NamedPipesAreRefusedAtOnce)
{
    const auto pipeAt = [&](const std::string& name) {
        std::filesystem::remove(dir / name);
        EXPECT_EQ(::mkfifo((dir / name).c_str(), 0666), 0) << name;
    };
    const auto limited = [&](const std::string& args) {
        return run("timeout -s KILL 5 " + cli(args));
    };
    pipeAt("copy/pipe.log");
    for (const char* command : {"get ", "put ", "map "}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(limited(command + (dir / "copy/pipe.log")), 2);
        EXPECT_NE(errors().find("pipe.log\ncannot be opened."), std::string::npos) << errors();
    }
    // The data file the log names.
    writeFile(dir / "copy/pipe.bin.log", logBytes("pipe.bin", {{0, 10}, {100, 0}}));
    pipeAt("copy/pipe.bin");
    EXPECT_EQ(limited("get " + (dir / "copy/pipe.bin.log")), 2);
    EXPECT_NE(errors().find("File pipe.bin\n"), std::string::npos) << errors();
    EXPECT_EQ(limited("put " + (dir / "copy/pipe.bin.log")), 2);
    EXPECT_NE(errors().find("File pipe.bin\n"), std::string::npos) << errors();
    // The transfer file.
    pipeAt("copy/data.bin.mrd");
    EXPECT_EQ(limited("get " + (dir / "copy/data.bin.log")), 2);
    EXPECT_NE(errors().find("data.bin.mrd"), std::string::npos) << errors();
    EXPECT_EQ(limited("put " + (dir / "copy/data.bin.log")), 2);
    EXPECT_NE(errors().find("data.bin.mrd\ncannot be opened."), std::string::npos) << errors();
    EXPECT_EQ(readFile(dir / "copy/data.bin"), damaged);
}

// The map must be one that ddrescue itself reads: a retry pass with it over the
// good instance rescues exactly the filled regions into the copy.
TEST_F(ToolCliTest, MapIsUsableByDdrescue)
{
    ASSERT_EQ(run(cli("map " + (dir / "copy/data.bin.log") + " >" + (dir / "copy.map"))), 0)
        << errors();
    if (run("command -v ddrescue >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "SKIPPED: ddrescue is not installed";
    }
    // What ddrescue reads from the good instance outside the bad blocks would show
    // here as a difference: the copy keeps zeros there.
    const std::string ddrescue = "ddrescue -q -r1 " + (dir / "good/data.bin") + " " +
                                 (dir / "copy/data.bin") + " " + (dir / "copy.map");
    ASSERT_EQ(run(ddrescue + " 2>" + (dir / "stderr.txt")), 0) << errors();
    EXPECT_EQ(readFile(dir / "copy/data.bin"), good);
    const Bytes map = readFile(dir / "copy.map");
    EXPECT_NE(std::string(map.begin(), map.end()).find("0x00000000  0x000493E0  +"),
              std::string::npos);
}

// A wide log's regions and end stand in the map at their full 64-bit positions, with
// --size past 4 GiB too.
TEST_F(ToolCliTest, MapOfAWideLogShowsPositionsPast4GiB)
{
    writeFile(dir / "wide.log",
              copyLogBytes("disk.img", 0,
                           {{0x1000, 0x200},
                            {0xFFFF'F000ull, 0x2000},
                            {0x1'2000'0000ull, 0x1000'0000ull},
                            {0x1'4000'0000ull, 0}},
                           std::nullopt, LogForm::Wide));
    ASSERT_EQ(run(cli("map " + (dir / "wide.log") + " --size=0x180000000 >" + (dir / "wide.map"))),
              0)
        << errors();
    const std::string map = readText(dir / "wide.map");
    const std::string heading = "#      pos        size  status\n";
    const std::string blocks = map.substr(map.find(heading) + heading.size());
    EXPECT_EQ(blocks,
              "0x00000000  0x00001000  +\n"
              "0x00001000  0x00000200  -\n"
              "0x00001200  0xFFFFDE00  +\n"
              "0xFFFFF000  0x00002000  -\n"
              "0x100001000  0x1FFFF000  +\n"
              "0x120000000  0x10000000  -\n"
              "0x130000000  0x10000000  +\n"
              "0x140000000  0x40000000  ?\n")
        << map;
}

}  // namespace
}  // namespace tessaly
