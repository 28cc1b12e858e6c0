#include "cli/copy_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaly::cli {
namespace {

ParsedCopyOptions parse(std::vector<std::string> args)
{
    return parseCopyOptions(args);
}

TEST(CopyOptions, DefaultsAreTheCopiersProfileDefaults)
{
    const ParsedCopyOptions p = parse({"a.bin", "out"});
    ASSERT_TRUE(p.ok()) << p.error;
    const CopyOptions& o = p.options;
    EXPECT_EQ(o.fillType, 0);
    EXPECT_EQ(o.fillValue, 255);
    EXPECT_EQ(o.fillString, "?");
    EXPECT_TRUE(o.autoRereads);
    EXPECT_EQ(o.rereadCount, 1u);
    EXPECT_EQ(o.optimizeFor, 0.0f);
    EXPECT_EQ(o.existingPolicy, 2);  // resume
    EXPECT_TRUE(o.createLog);
    EXPECT_TRUE(o.deleteLogIfNoErrors);
    EXPECT_EQ(o.reservedPlacement, 1);  // beside the source
    EXPECT_FALSE(o.yes);
    EXPECT_FALSE(o.quiet);
}

TEST(CopyOptions, OperandsAreSourcesThenTheOutputFolder)
{
    const ParsedCopyOptions p = parse({"a", "--quiet", "b", "-y", "out"});
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_EQ(p.options.sources, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(p.options.outputFolder, "out");
    EXPECT_TRUE(p.options.quiet);
    EXPECT_TRUE(p.options.yes);

    // After "--" a name that starts with a dash is a file.
    const ParsedCopyOptions q = parse({"--", "--no-log", "out"});
    ASSERT_TRUE(q.ok()) << q.error;
    EXPECT_EQ(q.options.sources, (std::vector<std::string>{"--no-log"}));
    EXPECT_TRUE(q.options.createLog);
}

TEST(CopyOptions, EachFillKind)
{
    auto fill = [](const std::string& arg) { return parse({arg, "src", "out"}).options; };
    EXPECT_EQ(fill("--fill=zeros").fillType, 0);
    const CopyOptions value = fill("--fill=value:7");
    EXPECT_EQ(value.fillType, 1);
    EXPECT_EQ(value.fillValue, 7);
    EXPECT_EQ(fill("--fill=value:0").fillValue, 0);
    const CopyOptions text = fill("--fill=string:BAD SECTOR=");
    EXPECT_EQ(text.fillType, 2);
    EXPECT_EQ(text.fillString, "BAD SECTOR=");  // everything after the first colon
    EXPECT_EQ(fill("--fill=last-good").fillType, 3);
    EXPECT_EQ(fill("--fill=nothing").fillType, 4);
}

TEST(CopyOptions, SettingsThatTakeAValue)
{
    const ParsedCopyOptions p =
        parse({"--attempts=3", "--optimize", "0.25", "--existing=append", "--no-log",
               "--keep-clean-log", "--reserved=folder:/mnt/copies", "src", "out"});
    ASSERT_TRUE(p.ok()) << p.error;
    const CopyOptions& o = p.options;
    EXPECT_FALSE(o.autoRereads);
    EXPECT_EQ(o.rereadCount, 3u);
    EXPECT_FLOAT_EQ(o.optimizeFor, 0.25f);
    EXPECT_EQ(o.existingPolicy, 1);
    EXPECT_FALSE(o.createLog);
    EXPECT_FALSE(o.deleteLogIfNoErrors);
    EXPECT_EQ(o.reservedPlacement, 0);
    EXPECT_EQ(o.reservedFolder, "/mnt/copies");

    EXPECT_EQ(parse({"--existing=replace", "s", "o"}).options.existingPolicy, 0);
    EXPECT_EQ(parse({"--existing=skip", "s", "o"}).options.existingPolicy, 3);
    EXPECT_EQ(parse({"--reserved=ask", "s", "o"}).options.reservedPlacement, 2);
    EXPECT_TRUE(parse({"--attempts=3", "--attempts=auto", "s", "o"}).options.autoRereads);
    EXPECT_FLOAT_EQ(parse({"--optimize=1", "s", "o"}).options.optimizeFor, 1.0f);
}

TEST(CopyOptions, UnusableCommandLinesAreRefusedWithAReason)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"only-one"},
        {"--fill=value:256", "s", "o"},
        {"--fill=value:-1", "s", "o"},
        {"--fill=value:", "s", "o"},
        {"--fill=string:", "s", "o"},
        {"--fill=ones", "s", "o"},
        {"--attempts=0", "s", "o"},
        {"--attempts=2x", "s", "o"},
        {"--optimize=1.5", "s", "o"},
        {"--optimize=-0.1", "s", "o"},
        {"--optimize=nan", "s", "o"},
        {"--optimize=", "s", "o"},
        {"--existing=overwrite", "s", "o"},
        {"--reserved=folder:", "s", "o"},
        {"--reserved=elsewhere", "s", "o"},
        {"--frobnicate", "s", "o"},
        {"s", "o", "--fill"},
    };
    for (const auto& args : bad) {
        const ParsedCopyOptions p = parse(args);
        std::string joined;
        for (const auto& a : args) joined += a + ' ';
        EXPECT_FALSE(p.ok()) << joined;
    }
}

TEST(CopyOptions, HelpNeedsNoOperands)
{
    const ParsedCopyOptions p = parse({"--help"});
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_TRUE(p.options.help);
}

}  // namespace
}  // namespace tessaly::cli
