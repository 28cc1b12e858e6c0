// tessaly-cli copy over ordinary files, run as a user would run it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/tool/tool_test_support.h"

namespace tessaly {
namespace {

using testing::cliPath;
using testing::pattern;
using testing::readFile;
using testing::readText;
using testing::run;
using testing::TempDir;
using testing::writeFile;

class CopyCommandTest : public ::testing::Test
{
protected:
    void SetUp() override { std::filesystem::create_directory(dir / "out"); }
    // Runs copy with standard output in report.txt; killed after 5 s, so that a
    // copy that waits for ever fails the test instead of hanging it.
    int copy(const std::string& args)
    {
        return run("timeout -s KILL 5 " + cliPath() + " copy -q " + args + " " + (dir / "out") +
                   " >" + (dir / "report.txt") + " 2>" + (dir / "stderr.txt"));
    }
    std::string report() const { return readText(dir / "report.txt"); }

    TempDir dir;
};

// A rerun over a copy whose last run never ended writes the fills that run's log
// lists into a new log. The program killed at its first write to a file (strace
// injects SIGKILL there) leaves that log whole; the run after it keeps its fills.
TEST_F(CopyCommandTest, AKillAtTheFirstWriteOfAContinuedRunKeepsTheEarlierFills)
{
    if (run("command -v strace >/dev/null") != 0) GTEST_SKIP() << "strace is not installed";
    const testing::Bytes source = pattern(20000);
    std::filesystem::create_directory(dir / "src");
    writeFile(dir / "src/a.bin", source);
    testing::Bytes copied(source.begin(), source.begin() + 8192);
    std::fill_n(copied.begin() + 1024, 512, 0);
    writeFile(dir / "out/a.bin", copied);
    const testing::Bytes unfinished = testing::logBytes("a.bin", {{1024, 512}});
    writeFile(dir / "out/a.bin.log", unfinished);

    const int killed = run("strace -f -qq -o /dev/null -e trace=pwrite64 "
                           "-e inject=pwrite64:signal=SIGKILL:when=1 " + cliPath() +
                           " copy -q --yes --no-trim " + (dir / "src/a.bin") + " " + (dir / "out") +
                           " >/dev/null 2>&1");
    ASSERT_EQ(killed, 128 + 9) << "the kill was not injected";
    EXPECT_EQ(readFile(dir / "out/a.bin.log"), unfinished);
    EXPECT_EQ(readFile(dir / "out/a.bin"), copied);

    EXPECT_EQ(copy("--yes --no-trim " + (dir / "src/a.bin")), 1) << readText(dir / "stderr.txt");
    EXPECT_EQ(testing::withoutAnnotations(readFile(dir / "out/a.bin.log")),
              testing::logBytes("a.bin", {{1024, 512}, {20000, 0}}));
}

TEST_F(CopyCommandTest, ANamedPipeAsSourceIsRefusedAtOnce)
{
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0666), 0);
    EXPECT_EQ(copy(dir / "pipe"), 2);
    EXPECT_EQ(report(), "SourceOpenFailed\t0\t0\t" + (dir / "pipe") + "\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
}

// An output folder that cannot take the copies is said once, by its path, before
// anything is copied: one that is missing, a file, a folder being copied or inside one
// (the copies would go onto the medium they come from).
TEST_F(CopyCommandTest, AnUnusableOutputFolderIsNamedOnceBeforeTheRun)
{
    std::filesystem::create_directories(dir / "src/inside");
    writeFile(dir / "src/a.bin", pattern(100));
    writeFile(dir / "file", pattern(10));
    const struct
    {
        std::string source;
        std::string output;
        const char* why;
    } rows[] = {
        {dir / "src", dir / "gone", "does not exist"},
        {dir / "src", dir / "file", "does not exist"},
        {dir / "src", dir / "src", "lies inside a folder that is being copied"},
        {dir / "src", dir / "src/inside", "lies inside a folder that is being copied"},
        {dir / "src/../src/", dir / "src/inside", "lies inside a folder that is being copied"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(run("timeout -s KILL 5 " + cliPath() + " copy -q " + row.source + " " +
                      row.output + " >" + (dir / "report.txt") + " 2>" + (dir / "stderr.txt")),
                  64)
            << row.output;
        const std::string said = readText(dir / "stderr.txt");
        const std::string expected =
            "tessaly-cli copy: The output folder " + row.output + "\n" + row.why;
        EXPECT_EQ(said.substr(0, expected.size()), expected);
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;  // said once
        EXPECT_EQ(report(), "");
        EXPECT_TRUE(std::filesystem::is_empty(dir / "src/inside"));
    }
}

// A copy that cannot be opened is named by its own path, not by the source's, which
// the run never writes to; the terminal names the source after it.
TEST_F(CopyCommandTest, ACopyThatCannotBeOpenedIsNamedByItsPath)
{
    writeFile(dir / "a.bin", pattern(100));
    std::filesystem::create_directories(dir / "out/a.bin");  // a folder where the copy belongs
    EXPECT_EQ(copy(dir / "a.bin"), 2);
    EXPECT_EQ(readText(dir / "stderr.txt"),
              "tessaly-cli: File " + (dir / "out/a.bin") +
                  "\ncannot be opened.\n\nThe problem is with its copy in the output directory.\n"
                  "File " + (dir / "a.bin") + "\n");
}

// The report is written over its path after the run: a path that is a source, a copy or
// a log of the run (by another spelling, through a link, or still to be made) is refused
// before anything is copied or created.
TEST_F(CopyCommandTest, AReportPathThatIsAFileOfTheRunIsRefused)
{
    std::filesystem::create_directories(dir / "src/sub");
    writeFile(dir / "src/a.bin", pattern(5000));
    writeFile(dir / "src/sub/b.bin", pattern(3000));
    writeFile(dir / "out/a.bin", pattern(1000));  // an earlier run's, with its log
    writeFile(dir / "out/a.bin.log", testing::logBytes("a.bin", {{512, 512}}));
    std::filesystem::create_directory_symlink(dir / "out", dir / "outlink");
    const struct
    {
        std::string report;
        const char* what;  // in the refusal; nullptr: the run goes on
    } cases[] = {
        {dir / "src/a.bin", "the source"},
        {dir / "src/sub/../a.bin", "the source"},
        {dir / "out/a.bin", "the copy"},
        {dir / "outlink/a.bin.log", "the copy log"},
        {dir / "out/b.bin", "the copy"},  // made by this run
        {dir / "out/b.bin.log", "the copy log"},
        {"b.bin", "the copy"},  // relative to the output folder, where the test runs it
        {dir / "out/a.csv", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report);
        const int status = run("cd " + (dir / "out") + " && timeout -s KILL 5 " + cliPath() +
                               " copy -q --yes --report=" + c.report + " " + (dir / "src/a.bin") +
                               " " + (dir / "src/sub/b.bin") + " . 2>" + (dir / "stderr.txt"));
        const std::string said = readText(dir / "stderr.txt");
        if (c.what == nullptr) {
            EXPECT_NE(status, 64) << said;
            EXPECT_NE(readText(c.report).find("b.bin"), std::string::npos);
            continue;
        }
        EXPECT_EQ(status, 64);
        EXPECT_NE(said.find(std::string("would overwrite ") + c.what), std::string::npos) << said;
        EXPECT_EQ(readFile(dir / "src/a.bin"), pattern(5000));
        EXPECT_EQ(readFile(dir / "out/a.bin"), pattern(1000));
        EXPECT_EQ(readFile(dir / "out/a.bin.log"), testing::logBytes("a.bin", {{512, 512}}));
        EXPECT_FALSE(std::filesystem::exists(dir / "out/b.bin"));
    }
}

// A name with a line break, a tab, an escape sequence and a backslash stays one line
// of four fields, and printf '%b' gives the name back.
TEST_F(CopyCommandTest, EachFileIsOneReportLineWhateverItsName)
{
    const std::string name = std::string("a\nb\tc\x1b[31md\\x41\x7f");
    std::filesystem::create_directory(dir / "src");
    writeFile(dir / "src" + "/" + name, pattern(1000));
    ASSERT_EQ(copy("--no-log " + (dir / "src")), 0) << readText(dir / "stderr.txt");
    const std::string line = report();
    const std::string escaped = "a\\x0Ab\\x09c\\x1B[31md\\\\x41\\x7F";
    EXPECT_EQ(line, "Ok\t1000\t0\t" + (dir / "src") + "/" + escaped + "\n");
    ASSERT_EQ(run("(cut -f4 " + (dir / "report.txt") + " | xargs -0 printf '%b' | head -c -1) >" +
                  (dir / "field.txt")),
              0);
    EXPECT_EQ(readText(dir / "field.txt"), dir / "src" + "/" + name);
}

// Real symbolic links where a copy, its log or a folder of a tree copy belongs: the
// file is refused with the link message, and what the link leads to keeps every byte.
class LinkInOutputTest : public CopyCommandTest
{
protected:
    void SetUp() override
    {
        CopyCommandTest::SetUp();
        std::filesystem::create_directory(dir / "src");
        std::filesystem::create_directory(dir / "outside");
        writeFile(dir / "src/a.bin", pattern(5000));
        writeFile(dir / "outside/target", target);
    }
    std::string errors() const { return readText(dir / "stderr.txt"); }
    // The file was refused for the link, and the target is as it was.
    void expectRefused(int status)
    {
        EXPECT_NE(status, 0);
        EXPECT_NE(report().find("LinkInWay\t"), std::string::npos) << report();
        EXPECT_NE(errors().find("A symbolic link stands where"), std::string::npos) << errors();
        EXPECT_EQ(readFile(dir / "outside/target"), target);
    }

    const testing::Bytes target = pattern(3000, 7);
};

TEST_F(LinkInOutputTest, ALinkAtTheLogIsNotWrittenThroughByDefault)
{
    std::filesystem::create_symlink(dir / "outside/target", dir / "out/a.bin.log");
    expectRefused(copy(dir / "src/a.bin"));
    EXPECT_FALSE(std::filesystem::exists(dir / "out/a.bin"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "out/a.bin.log"));
}

TEST_F(LinkInOutputTest, ALinkAtTheCopyIsNeitherAppendedToNorReplaced)
{
    std::filesystem::create_symlink(dir / "outside/target", dir / "out/a.bin");
    for (const char* options : {"", "--yes ", "--existing=replace ", "--existing=append --yes "}) {
        SCOPED_TRACE(options);
        expectRefused(copy(options + (dir / "src/a.bin")));
        EXPECT_FALSE(std::filesystem::exists(dir / "out/a.bin.log"));
    }
}

TEST_F(LinkInOutputTest, ATreeCopyDoesNotFollowALinkedFolder)
{
    // Where the tree lands below the output folder depends on the volume's mount
    // point: a first copy shows it.
    std::filesystem::create_directories(dir / "src/tree/sub");
    writeFile(dir / "src/tree/sub/f.bin", pattern(2000, 3));
    ASSERT_EQ(copy(dir / "src/tree"), 0) << errors();
    std::filesystem::path landed;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "out")) {
        if (entry.path().filename() == "f.bin") landed = entry.path();
    }
    ASSERT_FALSE(landed.empty());
    const std::filesystem::path sub = landed.parent_path();
    std::filesystem::remove_all(sub);
    std::filesystem::create_directory_symlink(dir / "outside", sub);
    expectRefused(copy(dir / "src/tree"));
    EXPECT_FALSE(std::filesystem::exists(dir / "outside/f.bin"));
    EXPECT_FALSE(std::filesystem::exists(dir / "outside/f.bin.log"));
}

}  // namespace
}  // namespace tessaly
