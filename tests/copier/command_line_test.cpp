#include <gtest/gtest.h>

#include "copier/command_line.h"

using namespace tessaly;

TEST(CommandLine, OptionsAndPaths)
{
    CommandLine line = parseCommandLine({"--output=/tmp/out", "/media/a", "--start", "b.txt"});
    EXPECT_TRUE(line.error.empty());
    EXPECT_EQ(line.outputFolder, "/tmp/out");
    EXPECT_TRUE(line.start);
    EXPECT_EQ(line.paths, (std::vector<std::string>{"/media/a", "b.txt"}));

    // After "--" every argument is a path, also one that looks like an option.
    line = parseCommandLine({"--", "--start", "-"});
    EXPECT_FALSE(line.start);
    EXPECT_EQ(line.paths, (std::vector<std::string>{"--start", "-"}));

    EXPECT_TRUE(parseCommandLine({"x", "-h"}).help);
    EXPECT_FALSE(parseCommandLine({"--output="}).error.empty());
    EXPECT_FALSE(parseCommandLine({"--output"}).error.empty());
    EXPECT_FALSE(parseCommandLine({"--strat"}).error.empty());
}
