#include "cli/terminal_copy_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/terminal_console.h"
#include "engine/copy_engine.h"
#include "tests/support/scripted_medium.h"
#include "texts/language_table.h"

namespace tessaly::cli {
namespace {

// Answers from a script and records what the driver said.
class ScriptedConsole : public Console
{
public:
    bool interactive() const override { return isInteractive; }
    bool confirm(const std::string& question, bool) override
    {
        std::lock_guard lock(m_mutex);
        questions.push_back(question);
        const bool answer = !confirmAnswers.empty() && confirmAnswers.front();
        if (!confirmAnswers.empty()) confirmAnswers.pop_front();
        return answer;
    }
    std::string askLine(const std::string& question) override
    {
        std::lock_guard lock(m_mutex);
        questions.push_back(question);
        if (onAskLine) return onAskLine();
        return lineAnswer;
    }
    void message(const std::string& text) override
    {
        {
            std::lock_guard lock(m_mutex);
            messages.push_back(text);
        }
        if (onMessage) onMessage(text);
    }
    void progress(const Progress& p) override
    {
        ++progressCalls;
        lastFilePercent = p.filePercent;
        lastTotalPercent = p.totalPercent;
        if (p.trimRegions > 0) trimRegionsSeen = p.trimRegions;
        if (p.retryPass > 0) {
            retryPassSeen = p.retryPass;
            retryPassesSeen = p.retryPasses;
        }
        if (p.again) againSeen = true;
        if (onProgress) onProgress();
    }

    bool isInteractive = false;
    std::deque<bool> confirmAnswers;
    std::string lineAnswer;
    std::function<std::string()> onAskLine;
    std::function<void()> onProgress;
    std::function<void(const std::string&)> onMessage;
    std::vector<std::string> questions;
    std::vector<std::string> messages;
    std::atomic<int> progressCalls{0};
    std::atomic<int> lastFilePercent{-1};
    std::atomic<int> lastTotalPercent{-1};
    std::atomic<std::size_t> trimRegionsSeen{0};
    std::atomic<std::uint32_t> retryPassSeen{0};
    std::atomic<std::uint32_t> retryPassesSeen{0};
    std::atomic<bool> againSeen{false};

private:
    std::mutex m_mutex;
};

class TerminalCopyDriverTest : public ::testing::Test
{
protected:
    TerminalCopyDriverTest() : engine(medium) { medium.addFolder("/out"); }

    // Files added one by one: straight into the output folder.
    RunReport run(const std::vector<std::pair<std::string, std::uint64_t>>& files)
    {
        CopyList list;
        const auto noBase = std::make_shared<const std::string>();
        for (const auto& [path, size] : files) {
            list.entries.push_back(FileEntry{noBase, path, size});
            list.totalSize += size;
        }
        options.outputFolder = "/out";
        applyToEngine(options, engine);
        TerminalCopyDriver driver(engine, medium, options, console, stop);
        return driver.run(list);
    }

    // The driver's answer; path receives the path it gives.
    bool ask(QueryKind kind, std::string* path = nullptr)
    {
        TerminalCopyDriver driver(engine, medium, options, console, stop);
        EngineQuery query{kind, {}};
        const bool answer = driver.answerQuery(query);
        if (path != nullptr) *path = query.path;
        return answer;
    }

    testing::ScriptedMedium medium;
    CopyEngine engine;
    CopyOptions options;
    ScriptedConsole console;
    std::atomic<bool> stop{false};
};

TEST(ExitStatus, OrderOfTheOutcomes)
{
    const auto result = [](bool complete, std::uint64_t filled) {
        FileResult f{"a", true, {}};
        f.step.figures = {10, filled, complete, false};
        return f;
    };
    const FileResult clean = result(true, 0);
    const FileResult filled = result(true, 512);
    const FileResult failed = result(false, 0);
    EXPECT_EQ(exitStatusFor({{clean}, false, false}, true), 0);
    EXPECT_EQ(exitStatusFor({{}, false, false}, true), 0);
    EXPECT_EQ(exitStatusFor({{clean, filled}, false, false}, true), 1);
    EXPECT_EQ(exitStatusFor({{filled, failed}, false, false}, true), 2);
    // Complete files do not hide a stop, nor folders whose files were never listed.
    EXPECT_EQ(exitStatusFor({{clean}, true, false}, true), 2);
    EXPECT_EQ(exitStatusFor({{clean}, false, false}, false), 2);
    EXPECT_EQ(exitStatusFor({{clean, failed}, false, true}, true), 3);
}

TEST_F(TerminalCopyDriverTest, QuestionsWithoutATerminalTakeTheProfileDefaults)
{
    std::string path;
    EXPECT_TRUE(ask(QueryKind::Existing));  // an existing copy is continued by the policy
    EXPECT_FALSE(ask(QueryKind::NoLog));    // a missing log refuses the file
    EXPECT_FALSE(ask(QueryKind::AddReserved, &path));
    EXPECT_FALSE(ask(QueryKind::AskReserved, &path));
    options.yes = true;
    EXPECT_TRUE(ask(QueryKind::NoLog));
    EXPECT_TRUE(ask(QueryKind::Existing));
    EXPECT_FALSE(ask(QueryKind::AddReserved, &path));
    EXPECT_TRUE(console.questions.empty());
}

TEST_F(TerminalCopyDriverTest, QuestionsOnATerminal)
{
    console.isInteractive = true;
    console.confirmAnswers = {false, true, true};
    EXPECT_FALSE(ask(QueryKind::Existing));
    EXPECT_TRUE(ask(QueryKind::Existing));
    EXPECT_TRUE(ask(QueryKind::NoLog));
    EXPECT_EQ(console.questions.size(), 3u);

    std::string path;
    console.lineAnswer = "/copies/a.bin";
    EXPECT_TRUE(ask(QueryKind::AskReserved, &path));
    EXPECT_EQ(path, "/copies/a.bin");
    console.lineAnswer = "";
    EXPECT_FALSE(ask(QueryKind::AddReserved, &path));
    // A path longer than 259 characters is refused, not cut short.
    console.lineAnswer = std::string(259, 'x');
    EXPECT_TRUE(ask(QueryKind::AddReserved, &path));
    console.lineAnswer = std::string(260, 'x');
    path.clear();
    EXPECT_FALSE(ask(QueryKind::AddReserved, &path));
    EXPECT_EQ(path, "");

    // --yes answers without asking; a stop ends every question with no.
    options.yes = true;
    EXPECT_TRUE(ask(QueryKind::Existing));
    options.yes = false;
    stop = true;
    const std::size_t asked = console.questions.size();
    EXPECT_FALSE(ask(QueryKind::Existing));
    EXPECT_FALSE(ask(QueryKind::NoLog));
    EXPECT_FALSE(ask(QueryKind::AskReserved, &path));
    EXPECT_EQ(console.questions.size(), asked);
}

TEST_F(TerminalCopyDriverTest, AFailedFileIsReportedAndTheRunGoesOn)
{
    const std::string data = std::string(8192, 'a');
    medium.addFile("/src/a.bin", data);
    medium.addFile("/src/b.bin", data);
    medium.addFile("/src/c.bin", data);
    medium.markBad("/src/c.bin", 1024, 512);
    medium.setWriteLimit("/out/b.bin", 4096);
    const RunReport report =
        run({{"/src/a.bin", 8192}, {"/src/b.bin", 8192}, {"/src/c.bin", 8192}});

    ASSERT_EQ(report.files.size(), 3u);
    EXPECT_EQ(report.files[0].status(), "Ok");
    EXPECT_EQ(report.files[0].copied(), 8192u);
    EXPECT_EQ(report.files[1].status(), "WriteFailed");
    EXPECT_FALSE(report.files[1].complete());
    EXPECT_EQ(report.files[2].status(), "Ok");
    EXPECT_EQ(report.files[2].copied(), 8192u - 512u);
    EXPECT_EQ(report.files[2].filled(), 512u);
    EXPECT_EQ(exitStatusFor(report, true), 2);
    ASSERT_EQ(console.messages.size(), 1u);
    EXPECT_NE(console.messages[0].find("/src/b.bin"), std::string::npos);
    EXPECT_EQ(console.lastTotalPercent, 100);
}

// The progress shows the trim pass while it runs, and the report counts the bytes
// that stay filled after it.
TEST_F(TerminalCopyDriverTest, TheTrimShowsInTheProgressAndTheReportCountsWhatItLeft)
{
    medium.addFile("/src/t.bin", std::string(8192, 't'));
    medium.markBad("/src/t.bin", 1024, 512);
    medium.markWeak("/src/t.bin", 4096, 512, 1);  // filled in the main pass, read in the trim
    medium.setWriteHook("/out/t.bin", [this](std::uint64_t) {
        // Holds the trim until the driver has shown it (at most 2 s).
        for (int i = 0; i < 200 && engine.trimmingRegions() > 0 && console.trimRegionsSeen == 0;
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    const RunReport report = run({{"/src/t.bin", 8192}});
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_EQ(report.files[0].status(), "Ok");
    EXPECT_EQ(report.files[0].filled(), 512u);
    EXPECT_EQ(report.files[0].copied(), 8192u - 512u);
    EXPECT_GT(console.trimRegionsSeen, 0u);
    EXPECT_EQ(console.lastFilePercent, 100);
}

// Running a finished copy again reads its unread regions again: the progress says so,
// with the retry pass that runs, and the report counts what stays filled.
TEST_F(TerminalCopyDriverTest, ARerunShowsItTriesAgainWithTheRetryPass)
{
    medium.addFile("/src/r.bin", std::string(8192, 'r'));
    medium.markBad("/src/r.bin", 1024, 512);
    // Between two bad sectors: the trim never reads it, each retry pass once. Its fourth
    // read gives it: in the first pass of the second run.
    medium.markBad("/src/r.bin", 4096, 512);
    medium.markWeak("/src/r.bin", 4608, 512, 3);
    medium.markBad("/src/r.bin", 5120, 512);
    RunReport report = run({{"/src/r.bin", 8192}});
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_EQ(report.files[0].filled(), 4u * 512u);
    EXPECT_FALSE(console.againSeen);

    medium.setWriteHook("/out/r.bin", [this](std::uint64_t) {
        // Holds the pass until the driver has shown it (at most 2 s).
        for (int i = 0; i < 200 && console.retryPassSeen == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    report = run({{"/src/r.bin", 8192}});
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_EQ(report.files[0].status(), "Ok");
    EXPECT_EQ(report.files[0].filled(), 3u * 512u);
    EXPECT_TRUE(console.againSeen);
    EXPECT_EQ(console.retryPassSeen, 1u);
    EXPECT_EQ(console.retryPassesSeen, 2u);
}

// A copy that reached its end with unread parts is counted as damaged, apart from the
// complete ones; a skipped copy counts as complete, a file not reached as incomplete.
TEST(RunSummary, CountsDamagedCopiesApartFromCompleteOnes)
{
    const auto file = [](FileOutcome outcome, std::uint64_t copied, std::uint64_t filled,
                         bool skipped = false) {
        FileResult f{"/src/x", true, {}};
        f.step.outcome = outcome;
        f.step.figures = {copied, filled, outcome == FileOutcome::Done, skipped, false,
                          filled > 0 ? 1u : 0u};
        return f;
    };
    RunReport report;
    report.files = {file(FileOutcome::Done, 2048, 0), file(FileOutcome::Done, 1024, 512),
                    file(FileOutcome::Done, 0, 0, true), file(FileOutcome::Stopped, 100, 0),
                    FileResult{"/src/y", false, {}}};
    EXPECT_EQ(runSummary(report),
              "5 file(s): 2 complete, 1 damaged (512 B not read), 2 failed or incomplete; "
              "3.1 KiB copied, 512 B filled");
    report.stopped = true;
    EXPECT_EQ(runSummary(report).substr(runSummary(report).find(';')),
              "; 3.1 KiB copied, 512 B filled; stopped on request");
}

// The pass at the end of a file, in the language file's words, with the speed of its reads.
TEST(ProgressLine, SaysWhichPassRunsAndHowManyRegionsAreLeft)
{
    Progress p;
    p.count = 3;
    p.filePercent = 100;
    p.totalPercent = 40;
    EXPECT_EQ(progressHead(p).find("Trimming"), std::string::npos);
    p.trimRegions = 3;
    p.retryPass = 1;
    p.retryPasses = 2;
    EXPECT_EQ(progressHead(p), "[1/3] 100% file  40% all  --  Retrying 1/2, regions left: 3  ");
    p.again = true;
    p.retryPass = 0;
    p.trimRegions = 12;
    p.bytesPerSecond = 1536;
    EXPECT_EQ(progressHead(p),
              "[1/3] 100% file  40% all  1.5 KiB/s  Trimming again, regions left: 12  ");

    const char* dataDir = std::getenv("TESSALY_DATA_DIR");
    ASSERT_NE(dataDir, nullptr);
    LanguageTable german;
    ASSERT_TRUE(german.loadLanguage(std::string(dataDir) + "/deutsch.lng"));
    EXPECT_EQ(progressHead(p, CliTexts(german.snapshot())),
              "[1/3] 100% file  40% all  1.5 KiB/s  Trimmen erneut, verbleibende Bereiche: 12  ");
}

TEST(ProgressLine, ShowsTheNameEscapedAndCutAtItsStart)
{
    const std::string name = "/src/a\x1b]0;owned\x07" "b\nc.bin";
    Progress p;
    p.count = 1;
    p.source = &name;
    const std::string head = progressHead(p);
    EXPECT_EQ(progressLine(p, 200), head + "/src/a\\x1B]0;owned\\x07b\\x0Ac.bin");
    const std::string cut = progressLine(p, head.size() + 12);
    EXPECT_EQ(cut, head + "...\\x0Ac.bin");
}

// Names reach the terminal's messages escaped as in the report, whatever bytes they hold.
TEST_F(TerminalCopyDriverTest, MessagesNameFilesEscaped)
{
    const std::string name = "/src/b\x1b[2J\nc.bin";
    medium.addFile(name, std::string(8192, 'b'));
    medium.setWriteLimit("/out/b\x1b[2J\nc.bin", 4096);
    medium.addFile("/src/same.bin\t", "x");
    medium.addLink("/out/same.bin\t", "/src/same.bin\t");
    const RunReport report = run({{name, 8192}, {"/src/same.bin\t", 1}});
    ASSERT_EQ(report.files.size(), 2u);
    EXPECT_EQ(report.files[0].status(), "WriteFailed");
    EXPECT_EQ(report.files[1].status(), "SameFile");
    ASSERT_EQ(console.messages.size(), 2u);
    EXPECT_NE(console.messages[0].find("/src/b\\x1B[2J\\x0Ac.bin"), std::string::npos)
        << console.messages[0];
    EXPECT_NE(console.messages[1].find("/src/same.bin\\x09"), std::string::npos)
        << console.messages[1];
    for (const std::string& message : console.messages) {
        EXPECT_EQ(message.find('\x1b'), std::string::npos) << message;
        EXPECT_EQ(message.find('\t'), std::string::npos) << message;
    }
}

// A copy left alone under skip may be partial: it must not pass for a complete copy.
TEST_F(TerminalCopyDriverTest, AnExistingCopyLeftUnderSkipIsReportedAsSkipped)
{
    medium.addFile("/src/a.bin", std::string(8192, 'a'));
    medium.addFile("/src/b.bin", std::string(8192, 'b'));
    medium.addFile("/out/a.bin", std::string(1000, 'a'));
    options.engine.existingPolicy = ExistingPolicy::Skip;
    const RunReport report = run({{"/src/a.bin", 8192}, {"/src/b.bin", 8192}});
    ASSERT_EQ(report.files.size(), 2u);
    EXPECT_EQ(report.files[0].status(), "Skipped");
    EXPECT_EQ(report.files[0].copied(), 0u);
    EXPECT_EQ(report.files[0].filled(), 0u);
    EXPECT_EQ(medium.contents("/out/a.bin").size(), 1000u);
    EXPECT_EQ(report.files[1].status(), "Ok");
    EXPECT_EQ(report.files[1].copied(), 8192u);
}

TEST_F(TerminalCopyDriverTest, TwoSourcesNeverShareOneCopy)
{
    medium.addFile("/src/x/a.bin", std::string(3000, 'x'));
    medium.addFile("/src/y/a.bin", std::string(5000, 'y'));
    options.yes = true;
    const RunReport report = run({{"/src/x/a.bin", 3000}, {"/src/y/a.bin", 5000}});
    ASSERT_EQ(report.files.size(), 2u);
    EXPECT_EQ(report.files[0].status(), "Ok");
    EXPECT_EQ(report.files[1].status(), "SameDestination");
    EXPECT_EQ(medium.text("/out/a.bin"), std::string(3000, 'x'));
    // The terminal says why in the language's words, as the window does.
    ASSERT_EQ(console.messages.size(), 1u);
    EXPECT_EQ(console.messages[0], CliTexts().text(text::kFileWord) + " /src/y/a.bin\n" +
                                       CliTexts().text(text::kSameCopyInRun));
    EXPECT_EQ(exitStatusFor(report, true), 2);

    // A file named like the copy log of another one: the log would overwrite its
    // copy, or its copy would be taken for a log. Either order keeps the first.
    medium.addFile("/src/z/b.bin.log", std::string(700, 'z'));
    medium.addFile("/src/z/b.bin", std::string(900, 'b'));
    medium.addFile("/src/z/c.bin", std::string(600, 'c'));
    medium.addFile("/src/z/c.bin.log", std::string(800, 'l'));
    const RunReport logs = run({{"/src/z/b.bin.log", 700},
                                {"/src/z/b.bin", 900},
                                {"/src/z/c.bin", 600},
                                {"/src/z/c.bin.log", 800}});
    ASSERT_EQ(logs.files.size(), 4u);
    EXPECT_EQ(logs.files[0].status(), "Ok");
    EXPECT_EQ(logs.files[1].status(), "SameDestination");
    EXPECT_EQ(logs.files[2].status(), "Ok");
    EXPECT_EQ(logs.files[3].status(), "SameDestination");
    EXPECT_EQ(medium.text("/out/b.bin.log"), std::string(700, 'z'));
    EXPECT_FALSE(medium.hasFile("/out/b.bin"));
    EXPECT_EQ(medium.text("/out/c.bin"), std::string(600, 'c'));
}

// Fills of 2 GiB or more are still counted as fills: the file is not reported
// complete without them.
TEST_F(TerminalCopyDriverTest, FillsBeyond2GiBAreCountedInFull)
{
    const std::uint64_t size = (std::uint64_t{1} << 31) + 4096;
    medium.addSparseFile("/src/dead.img", size);
    medium.markBad("/src/dead.img", 0, size);
    options.engine.fillType = FillType::Nothing;  // nothing is written, so the copy costs no memory
    options.engine.optimizeFor = 1.0f;
    const RunReport report = run({{"/src/dead.img", size}});
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_EQ(report.files[0].status(), "Ok");
    EXPECT_EQ(report.files[0].filled(), size);
    EXPECT_EQ(report.files[0].copied(), 0u);
    EXPECT_EQ(exitStatusFor(report, true), 1);
}

TEST_F(TerminalCopyDriverTest, ARemovedMediumEndsTheRun)
{
    medium.addFile("/src/a.bin", std::string(300000, 'a'));
    medium.addFile("/src/b.bin", std::string(1000, 'b'));
    medium.setRemovalAfter(102400);
    options.engine.easyFirst = false;  // in order, the copy ends where the reads did
    const RunReport report = run({{"/src/a.bin", 300000}, {"/src/b.bin", 1000}});
    ASSERT_EQ(report.files.size(), 2u);
    EXPECT_EQ(report.files[0].status(), "NotReady");
    EXPECT_GT(report.files[0].copied(), 0u);
    EXPECT_LE(report.files[0].copied(), 102400u);
    EXPECT_EQ(medium.text("/out/a.bin"), std::string(report.files[0].copied(), 'a'));
    EXPECT_EQ(report.files[1].status(), "NotStarted");
    EXPECT_TRUE(report.notReady);
    EXPECT_EQ(exitStatusFor(report, true), 3);
    // Nothing was filled for the removal, and the log can continue the copy.
    EXPECT_EQ(report.files[0].filled(), 0u);
    EXPECT_TRUE(medium.hasFile("/out/a.bin.log"));
}

// With --wait-for-medium the run waits for the medium and goes on by itself; a line
// says what it waits for. The medium comes back while the first wait line is shown.
TEST_F(TerminalCopyDriverTest, WaitingForTheMediumTheRunGoesOnWhenItIsBack)
{
    medium.setRemovableMedium("/src/");
    medium.addFile("/src/a.bin", std::string(300000, 'a'));
    medium.addFile("/src/b.bin", std::string(1000, 'b'));
    medium.setRemovalAfter(102400);
    options.waitForMedium = true;
    console.onMessage = [&](const std::string&) { medium.insertMedium(); };
    const RunReport report = run({{"/src/a.bin", 300000}, {"/src/b.bin", 1000}});
    ASSERT_EQ(console.messages.size(), 1u);
    EXPECT_NE(console.messages[0].find("/src/a.bin went away. Waiting for it to come back, until "
                                       "interrupted"),
              std::string::npos);
    EXPECT_EQ(report.files[0].status(), "Ok");
    EXPECT_EQ(report.files[1].status(), "Ok");
    EXPECT_EQ(exitStatusFor(report, true), 0);
    EXPECT_TRUE(medium.text("/out/a.bin") == std::string(300000, 'a'));
}

// Another disc under the name gets a line of its own, once, and nothing of it is copied.
TEST_F(TerminalCopyDriverTest, WaitingTheRunSaysWhenAnotherMediumIsIn)
{
    medium.setRemovableMedium("/src/");
    medium.addFile("/src/a.bin", std::string(300000, 'a'));
    medium.setRemovalAfter(102400);
    options.waitForMedium = true;
    options.waitSeconds = 3;
    std::string copyBefore;
    console.onMessage = [&](const std::string& text) {
        if (text.find("went away") == std::string::npos) return;
        copyBefore = medium.text("/out/a.bin");
        medium.addFile("/src/a.bin", std::string(300000, 'x'));
        medium.insertMedium();
    };
    const RunReport report = run({{"/src/a.bin", 300000}});
    EXPECT_EQ(exitStatusFor(report, true), 3);
    ASSERT_EQ(console.messages.size(), 3u);
    EXPECT_NE(console.messages[1].find("another file under the name /src/a.bin"),
              std::string::npos);
    EXPECT_TRUE(medium.text("/out/a.bin") == copyBefore);
}

TEST_F(TerminalCopyDriverTest, AWaitEndsAtItsLimitOrAnInterruptWithExitStatus3)
{
    medium.setRemovableMedium("/src/");
    medium.addFile("/src/a.bin", std::string(300000, 'a'));
    medium.setRemovalAfter(102400);
    options.waitForMedium = true;
    options.waitSeconds = 1;
    const RunReport limited = run({{"/src/a.bin", 300000}});
    EXPECT_EQ(limited.files[0].status(), "NotReady");
    EXPECT_EQ(exitStatusFor(limited, true), 3);
    ASSERT_EQ(console.messages.size(), 2u);
    EXPECT_NE(console.messages[0].find("for at most 1 s"), std::string::npos);
    EXPECT_NE(console.messages[1].find("The wait for it has ended."), std::string::npos);

    options.waitSeconds = 0;
    medium.insertMedium();
    medium.setRemovalAfter(102400);
    console.onMessage = [&](const std::string&) { stop = true; };
    const RunReport interrupted = run({{"/src/a.bin", 300000}});
    EXPECT_EQ(interrupted.files[0].status(), "NotReady");
    EXPECT_EQ(exitStatusFor(interrupted, true), 3);

    // The log the waits left continues the copy in the next run.
    stop = false;
    console.onMessage = nullptr;
    medium.insertMedium();
    const RunReport again = run({{"/src/a.bin", 300000}});
    EXPECT_EQ(again.files[0].status(), "Ok");
    EXPECT_TRUE(medium.text("/out/a.bin") == std::string(300000, 'a'));
}

TEST(ProgressLine, SaysHowLongTheDriveHasNotAnswered)
{
    EXPECT_EQ(silentSecondsOf(0), 0u);
    EXPECT_EQ(silentSecondsOf(5000), 0u);
    EXPECT_EQ(silentSecondsOf(5001), 5u);
    EXPECT_EQ(silentSecondsOf(73999), 73u);
    Progress p;
    p.count = 2;
    p.filePercent = 40;
    p.totalPercent = 20;
    p.bytesPerSecond = 1000;
    EXPECT_EQ(progressHead(p).find("not answering"), std::string::npos);
    p.silentSeconds = 73;
    EXPECT_EQ(progressHead(p), "[1/2]  40% file  20% all  drive not answering for 00:01:13  ");
}

TEST_F(TerminalCopyDriverTest, AStopEndsTheCurrentFileAsStoppedAndStartsNoOther)
{
    // The question for another copy holds the worker until the driver has seen
    // the stop and passed it on, so the stop always lands in the middle.
    medium.addFile("/src/a.bin", std::string(200000, 'a'));
    medium.addFile("/src/b.bin", std::string(1000, 'b'));
    medium.markBad("/src/a.bin", 51200, 512);
    console.isInteractive = true;
    std::atomic<int> progressAfterStop{0};
    console.onProgress = [&] {
        if (stop) ++progressAfterStop;
    };
    console.onAskLine = [&] {
        stop = true;
        while (progressAfterStop < 2) sleepMs(1);
        return std::string();
    };
    const RunReport report = run({{"/src/a.bin", 200000}, {"/src/b.bin", 1000}});

    ASSERT_EQ(report.files.size(), 2u);
    EXPECT_EQ(report.files[0].status(), "Stopped");
    EXPECT_EQ(report.files[1].status(), "NotStarted");
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(exitStatusFor(report, true), 2);
    EXPECT_FALSE(medium.hasFile("/out/b.bin"));
    // The log closes with the end record at the place the copy reached.
    const std::string log = medium.text("/out/a.bin.log");
    ASSERT_GE(log.size(), 8u);
    EXPECT_EQ(log.substr(log.size() - 4), std::string(4, '\0'));
}

TEST_F(TerminalCopyDriverTest, TooLittleSpaceIsDiskFullBeforeAnythingIsCopied)
{
    medium.addFile("/src/a.bin", std::string(100000, 'a'));
    medium.setQuota(50000);
    const RunReport report = run({{"/src/a.bin", 100000}});
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_EQ(report.files[0].status(), "DiskFull");
    EXPECT_EQ(report.files[0].copied(), 0u);
    EXPECT_EQ(exitStatusFor(report, true), 2);
    EXPECT_EQ(console.progressCalls, 0);
}

// A device the user may not read says how to get access; an output whose file system
// cannot hold the copy names the limit. Both are failures of the run.
TEST_F(TerminalCopyDriverTest, RefusedDevicesAndTooSmallOutputsSayWhatToDo)
{
    medium.addFile("/dev/sdb", std::string(8192, 'd'));
    medium.markBlockDevice("/dev/sdb");
    medium.failOpen("/dev/sdb");
    medium.addFile("/src/big.bin", std::string(9000, 'b'));
    medium.setMaxFileSize("/out/", 8192);
    const RunReport report = run({{"/dev/sdb", 8192}, {"/src/big.bin", 9000}});
    ASSERT_EQ(report.files.size(), 2u);
    EXPECT_EQ(report.files[0].status(), "SourceOpenFailed");
    EXPECT_EQ(report.files[1].status(), "DestinationTooSmall");
    EXPECT_EQ(exitStatusFor(report, true), 2);
    ASSERT_EQ(console.messages.size(), 2u);
    EXPECT_EQ(console.messages[0],
              "File /dev/sdb\ncannot be opened.\n\nAccess to the device was denied: run with "
              "access to the device, e.g. as a member of the disk group or with sudo.");
    EXPECT_NE(console.messages[1].find("File /src/big.bin\nis too large for the file system"),
              std::string::npos)
        << console.messages[1];
    EXPECT_NE(console.messages[1].find("at most 4 GiB - 1 byte per file"), std::string::npos);
    EXPECT_FALSE(medium.hasFile("/out/big.bin"));
}

}  // namespace
}  // namespace tessaly::cli
