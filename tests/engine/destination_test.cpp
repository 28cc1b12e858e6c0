#include "engine/destination.h"

#include <gtest/gtest.h>

namespace tessaly {
namespace {

struct DestinationCase
{
    const char* source;
    const char* output;
    const char* base;
    const char* relative;
    const char* destination;
};

TEST(DestinationTest, SourcesLandBelowTheOutputFolder)
{
    const DestinationCase cases[] = {
        {"/src/a/b/f", "/out/new", "/src", "a/b/", "/out/new/a/b/f"},
        {"/src/a/b/f", "/out/new/", "/src/", "a/b/", "/out/new/a/b/f"},
        {"/src/f", "/out", "/src", "", "/out/f"},
        // No base folder: the file name alone.
        {"/src/a/f", "/out", "", "", "/out/f"},
        // An empty output folder is the root.
        {"/src/a/f", "", "/src", "a/", "/a/f"},
        // A base folder that does not hold the source gives no relative folder.
        {"/other/g", "/out/", "/src/", "", "/out/g"},
        {"/srcx/g", "/out", "/src", "", "/out/g"},
        // A relative folder that climbs out is dropped; ".." inside a name is not a level.
        {"/src/x/../h", "/out", "/src/x", "", "/out/h"},
        {"/src/a/../../h", "/out", "/src", "", "/out/h"},
        {"/src/a..b/..c/h", "/out", "/src", "a..b/..c/", "/out/a..b/..c/h"},
        // A source without a folder.
        {"f", "/out", "/src", "", "/out/f"},
    };
    for (const DestinationCase& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " | " + c.output + " | " + c.base);
        EXPECT_EQ(relativeFolder(c.source, c.base), c.relative);
        EXPECT_EQ(destinationPath(c.source, c.output, c.base), c.destination);
    }
}

TEST(DestinationTest, AWholeDeviceGivesAnImageNamedAfterIt)
{
    EXPECT_EQ(destinationPath("/dev/sdb", "/home/u/rescued", "", true), "/home/u/rescued/sdb.img");
    EXPECT_EQ(destinationPath("/dev/mapper/x", "/out/", "", true), "/out/x.img");
    EXPECT_EQ(logPathOf(destinationPath("/dev/mmcblk0", "/out", "", true)), "/out/mmcblk0.img.log");
    // A file keeps its name, whatever it looks like.
    EXPECT_EQ(destinationPath("/dev/sdb", "/out", "", false), "/out/sdb");
    EXPECT_EQ(copyNameOf("/media/disk/card.img", false), "card.img");
}

TEST(DestinationTest, WithSeparatorAddsOneOnlyWhereMissing)
{
    EXPECT_EQ(withSeparator(""), "");
    EXPECT_EQ(withSeparator("/a"), "/a/");
    EXPECT_EQ(withSeparator("/a/"), "/a/");
}

}  // namespace
}  // namespace tessaly
