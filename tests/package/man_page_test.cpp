// The manual pages against the programs' own --help: every option and exit status a
// program lists must be documented on its page, under its command, and the page must
// document no option the program has lost.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_folder.h"

namespace {

using Lines = std::vector<std::string>;
using Names = std::set<std::string>;
using tessaly::testing::CommandResult;

std::string binDir()
{
    const char* dir = std::getenv("TESSALY_BIN_DIR");
    return dir ? dir : ".";
}

// Standard output of a command line run without a display.
CommandResult runProgram(const std::string& command)
{
    return tessaly::testing::runCommand("env -u DISPLAY -u WAYLAND_DISPLAY " + command + " </dev/null");
}

Lines splitLines(const std::string& text)
{
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

Lines readPage(const std::string& page)
{
    std::ifstream in(std::string(TESSALY_MAN_SOURCE_DIR) + "/" + page + ".scd");
    return splitLines(std::string(std::istreambuf_iterator<char>(in), {}));
}

// The options a help text names: words that begin with one or two dashes and a letter,
// standing at the start of a word ("--fill=KIND" names --fill).
Names optionsIn(const std::string& text)
{
    Names options;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '-') continue;
        if (i > 0 && !std::isspace(static_cast<unsigned char>(text[i - 1])) &&
            std::string("[(,|").find(text[i - 1]) == std::string::npos) {
            continue;
        }
        std::size_t end = i + (i + 1 < text.size() && text[i + 1] == '-' ? 2 : 1);
        if (end >= text.size() || !std::isalpha(static_cast<unsigned char>(text[end]))) continue;
        while (end < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '-')) {
            ++end;
        }
        options.insert(text.substr(i, end - i));
        i = end;
    }
    return options;
}

// The exit statuses a help text lists after "Exit status:", either one a line
// ("  2   a file failed") or in a sentence ("0 written, 2 the log ...").
Names exitStatusesIn(const std::string& text)
{
    Names statuses;
    const std::size_t at = text.find("Exit status:");
    if (at == std::string::npos) return statuses;
    const std::size_t end = text.find("\n\n", at);
    const std::string part = text.substr(at + 12, end == std::string::npos ? end : end - at - 12);
    for (std::size_t i = 0; i < part.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(part[i]))) continue;
        std::size_t before = i;
        while (before > 0 && part[before - 1] == ' ') --before;
        const bool starts = before == 0 || part[before - 1] == '\n' || part[before - 1] == ',';
        std::size_t stop = i;
        while (stop < part.size() && std::isdigit(static_cast<unsigned char>(part[stop]))) ++stop;
        if (starts && stop < part.size() && part[stop] == ' ') statuses.insert(part.substr(i, stop - i));
        i = stop;
    }
    return statuses;
}

// The lines of the page's subsection ("## ...") that names command, up to the next
// heading; a heading names the words before its first operand or option ("## get and
// put" names get and put).
Lines subsection(const Lines& page, const std::string& command)
{
    Lines lines;
    bool inside = false;
    for (const std::string& line : page) {
        if (line.starts_with("#")) {
            inside = false;
            if (!line.starts_with("## ")) continue;
            std::istringstream words(line.substr(3));
            for (std::string word; words >> word;) {
                if (!std::islower(static_cast<unsigned char>(word[0]))) break;
                if (word == command) inside = true;
            }
            continue;
        }
        if (inside) lines.push_back(line);
    }
    return lines;
}

// The terms of a page's lists: the bold words of a line that begins with one
// ("*-y*, *--yes*" gives -y and --yes, "*64*" gives 64).
Names termsOf(const Lines& lines)
{
    Names terms;
    for (const std::string& line : lines) {
        if (!line.starts_with("*")) continue;
        for (std::size_t at = line.find('*'); at != std::string::npos; at = line.find('*', at + 1)) {
            const std::size_t close = line.find('*', at + 1);
            if (close == std::string::npos) break;
            terms.insert(line.substr(at + 1, close - at - 1));
            at = close;
        }
    }
    return terms;
}

Names optionTerms(const Names& terms)
{
    Names options;
    for (const std::string& term : terms) {
        if (term.size() > 1 && term[0] == '-' && std::isalpha(static_cast<unsigned char>(term.back()))) {
            options.insert(term);
        }
    }
    return options;
}

void expectDocumented(const Names& wanted, const Names& terms, const std::string& where)
{
    for (const std::string& name : wanted) {
        EXPECT_TRUE(terms.count(name)) << name << " is not a term of " << where;
    }
}

// The commands that `tessaly-cli --help` lists, but help itself.
Names cliCommands()
{
    Names commands;
    bool listing = false;
    for (const std::string& line : splitLines(runProgram(binDir() + "/tessaly-cli --help").out)) {
        if (line == "Commands:") {
            listing = true;
        } else if (listing && line.starts_with("  ")) {
            std::istringstream words(line);
            std::string name;
            words >> name;
            if (name != "help") commands.insert(name);
        } else if (listing) {
            listing = false;
        }
    }
    return commands;
}

TEST(ManPageTest, HelpParsersFindWhatAHelpTextLists)
{
    const std::string help = "Usage: x [--out=DIR] SOURCE\n"
                             "  -y, --yes      go on (see --no-log); read-only, tessaly-cli\n"
                             "Exit status:\n  0   done\n  64  usage error\n\nMore text 3 here.\n";
    EXPECT_EQ(optionsIn(help), (Names{"--out", "-y", "--yes", "--no-log"}));
    EXPECT_EQ(exitStatusesIn(help), (Names{"0", "64"}));
    EXPECT_EQ(exitStatusesIn("Exit status: 0 written, 2 the log cannot\nbe read, 64 usage error.\n"),
              (Names{"0", "2", "64"}));

    const Lines page = {"# COMMANDS", "## get and put", "*--data*=_PATH_", "\ttext *--no*",
                        "*-h*, *--help*", "*64*", "## map LOG [--size=N]", "*--size*=_N_"};
    EXPECT_EQ(termsOf(subsection(page, "put")), (Names{"--data", "-h", "--help", "64"}));
    EXPECT_EQ(termsOf(subsection(page, "map")), (Names{"--size"}));
    EXPECT_TRUE(subsection(page, "LOG").empty());
}

TEST(ManPageTest, EveryCliCommandIsDocumentedWithItsOptionsAndExitStatuses)
{
    const Names commands = cliCommands();
    ASSERT_GE(commands.size(), 5u) << "tessaly-cli --help lists too few commands";
    const Lines page = readPage("tessaly-cli.1");
    ASSERT_FALSE(page.empty()) << "no tessaly-cli.1.scd in " << TESSALY_MAN_SOURCE_DIR;
    for (const std::string& command : commands) {
        const CommandResult help = runProgram(binDir() + "/tessaly-cli " + command + " --help");
        ASSERT_EQ(help.status, 0) << command << " --help";
        const Lines section = subsection(page, command);
        ASSERT_FALSE(section.empty()) << "tessaly-cli.1 has no subsection for " << command;
        const Names terms = termsOf(section);
        const Names options = optionsIn(help.out);
        expectDocumented(options, terms, "tessaly-cli.1, " + command);
        expectDocumented(exitStatusesIn(help.out), terms, "tessaly-cli.1, " + command);
        for (const std::string& documented : optionTerms(terms)) {
            // Every command answers these, whether its text says so or not.
            if (documented == "-h" || documented == "--help") continue;
            EXPECT_TRUE(options.count(documented))
                << "tessaly-cli.1 documents " << documented << " for " << command
                << ", which its --help does not list";
        }
    }
}

TEST(ManPageTest, EveryCommandOfThePageIsOneTheProgramKnows)
{
    const Names commands = cliCommands();
    for (const std::string& line : readPage("tessaly-cli.1")) {
        if (!line.starts_with("## ")) continue;
        std::istringstream words(line.substr(3));
        for (std::string word; words >> word && std::islower(static_cast<unsigned char>(word[0]));) {
            if (word == "and" || word == "help") continue;
            EXPECT_TRUE(commands.count(word)) << "tessaly-cli.1 documents a command " << word;
        }
    }
}

TEST(ManPageTest, TheWindowsDocumentEveryOptionOfTheirHelp)
{
    for (const std::string program : {"tessaly", "velmora"}) {
        SCOPED_TRACE(program);
        const std::string path = binDir() + "/" + program;
        if (!std::filesystem::exists(path)) GTEST_SKIP() << program << " is not built (no Qt)";
        const CommandResult help = runProgram(path + " --help");
        ASSERT_EQ(help.status, 0);
        const Lines page = readPage(program + ".1");
        ASSERT_FALSE(page.empty());
        const Names options = optionsIn(help.out);
        EXPECT_TRUE(options.count("--help"));
        expectDocumented(options, termsOf(page), program + ".1");
    }
}

}  // namespace
