// Files out of images that are not mounted, with the damage their log lists.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/tool/tool_test_support.h"
#include "tests/volume/volume_images.h"
#include "volume/volume_log.h"

namespace tessaly::testing {
namespace {

namespace fs = std::filesystem;

class VolumeImageTest : public ::testing::TestWithParam<const char*>
{
};

// A mapfile beside an image marks a sector of a file's data and the first sector of a
// folder bad: the list names exactly the file, with the bytes of it in the sector, and
// the folder; the copy fills exactly those bytes and says the folder is unreadable.
TEST_P(VolumeImageTest, DamageListAndCopyFollowTheImagesLog)
{
    const fs::path dir = freshTestFolder("volume-image");
    const ImageFiles files = imageFiles(GetParam());
    const std::string at = std::string(GetParam()) == "gpt" ? "/p1" : "";  // sampleFiles()' part
    const fs::path image = dir / "disk.img";
    const std::string missing = buildImage(GetParam(), files, image);
    if (!missing.empty()) GTEST_SKIP() << "SKIPPED: " << missing;

    std::string error;
    const std::unique_ptr<Volume> clean = Volume::open(systemFileSystem(), image, {}, &error);
    ASSERT_TRUE(clean) << error;
    std::map<std::string, VolumeFileInfo> tree = walkVolume(*clean);
    for (const auto& [path, bytes] : files) {
        ASSERT_EQ(tree[path].size, bytes.size()) << path;
        EXPECT_EQ(clean->unreadableBytes(tree[path]), 0u) << path;
    }
    // With data in the inodes, the folder's entries lie in its inode, and the small file is
    // read through the library; ISO 9660 reads every folder as it opens, so that a folder's
    // bad sector leaves no file system to read. Only the file's sector is bad then.
    const bool inlined = std::string(GetParam()) == "ext4-inline";
    const bool folderBad = !inlined && std::string(GetParam()) != "iso9660";
    if (inlined) {
        ASSERT_EQ(tree["/KEEP/TINY.TXT"].runs.at(0).kind, RunKind::Library);
    }
    std::vector<std::uint64_t> bad = {sectorOf(tree[at + "/DOCS/A.BIN"], true)};
    if (folderBad) bad.push_back(sectorOf(tree[at + "/DOCS/SUB"], false));
    const std::vector<std::string> unlisted =
        folderBad ? std::vector<std::string>{at + "/DOCS/SUB"} : std::vector<std::string>{};
    std::ofstream(dir / "disk.map") << mapfileFor(fs::file_size(image), bad);

    // The tree to pick files from: its top names the file systems as the list does, and a
    // folder whose sector is bad cannot be read.
    std::string why;
    const std::unique_ptr<Volume> logged =
        openVolumeWithLog(systemFileSystem(), image, (dir / "disk.map").string(), &why, &why);
    ASSERT_TRUE(logged) << why;
    VolumeFileSystem inside(systemFileSystem(), *logged, image.string());
    const std::vector<std::string> top =
        at.empty() ? std::vector<std::string>{"//"} : std::vector<std::string>{"/p1/", "/p2/"};
    EXPECT_EQ(treeNames(volumeTreeTop(*logged, inside)), top);
    EXPECT_EQ(treeNames(listVolumeTreeFolder(inside, image.string() + at + "/DOCS").entries),
              (std::vector<std::string>{"SUB/", "A.BIN 30000"}));
    const VolumeTreeFolder sub = listVolumeTreeFolder(inside, image.string() + at + "/DOCS/SUB");
    EXPECT_EQ(sub.readable, !folderBad);
    EXPECT_EQ(treeNames(sub.entries),
              folderBad ? std::vector<std::string>{} : std::vector<std::string>{"C.TXT 700"});

    const std::string args = " --volume-log=" + (dir / "disk.map").string() + " ";
    const CommandResult listed = runCommand(cliPath() + " files --csv" + args + image.string());
    EXPECT_EQ(listed.status, 1);
    const auto lines = parseFilesCsv(listed.out);
    EXPECT_EQ(lines.count(at + "/DOCS/SUB") == 1, folderBad);
    EXPECT_EQ(lines.count(at + "/DOCS/SUB/C.TXT") == 1, !folderBad);
    std::map<std::string, std::uint64_t> expected;
    for (const auto& [path, bytes] : files) {
        if (folderBad && path.starts_with(at + "/DOCS/SUB/")) continue;
        const std::uint64_t damaged = bytesIn(tree[path], bad);
        if (damaged > 0) expected[path] = damaged;
        EXPECT_EQ(lines.at(path), std::make_pair(damaged, std::string(damaged ? "damaged" : "whole")))
            << path;
    }
    EXPECT_EQ(expected.count(at + "/DOCS/A.BIN"), 1u);

    if (std::string(GetParam()) == "iso9660") {  // a folder's bad sector: no file system, and why
        const std::uint64_t second = sectorOf(tree["/DOCS/SUB"], false) + 512;
        std::ofstream(dir / "sub.map") << mapfileFor(fs::file_size(image), {second});
        const CommandResult refused =
            runCommand(cliPath() + " files --volume-log=" + (dir / "sub.map").string() + " " +
                       image.string() + " 2>&1");
        EXPECT_NE(refused.out.find("\n  sectors the file systems start with are unreadable\n"),
                  std::string::npos)
            << refused.out;
    }
    EXPECT_EQ(run(cliPath() + " copy -q" + args + "--volume=" + image.string() + " " +
                  dir.string()),
              folderBad ? 2 : 1);  // 2: a folder could not be read
    expectExactCopies(files, dir, expected, unlisted);
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Images, VolumeImageTest,
                         ::testing::Values("fat12", "fat32", "ext4", "ext4-inline", "iso9660",
                                           "gpt", "exfat", "ntfs"),
                         [](const auto& row) {
                             return std::string(row.param) == "ext4-inline"
                                        ? std::string("ext4_inline")
                                        : std::string(row.param);
                         });

// An exFAT volume's own structures (its allocation bitmap, its up-case table) are not
// files of it.
TEST(ExfatVolumeTest, HoldsNoFilesOfItsOwnStructures)
{
    if (std::system("command -v mkfs.exfat >/dev/null 2>&1") != 0) GTEST_SKIP() << "no mkfs.exfat";
    const fs::path dir = freshTestFolder("volume-exfat");
    const fs::path image = dir / "card.img";
    ASSERT_EQ(std::system(("truncate -s 8M " + image.string() + " && mkfs.exfat " +
                           image.string() + " >/dev/null 2>&1").c_str()),
              0);
    std::string error;
    const std::unique_ptr<Volume> volume = Volume::open(systemFileSystem(), image, {}, &error);
    ASSERT_TRUE(volume) << error;
    EXPECT_TRUE(walkVolume(*volume).empty());
    fs::remove_all(dir);
}

// The log of an image: a copy log's filled regions and everything past its end, or
// everything outside a mapfile's finished blocks, is unreadable; a log that does not fit
// the image, or a malformed mapfile, is refused.
TEST(VolumeLogTest, ReadsCopyLogsAndMapfiles)
{
    struct Row
    {
        const char* name;
        std::string log;
        std::vector<BadRegion> unreadable;  // empty with error
        bool error;
    };
    const auto bytesOf = [](const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); };
    const Row rows[] = {
        {"copy log", bytesOf(copyLogBytes("d.img", 0, {{512, 512}, {1024, 512}, {8192, 0}})),
         {{512, 1024}, {8192, 1808}}, false},
        {"copy log of a finished image", bytesOf(copyLogBytes("d.img", 0, {{0, 512}, {10000, 0}})),
         {{0, 512}}, false},
        {"copy log past the image", bytesOf(copyLogBytes("d.img", 0, {{9999, 2}, {10001, 0}})), {}, true},
        {"mapfile", "# c\n0x0 + 1\n0x0 0x200 +\n0x200 0x200 -\n0x400 0x1000 +\n0x1400 0x200 ?\n"
                    "0x1600 0x200 /\n",
         {{512, 512}, {5120, 10000 - 5120}}, false},
        {"mapfile in disorder", "0 +\n4000 6000 +\n0 1000 +\n", {{1000, 3000}}, false},
        {"mapfile block past the image", "0 +\n0 20000 +\n", {}, true},
        {"mapfile with a bad status", "0 +\n0 100 x\n", {}, true},
        {"mapfile with a negative size", "0 +\n0 -1 +\n", {}, true},
        {"no status line", "", {}, true},
    };
    const fs::path dir = freshTestFolder("volume-log");
    for (const Row& row : rows) {
        std::ofstream(dir / "log", std::ios::binary | std::ios::trunc) << row.log;
        const VolumeLog log = loadVolumeLog(systemFileSystem(), (dir / "log").string(), 10000);
        EXPECT_EQ(!log.ok(), row.error) << row.name << ": " << log.error;
        if (log.ok()) {
            EXPECT_EQ(log.unreadable.regions(), row.unreadable) << row.name;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tessaly::testing
