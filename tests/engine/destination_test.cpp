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

TEST(DestinationTest, WithSeparatorAddsOneOnlyWhereMissing)
{
    EXPECT_EQ(withSeparator(""), "");
    EXPECT_EQ(withSeparator("/a"), "/a/");
    EXPECT_EQ(withSeparator("/a/"), "/a/");
}

}  // namespace
}  // namespace tessaly
