#include "cli/copy_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_system.h"

namespace tessaly::cli {
namespace {

namespace fs = std::filesystem;

class CopyListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tessaly-list-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_top = pattern;
    }
    void TearDown() override { fs::remove_all(m_top); }

    std::string write(const std::string& relative, std::size_t size)
    {
        const fs::path path = fs::path(m_top) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
        return path.string();
    }

    std::string m_top;
};

std::vector<std::string> sourcesOf(const CopyList& list)
{
    std::vector<std::string> paths;
    for (const CopyItem& item : list.items) paths.push_back(item.source);
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST_F(CopyListTest, AFileGoesStraightIntoTheOutputFolder)
{
    const std::string file = write("sub/a.bin", 1000);
    const CopyList list = buildCopyList({file});
    ASSERT_EQ(list.items.size(), 1u);
    EXPECT_EQ(list.items[0].source, file);
    EXPECT_EQ(list.items[0].baseFolder, "");
    EXPECT_EQ(list.items[0].size, 1000u);
    EXPECT_EQ(list.totalSize, 1000u);
    EXPECT_EQ(destinationFor(list.items[0], "/out"), "/out/a.bin");
}

TEST_F(CopyListTest, AFolderKeepsItsPathBelowTheMountPointOfItsVolume)
{
    const std::string a = write("tree/a.bin", 10);
    const std::string b = write("tree/deep/er/b.bin", 20);
    const std::string hidden = write("tree/.hidden", 5);
    fs::create_directories(fs::path(m_top) / "tree/empty");
    const CopyList list = buildCopyList({m_top + "/tree/"});

    EXPECT_EQ(sourcesOf(list), (std::vector<std::string>{hidden, a, b}));
    EXPECT_EQ(list.totalSize, 35u);
    EXPECT_TRUE(list.unreadableFolders.empty());
    const std::string root = volumeRoot(m_top);
    for (const CopyItem& item : list.items) {
        EXPECT_EQ(item.baseFolder, root);
        // The copy sits at the source's path below the volume's mount point.
        EXPECT_EQ(destinationFor(item, "/out"), "/out/" + item.source.substr(root.size()));
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
    const CopyList list = buildCopyList({"link", "tree/a.bin"});
    fs::current_path(saved);

    ASSERT_EQ(list.items.size(), 2u);
    EXPECT_EQ(list.items[0].source, a);  // through the link, under its real path
    EXPECT_EQ(list.items[1].source, a);
    EXPECT_EQ(list.items[1].baseFolder, "");
}

TEST_F(CopyListTest, PipesInATreeAreLeftOutAndMissingSourcesKept)
{
    const std::string a = write("tree/a.bin", 3);
    ASSERT_EQ(::mkfifo((m_top + "/tree/pipe").c_str(), 0600), 0);
    const std::string missing = m_top + "/nothing-here.bin";
    const CopyList list = buildCopyList({m_top + "/tree", missing});
    ASSERT_EQ(list.items.size(), 2u);
    EXPECT_EQ(list.items[0].source, a);
    // The engine reports a source that cannot be opened; the list keeps it for that.
    EXPECT_EQ(list.items[1].source, missing);
    EXPECT_EQ(list.items[1].size, 0u);
}

TEST_F(CopyListTest, AFileNamedTwiceIsListedOnce)
{
    const std::string a = write("tree/a.bin", 4);
    const CopyList list = buildCopyList({m_top + "/tree", m_top + "/tree", a, a});
    ASSERT_EQ(list.items.size(), 2u);  // once below the tree's base, once on its own
    EXPECT_EQ(list.totalSize, 8u);
}

TEST(DestinationFor, OutputFolderWithOrWithoutTrailingSeparator)
{
    const CopyItem item{"/media/disk/docs/a.txt", "/media/disk/", 1};
    EXPECT_EQ(destinationFor(item, "/out"), "/out/docs/a.txt");
    EXPECT_EQ(destinationFor(item, "/out/"), "/out/docs/a.txt");
    const CopyItem atRoot{"/media/disk/a.txt", "/media/disk", 1};
    EXPECT_EQ(destinationFor(atRoot, "/out"), "/out/a.txt");
}

}  // namespace
}  // namespace tessaly::cli
