#include "cli/terminal_job_ui.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "texts/text_ids.h"

namespace tessaly::cli {
namespace {

// A terminal made of two temporary files: what the user types, what is shown.
class FakeTerminal
{
public:
    explicit FakeTerminal(const std::string& typed) : in(std::tmpfile()), out(std::tmpfile())
    {
        std::fputs(typed.c_str(), in);
        std::rewind(in);
    }
    ~FakeTerminal()
    {
        std::fclose(in);
        std::fclose(out);
    }
    std::string shown()
    {
        std::fflush(out);
        std::rewind(out);
        std::string text;
        for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text += static_cast<char>(c);
        return text;
    }
    std::FILE* in;
    std::FILE* out;
};

const TextLookup kTexts = [](int id) { return "t" + std::to_string(id); };

TEST(TerminalJobUi, LocatesFromDataOptionOnceThenAsksOrCancels)
{
    FakeTerminal terminal("sub/x.bin\n/abs/y.bin\n\n");
    TerminalJobUi ui(kTexts, "/given/data.bin", true, terminal.in, terminal.out);
    EXPECT_EQ(ui.locateFile(text::kLocateForGet, "/logs"), "/given/data.bin");
    // A typed name is looked for in the folder the question names.
    EXPECT_EQ(ui.locateFile(text::kLocateForGet, "/logs"), "/logs/sub/x.bin");
    EXPECT_EQ(ui.locateFile(text::kLocateForPut, "/logs"), "/abs/y.bin");
    EXPECT_EQ(ui.locateFile(text::kLocateForPut, "/logs"), std::nullopt);  // empty line
    EXPECT_EQ(ui.locateFile(text::kLocateForPut, "/logs"), std::nullopt);  // end of input
    EXPECT_NE(terminal.shown().find("t86 [/logs]: "), std::string::npos);

    FakeTerminal script("typed.bin\n");
    TerminalJobUi batch(kTexts, std::nullopt, false, script.in, script.out);
    EXPECT_EQ(batch.locateFile(text::kLocateForGet, "/logs"), std::nullopt);
    EXPECT_EQ(script.shown(), "");
}

TEST(TerminalJobUi, ShowsFieldsAndMessagesAsLines)
{
    FakeTerminal terminal("");
    TerminalJobUi ui(kTexts, std::nullopt, false, terminal.in, terminal.out);
    ui.setDataFrom("a.bin");
    ui.setDataTo("a.bin.mrd");
    ui.setProgress(50);  // not a terminal: no bar
    ui.setState(text::kDone);
    ui.showError({text::kFileWord, "a\x1b[2Jb", text::kCannotOpen});
    EXPECT_EQ(terminal.shown(), "t79: a.bin\nt80: a.bin.mrd\nt81: t91\nt14 a\\x1B[2Jb\nt24\n");
}

}  // namespace
}  // namespace tessaly::cli
