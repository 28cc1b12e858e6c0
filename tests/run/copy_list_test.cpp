#include "run/copy_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/destination.h"
#include "platform/file_system.h"
#include "tests/support/scripted_medium.h"
#include "tests/support/test_folder.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

class CopyListTest : public ::testing::Test
{
protected:
    void SetUp() override { m_top = testing::freshTestFolder("tessaly-list").string(); }
    void TearDown() override { fs::remove_all(m_top); }

    std::string write(const std::string& relative, std::size_t size)
    {
        const fs::path path = fs::path(m_top) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
        return path.string();
    }

    CopyList build(const std::vector<std::string>& sources, const std::string& output = {})
    {
        return buildCopyList(systemFileSystem(), sources, output, m_stop);
    }

    std::string m_top;
    std::atomic<bool> m_stop{false};
};

std::vector<std::string> sourcesOf(const CopyList& list)
{
    std::vector<std::string> paths;
    for (const FileEntry& entry : list.entries) paths.push_back(entry.name);
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST_F(CopyListTest, AFileGoesStraightIntoTheOutputFolder)
{
    const std::string file = write("sub/a.bin", 1000);
    const CopyList list = build({file});
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(list.entries[0].name, file);
    EXPECT_EQ(list.entries[0].base(), "");
    EXPECT_EQ(list.entries[0].size, 1000u);
    EXPECT_EQ(list.totalSize, 1000u);
    EXPECT_EQ(destinationPath(file, "/out", list.entries[0].base()), "/out/a.bin");
}

TEST_F(CopyListTest, AFolderKeepsItsPathBelowTheMountPointOfItsVolume)
{
    const std::string a = write("tree/a.bin", 10);
    const std::string b = write("tree/deep/er/b.bin", 20);
    const std::string hidden = write("tree/.hidden", 5);
    fs::create_directories(fs::path(m_top) / "tree/empty");
    const CopyList list = build({m_top + "/tree/"});

    EXPECT_EQ(sourcesOf(list), (std::vector<std::string>{hidden, a, b}));
    EXPECT_EQ(list.totalSize, 35u);
    EXPECT_TRUE(list.unreadableFolders.empty());
    const std::string root = volumeRoot(m_top);
    for (const FileEntry& entry : list.entries) {
        EXPECT_EQ(entry.base(), root);
        // The copy sits at the source's path below the volume's mount point.
        EXPECT_EQ(destinationPath(entry.name, "/out", entry.base()),
                  "/out/" + entry.name.substr(root.size()));
    }
}

TEST_F(CopyListTest, RelativePathsAndLinksAreResolved)
{
    const std::string a = write("tree/a.bin", 1);
    fs::create_symlink(fs::path(m_top) / "tree", fs::path(m_top) / "link");
    // A link back up the tree would make the scan endless if it were followed.
    fs::create_directory_symlink(fs::path(m_top) / "tree", fs::path(m_top) / "tree/loop");
    const fs::path saved = fs::current_path();
    fs::current_path(m_top);
    const CopyList list = build({"link", "tree/a.bin"});
    fs::current_path(saved);

    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[0].name, a);  // through the link, under its real path
    EXPECT_EQ(list.entries[1].name, a);
    EXPECT_EQ(list.entries[1].base(), "");
}

TEST_F(CopyListTest, PipesInATreeAreLeftOutAndMissingSourcesKept)
{
    const std::string a = write("tree/a.bin", 3);
    ASSERT_EQ(::mkfifo((m_top + "/tree/pipe").c_str(), 0600), 0);
    const std::string missing = m_top + "/nothing-here.bin";
    const CopyList list = build({m_top + "/tree", missing});
    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[0].name, a);
    // The engine reports a source that cannot be opened; the list keeps it for that.
    EXPECT_EQ(list.entries[1].name, missing);
    EXPECT_EQ(list.entries[1].size, 0u);
}

TEST_F(CopyListTest, AFileNamedTwiceIsListedOnce)
{
    const std::string a = write("tree/a.bin", 4);
    const CopyList list = build({m_top + "/tree", m_top + "/tree", a, a});
    ASSERT_EQ(list.entries.size(), 2u);  // once below the tree's base, once on its own
    EXPECT_EQ(list.totalSize, 8u);
}

// Copying a folder into a folder inside it must not copy the earlier copies again.
TEST_F(CopyListTest, TheOutputFolderInsideTheSourceIsLeftOut)
{
    const std::string a = write("tree/a.bin", 3);
    write("tree/out/tree/a.bin", 3);
    write("tree/out/deeper/b.bin", 3);
    const std::string c = write("tree/outer/c.bin", 3);
    // Named as the user may name it: relative, with a trailing separator.
    const fs::path saved = fs::current_path();
    fs::current_path(m_top);
    const CopyList list = build({m_top + "/tree"}, "tree/./out/");
    fs::current_path(saved);
    EXPECT_EQ(sourcesOf(list), (std::vector<std::string>{a, c}));
    EXPECT_TRUE(list.foldersHoldingOutput.empty());
    // The output folder named as a source is left out as a whole, and the list says why
    // it holds nothing of it.
    const CopyList same = build({m_top + "/tree/out"}, m_top + "/tree/out");
    EXPECT_TRUE(same.entries.empty());
    EXPECT_EQ(same.foldersHoldingOutput, (std::vector<std::string>{m_top + "/tree/out"}));
}

// A source folder whose only content is the output folder gives nothing either; an
// empty folder, or one beside the output folder, is no such case.
TEST_F(CopyListTest, ASourceThatGivesNothingButTheOutputFolderIsNamed)
{
    write("only/out/only/a.bin", 3);
    fs::create_directories(m_top + "/empty");
    fs::create_directories(m_top + "/outside");
    const CopyList list =
        build({m_top + "/only", m_top + "/empty", m_top + "/only/out/"}, m_top + "/only/out");
    EXPECT_TRUE(list.entries.empty());
    ASSERT_EQ(list.foldersHoldingOutput.size(), 2u);
    EXPECT_EQ(list.foldersHoldingOutput[0], m_top + "/only");
    EXPECT_TRUE(build({m_top + "/empty"}, m_top + "/outside").foldersHoldingOutput.empty());
    // "/ab" is not below "/a".
    write("a/x.bin", 0);
    fs::create_directories(m_top + "/ab");
    EXPECT_TRUE(build({m_top + "/ab"}, m_top + "/a").foldersHoldingOutput.empty());
}

// Many files of one folder are listed without comparing each with all before it.
TEST(CopyListBuilder, ASecondMentionUnderTheSameBaseIsDropped)
{
    testing::ScriptedMedium medium;
    std::atomic<bool> stop{false};
    CopyListBuilder builder(medium, "/out", stop);
    const auto base = std::make_shared<const std::string>("/");
    const auto none = std::make_shared<const std::string>();
    builder.addFile("/src/a", base, 5);
    builder.addFile("/src/a", none, 5);
    builder.addFile("/src/a", std::make_shared<const std::string>("/"), 5);
    builder.addFile("/src/b", base, 7);
    const CopyList list = builder.take();
    ASSERT_EQ(list.entries.size(), 3u);
    EXPECT_EQ(list.totalSize, 17u);
    EXPECT_EQ(list.entries[1].base(), "");
}

// A device named on its own is a source with its size; one met in a folder is not.
TEST(CopyListBuilder, OnlyADeviceNamedDirectlyIsListed)
{
    testing::ScriptedMedium medium;
    medium.addFile("/dev/sdb", std::string(8192, 'd'));
    medium.markBlockDevice("/dev/sdb");
    medium.addFile("/dev/notes.txt", "n");
    std::atomic<bool> stop{false};
    const CopyList named = buildCopyList(medium, {"/dev/sdb"}, "/out", stop);
    ASSERT_EQ(named.entries.size(), 1u);
    EXPECT_EQ(named.entries[0].name, "/dev/sdb");
    EXPECT_EQ(named.entries[0].base(), "");
    EXPECT_EQ(named.entries[0].size, 8192u);
    EXPECT_EQ(named.totalSize, 8192u);

    const CopyList scanned = buildCopyList(medium, {"/dev"}, "/out", stop);
    ASSERT_EQ(scanned.entries.size(), 1u);
    EXPECT_EQ(scanned.entries[0].name, "/dev/notes.txt");
}

}  // namespace
}  // namespace tessaly
