#include "run/folder_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/scripted_medium.h"

namespace tessaly {
namespace {

struct Scan
{
    std::vector<std::string> files;
    std::vector<std::string> unreadable;
    bool ended = false;
};

Scan scanOf(testing::ScriptedMedium& medium, const std::string& folder,
            const std::string& excluded = {}, const std::atomic<bool>* stopFlag = nullptr)
{
    static const std::atomic<bool> kNever{false};
    Scan scan;
    const ScanSink sink{[&](const std::string& path, std::uint64_t) { scan.files.push_back(path); },
                        [&](const std::string& f) { scan.unreadable.push_back(f); }};
    scan.ended = scanFolder(medium, folder, excluded, stopFlag ? *stopFlag : kNever, sink);
    return scan;
}

TEST(FolderScan, DepthFirstInTheOrderOfEachListing)
{
    testing::ScriptedMedium medium;
    medium.addFile("/d/z.bin", "z");
    medium.addFile("/d/sub/b.bin", "b");
    medium.addFile("/d/sub/a.bin", "a");
    medium.addFile("/d/a.bin", "a");
    medium.addFolder("/d/empty");
    medium.setListingOrder("/d", {"z.bin", "sub", "empty", "a.bin"});
    medium.setListingOrder("/d/sub", {"b.bin", "a.bin"});
    const Scan scan = scanOf(medium, "/d/");
    EXPECT_EQ(scan.files,
              (std::vector<std::string>{"/d/z.bin", "/d/sub/b.bin", "/d/sub/a.bin", "/d/a.bin"}));
    EXPECT_TRUE(scan.unreadable.empty());
    EXPECT_TRUE(scan.ended);
}

TEST(FolderScan, LinksToFoldersAndSpecialFilesAreLeftOutAndUnreadableFoldersSaid)
{
    testing::ScriptedMedium medium;
    medium.addFile("/d/a.bin", "a");
    medium.addFile("/d/locked/x.bin", "x");
    medium.addListedEntry("/d/loop", EntryKind::Folder, true);  // a link back up the tree
    medium.addListedEntry("/d/pipe", EntryKind::Other, false);
    medium.failListing("/d/locked");
    const Scan scan = scanOf(medium, "/d");
    EXPECT_EQ(scan.files, (std::vector<std::string>{"/d/a.bin"}));
    EXPECT_EQ(scan.unreadable, (std::vector<std::string>{"/d/locked"}));
}

TEST(FolderScan, TheExcludedFolderAndEverythingBelowItAreLeftOut)
{
    testing::ScriptedMedium medium;
    medium.addFile("/d/a.bin", "a");
    medium.addFile("/d/out/d/a.bin", "a");
    medium.addFile("/d/outer/b.bin", "b");
    EXPECT_EQ(scanOf(medium, "/d", "/d/out/").files,
              (std::vector<std::string>{"/d/a.bin", "/d/outer/b.bin"}));
    EXPECT_TRUE(scanOf(medium, "/d/out", "/d/out").files.empty());
}

TEST(FolderScan, ARaisedStopEndsTheScan)
{
    testing::ScriptedMedium medium;
    medium.addFile("/d/a.bin", "a");
    medium.addFile("/d/b.bin", "b");
    std::atomic<bool> stop{false};
    Scan scan;
    const ScanSink sink{[&](const std::string& path, std::uint64_t) {
                            scan.files.push_back(path);
                            stop = true;
                        },
                        {}};
    EXPECT_FALSE(scanFolder(medium, "/d", {}, stop, sink));
    EXPECT_EQ(scan.files, (std::vector<std::string>{"/d/a.bin"}));
}

}  // namespace
}  // namespace tessaly
