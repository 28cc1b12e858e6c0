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

// Beyond ASCII too: the driver folds "Ä" and "ä", Greek and Cyrillic letters alike.
TEST_F(FoldedOutputSystemTest, NamesThatDifferInCaseOnlyGetOneCopy)
{
    const Bytes first = pattern(20000, 1);
    const struct
    {
        const char* first;
        const char* second;
    } names[] = {{"Data.img", "data.img"},
                 {"\u00c4rger.txt", "\u00e4rger.txt"},
                 {"\u03a3\u039f\u03a6\u0399\u0391.txt", "\u03c3\u03bf\u03c6\u03b9\u03b1.txt"},
                 {"\u0416\u0443\u043a.bin", "\u0436\u0443\u043a.bin"}};
    for (const auto& name : names) {
        const std::string one = dir / "one" + "/" + name.first;
        const std::string two = dir / "two" + "/" + name.second;
        writeFile(one, first);
        writeFile(two, pattern(30000, 2));
        for (const char* options :
             {"--yes ", "--yes --existing=replace ", "--yes --existing=append "}) {
            SCOPED_TRACE(std::string(options) + name.second);
            std::filesystem::remove(dir / "mnt" + "/" + name.first);
            EXPECT_NE(copy(options + one + " " + two), 0);
            EXPECT_EQ(report(), "Ok\t20000\t0\t" + one + "\nSameDestination\t0\t0\t" + two + "\n");
            EXPECT_EQ(readFile(dir / "mnt" + "/" + name.first), first);
        }
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
