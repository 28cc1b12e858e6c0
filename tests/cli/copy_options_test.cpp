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
    EXPECT_EQ(o.engine.fillType, FillType::Zeros);
    EXPECT_EQ(o.engine.fillValue, 255);
    EXPECT_EQ(o.engine.fillString, "?");
    EXPECT_TRUE(o.engine.autoRereads);
    EXPECT_EQ(o.engine.rereadCount, 1u);
    EXPECT_EQ(o.engine.optimizeFor, 0.0f);
    EXPECT_EQ(o.engine.existingPolicy, ExistingPolicy::Resume);
    EXPECT_TRUE(o.engine.createLog);
    EXPECT_TRUE(o.engine.deleteLogIfNoErrors);
    EXPECT_EQ(o.engine.reservedPlacement, ReservedPlacement::BesideSource);
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
    EXPECT_TRUE(q.options.engine.createLog);
}

TEST(CopyOptions, EachFillKind)
{
    auto fill = [](const std::string& arg) { return parse({arg, "src", "out"}).options; };
    EXPECT_EQ(fill("--fill=zeros").engine.fillType, FillType::Zeros);
    const CopyOptions value = fill("--fill=value:7");
    EXPECT_EQ(value.engine.fillType, FillType::Value);
    EXPECT_EQ(value.engine.fillValue, 7);
    EXPECT_EQ(fill("--fill=value:0").engine.fillValue, 0);
    const CopyOptions text = fill("--fill=string:BAD SECTOR=");
    EXPECT_EQ(text.engine.fillType, FillType::String);
    EXPECT_EQ(text.engine.fillString, "BAD SECTOR=");  // everything after the first colon
    EXPECT_EQ(fill("--fill=last-good").engine.fillType, FillType::LastGood);
    EXPECT_EQ(fill("--fill=nothing").engine.fillType, FillType::Nothing);
}

TEST(CopyOptions, SettingsThatTakeAValue)
{
    const ParsedCopyOptions p =
        parse({"--attempts=3", "--optimize", "0.25", "--existing=append", "--no-log",
               "--keep-clean-log", "--no-trim", "--reserved=folder:/mnt/copies", "src", "out"});
    ASSERT_TRUE(p.ok()) << p.error;
    const CopyOptions& o = p.options;
    EXPECT_FALSE(o.engine.autoRereads);
    EXPECT_EQ(o.engine.rereadCount, 3u);
    EXPECT_FLOAT_EQ(o.engine.optimizeFor, 0.25f);
    EXPECT_EQ(o.engine.existingPolicy, ExistingPolicy::Append);
    EXPECT_FALSE(o.engine.createLog);
    EXPECT_FALSE(o.engine.deleteLogIfNoErrors);
    EXPECT_FALSE(o.engine.trimPass);
    EXPECT_TRUE(parse({"s", "o"}).options.engine.trimPass);
    EXPECT_TRUE(parse({"s", "o"}).options.engine.easyFirst);
    EXPECT_FALSE(parse({"--no-easy-first", "s", "o"}).options.engine.easyFirst);
    EXPECT_TRUE(parse({"--no-easy-first", "--easy-first", "s", "o"}).options.engine.easyFirst);
    EXPECT_EQ(o.engine.reservedPlacement, ReservedPlacement::InFolder);
    EXPECT_EQ(o.engine.reservedFolder, "/mnt/copies");

    EXPECT_EQ(parse({"--existing=replace", "s", "o"}).options.engine.existingPolicy,
              ExistingPolicy::Replace);
    EXPECT_EQ(parse({"--existing=skip", "s", "o"}).options.engine.existingPolicy,
              ExistingPolicy::Skip);
    EXPECT_EQ(parse({"--reserved=ask", "s", "o"}).options.engine.reservedPlacement,
              ReservedPlacement::Ask);
    EXPECT_TRUE(parse({"--attempts=3", "--attempts=auto", "s", "o"}).options.engine.autoRereads);
    EXPECT_FLOAT_EQ(parse({"--optimize=1", "s", "o"}).options.engine.optimizeFor, 1.0f);
    EXPECT_EQ(parse({"s", "o"}).options.engine.retryPasses, 2u);
    EXPECT_EQ(parse({"--retry-passes=0", "s", "o"}).options.engine.retryPasses, 0u);
    EXPECT_EQ(parse({"--retry-passes", "9", "s", "o"}).options.engine.retryPasses, 9u);
}

TEST(CopyOptions, UnusableCommandLinesAreRefusedWithAReason)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"only-one"},
        {"--fill=value:256", "s", "o"},
        {"--retry-passes=10", "s", "o"},
        {"--retry-passes=-1", "s", "o"},
        {"--retry-passes=", "s", "o"},
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
        {"--wait-for-medium=0", "s", "o"},
        {"--wait-for-medium=", "s", "o"},
        {"--wait-for-medium=10s", "s", "o"},
        {"--wait-for-medium=604801", "s", "o"},
        {"--wait-for-mediums", "s", "o"},
    };
    for (const auto& args : bad) {
        const ParsedCopyOptions p = parse(args);
        std::string joined;
        for (const auto& a : args) joined += a + ' ';
        EXPECT_FALSE(p.ok()) << joined;
    }
}

// A bare --wait-for-medium waits until interrupted and never takes the next argument.
TEST(CopyOptions, WaitForMediumTakesItsSecondsOnlyAfterTheEqualsSign)
{
    EXPECT_FALSE(parse({"s", "o"}).options.waitForMedium);
    const ParsedCopyOptions bare = parse({"--wait-for-medium", "30", "o"});
    ASSERT_TRUE(bare.ok()) << bare.error;
    EXPECT_TRUE(bare.options.waitForMedium);
    EXPECT_EQ(bare.options.waitSeconds, 0u);
    EXPECT_EQ(bare.options.sources, std::vector<std::string>{"30"});
    const ParsedCopyOptions limited = parse({"s", "--wait-for-medium=90", "o"});
    ASSERT_TRUE(limited.ok()) << limited.error;
    EXPECT_TRUE(limited.options.waitForMedium);
    EXPECT_EQ(limited.options.waitSeconds, 90u);
}

TEST(CopyOptions, HelpNeedsNoOperands)
{
    const ParsedCopyOptions p = parse({"--help"});
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_TRUE(p.options.help);
}

}  // namespace
}  // namespace tessaly::cli
