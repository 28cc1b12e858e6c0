// Images that no healthy medium holds: a size beyond the volume, a folder that holds a
// folder above it, a partition table with a partition past the disk's end next to two
// good ones. Each is said, nothing hangs, and the good files come out exact.
#include <gtest/gtest.h>
#include <tsk/libtsk.h>

#include <array>
#include <filesystem>

#include "platform/shared_library.h"
#include "tests/tool/tool_test_support.h"
#include "tests/volume/volume_images.h"
#include "volume/tsk_library.h"

namespace tessaly::testing {
namespace {

namespace fs = std::filesystem;

// An MBR of 512 bytes with partitions (first sector, sectors, type) in its first slots.
std::string mbrWith(const std::vector<std::array<std::uint32_t, 3>>& parts)
{
    std::string mbr(512, '\0');
    for (std::size_t i = 0; i < parts.size(); ++i) {
        char* slot = mbr.data() + 446 + 16 * i;
        slot[4] = static_cast<char>(parts[i][2]);
        for (int b = 0; b < 4; ++b) {
            slot[8 + b] = static_cast<char>(parts[i][0] >> (8 * b));
            slot[12 + b] = static_cast<char>(parts[i][1] >> (8 * b));
        }
    }
    mbr[510] = '\x55';
    mbr[511] = '\xaa';
    return mbr;
}

// The library's blocks come from the volume layer, which refuses one that only a crafted
// image asks for: the library clears what it gets, so a field of 4 GiB would cost 4 GiB.
TEST(CraftedVolumeTest, TheLibraryGetsNoBlockOfGigabytes)
{
    // Loaded as the programs load it. Its own allocation of a file's metadata with a buffer
    // of the size asked (exported, declared only in its internal headers).
    std::string error;
    ASSERT_NE(loadTsk(&error), nullptr) << error;
    SharedLibrary library(kTskSoname);
    using Alloc = TSK_FS_META* (*)(size_t);
    using Close = void (*)(TSK_FS_META*);
    const auto alloc = reinterpret_cast<Alloc>(library.symbol("tsk_fs_meta_alloc"));
    const auto close = reinterpret_cast<Close>(library.symbol("tsk_fs_meta_close"));
    ASSERT_TRUE(alloc && close) << library.error();
    TSK_FS_META* small = alloc(4096);
    ASSERT_NE(small, nullptr);
    close(small);
    EXPECT_EQ(alloc(std::size_t{1} << 30), nullptr);
}

TEST(CraftedVolumeTest, WhatCannotBeTrustedIsSaidAndTheRestComesOutExact)
{
    const fs::path dir = freshTestFolder("volume-crafted");
    const ImageFiles files = sampleFiles();
    for (const char* kind : {"ext4", "fat12"}) {
        const std::string missing = buildImage(kind, files, dir / (std::string(kind) + ".img"));
        if (!missing.empty()) GTEST_SKIP() << "SKIPPED: " << missing;
    }
    const std::string ext = (dir / "ext4.img").string();
    ASSERT_EQ(runCommand("debugfs -w -R 'sif /B.TXT size 0x4000000000000000' " + ext +
                         " >/dev/null 2>&1 && debugfs -w -R 'ln /DOCS /DOCS/SUB/LOOP' " + ext +
                         " >/dev/null 2>&1")
                  .status,
              0);
    // p1 the ext4 image at 1 MiB, p2 the floppy at 6 MiB, p3 past the end of the disk.
    std::string disk = mbrWith({{2048, 8192, 0x83}, {12288, 2880, 0x01}, {16000, 9000, 0x83}});
    disk.resize(1 << 20);
    disk += readAll(ext);
    disk.resize(6 << 20);
    disk += readAll((dir / "fat12.img").string());
    disk.resize(8 << 20);
    std::ofstream(dir / "disk.img", std::ios::binary) << disk;
    const std::string image = (dir / "disk.img").string();

    const CommandResult listed = runCommand("timeout -s KILL 20 " + cliPath() + " files " + image);
    EXPECT_EQ(listed.status, 1);
    const auto lines = parseFilesCsv(listed.out);
    EXPECT_EQ(lines.at("/p1/B.TXT").second, "not listed");
    EXPECT_EQ(lines.at("/p1/DOCS/SUB/LOOP").second, "not listed");
    EXPECT_EQ(lines.at("/p3").second, "not listed");
    for (const auto& [path, bytes] : files) {
        EXPECT_EQ(lines.at("/p2" + path).second, "whole") << path;
        if (path != "/B.TXT") {
            EXPECT_EQ(lines.at("/p1" + path).second, "whole") << path;
        }
    }

    // The tree to pick from greys the same: the partition, the file, the folder's loop.
    std::string why;
    const std::unique_ptr<Volume> volume = Volume::open(systemFileSystem(), image, {}, &why);
    ASSERT_TRUE(volume) << why;
    VolumeFileSystem inside(systemFileSystem(), *volume, image);
    EXPECT_EQ(treeNames(volumeTreeTop(*volume, inside)),
              (std::vector<std::string>{"/p1/", "/p2/", "/p3/!"}));
    EXPECT_EQ(treeNames(listVolumeTreeFolder(inside, image + "/p1").entries),
              (std::vector<std::string>{"DOCS/", "KEEP/", "lost+found/", "ZBIG.BIN 300000",
                                        "B.TXT 0!"}));
    EXPECT_EQ(treeNames(listVolumeTreeFolder(inside, image + "/p1/DOCS/SUB").entries),
              (std::vector<std::string>{"LOOP/!", "C.TXT 700"}));

    EXPECT_EQ(run("timeout -s KILL 20 " + cliPath() + " copy -q --volume=" + image + " /p1 " +
                  dir.string()),
              2);  // B.TXT is said, and not copied
    EXPECT_FALSE(fs::exists(dir / "p1" / "B.TXT"));
    EXPECT_FALSE(fs::exists(dir / "p1" / "DOCS" / "SUB" / "LOOP"));
    ImageFiles good = files;
    good.erase("/B.TXT");
    expectExactCopies(good, dir / "p1", {}, {});
    // ".." inside the volume resolves by name and never leaves it.
    EXPECT_EQ(run(cliPath() + " copy -q --volume=" + image + " /p1/../../p2/. " + dir.string()), 0);
    expectExactCopies(files, dir / "p2", {}, {});
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tessaly::testing
