// tessaly-cli copy into a real output that ignores case: an exFAT image mounted by
// its FUSE driver (mkfs.exfat, mount.exfat-fuse, a loop device; as root). That
// driver gives each spelling of a name its own inode number, so the run must see
// the folded name by the folder's listing. Without the tools the tests report
// SKIPPED with the reason.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/tool/tool_test_support.h"

namespace tessaly {
namespace {

using testing::Bytes;
using testing::cliPath;
using testing::pattern;
using testing::readFile;
using testing::readText;
using testing::run;
using testing::TempDir;
using testing::writeFile;

class FoldedOutputSystemTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) GTEST_SKIP() << "a loop device and a FUSE mount need root";
        if (!std::filesystem::exists("/dev/fuse")) GTEST_SKIP() << "no /dev/fuse";
        if (run("command -v mkfs.exfat >/dev/null && command -v mount.exfat-fuse >/dev/null "
                "&& command -v losetup >/dev/null") != 0) {
            GTEST_SKIP() << "mkfs.exfat (exfatprogs) or mount.exfat-fuse (exfat-fuse) missing";
        }
        std::filesystem::create_directories(dir / "mnt");
        std::filesystem::create_directories(dir / "one");
        std::filesystem::create_directories(dir / "two");
        if (run("truncate -s 8M " + (dir / "image") + " && mkfs.exfat " + (dir / "image") +
                " >/dev/null 2>&1 && losetup -f --show " + (dir / "image") + " >" + (dir / "loop") +
                " 2>/dev/null") != 0) {
            GTEST_SKIP() << "no loop device for the exFAT image";
        }
        m_loop = readText(dir / "loop");
        while (!m_loop.empty() && m_loop.back() == '\n') m_loop.pop_back();
        if (run("mount.exfat-fuse " + m_loop + " " + (dir / "mnt") + " >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "the exFAT image could not be mounted";
        }
        m_mounted = true;
    }
    void TearDown() override
    {
        if (m_mounted) run("umount " + (dir / "mnt") + " || fusermount3 -u " + (dir / "mnt"));
        if (!m_loop.empty()) run("losetup -d " + m_loop);
    }
    int copy(const std::string& args)
    {
        return run("timeout -s KILL 20 " + cliPath() + " copy -q " + args + " " + (dir / "mnt") +
                   " >" + (dir / "report.txt") + " 2>" + (dir / "stderr.txt"));
    }
    std::string report() const { return readText(dir / "report.txt"); }

    TempDir dir;
    std::string m_loop;
    bool m_mounted = false;
};

TEST_F(FoldedOutputSystemTest, NamesThatDifferInCaseOnlyGetOneCopy)
{
    const Bytes first = pattern(20000, 1);
    writeFile(dir / "one/Data.img", first);
    writeFile(dir / "two/data.img", pattern(30000, 2));
    for (const char* options :
         {"--yes ", "--yes --existing=replace ", "--yes --existing=append "}) {
        SCOPED_TRACE(options);
        std::filesystem::remove(dir / "mnt/Data.img");
        EXPECT_NE(copy(options + (dir / "one/Data.img") + " " + (dir / "two/data.img")), 0);
        EXPECT_EQ(report(), "Ok\t20000\t0\t" + (dir / "one/Data.img") +
                                "\nSameDestination\t0\t0\t" + (dir / "two/data.img") + "\n");
        EXPECT_EQ(readFile(dir / "mnt/Data.img"), first);
    }
}

TEST_F(FoldedOutputSystemTest, ACopyWhereAnotherCopysLogLiesIsRefused)
{
    writeFile(dir / "one/x.bin", pattern(4000, 3));
    writeFile(dir / "two/X.BIN.LOG", pattern(100, 4));
    EXPECT_NE(copy("--yes --keep-clean-log " + (dir / "one/x.bin") + " " + (dir / "two/X.BIN.LOG")),
              0);
    const std::string log = readText(dir / "mnt/x.bin.log");
    EXPECT_EQ(log.substr(0, 4), std::string("ACL\0", 4));
    EXPECT_NE(report().find("Ok\t4000\t0\t"), std::string::npos) << report();
    EXPECT_EQ(report().find("Ok\t100\t"), std::string::npos) << report();
}

}  // namespace
}  // namespace tessaly
