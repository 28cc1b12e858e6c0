#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_texts.h"
#include "cli/copy_options.h"
#include "engine/copy_engine.h"
#include "run/copy_list.h"
#include "run/file_step.h"

namespace tessaly::cli {

// What the user sees of a run while it goes on.
struct Progress
{
    std::size_t index = 0;  // of the current file in the list
    std::size_t count = 0;
    const std::string* source = nullptr;
    int filePercent = 0;
    int totalPercent = 0;
    std::uint32_t bytesPerSecond = 0;  // 0 while nothing has been measured
    std::uint64_t secondsLeft = 0;     // for the current file
    // Filled regions the trim pass or the retry pass at the end of the file has still
    // to read; 0 while neither runs.
    std::size_t trimRegions = 0;
    std::uint32_t retryPass = 0;    // the retry pass that runs (from 1); 0 during the trim
    std::uint32_t retryPasses = 0;  // the retry passes the file gets
    // The copy was finished before: this run reads its unread regions again, nothing else.
    bool again = false;
    std::uint32_t phase = 0;  // see EngineSnapshot
    // Seconds the current read of the source has gone unanswered, once past
    // kSilentDriveMs; 0 otherwise.
    std::uint32_t silentSeconds = 0;
};

// The user's side of a run: questions, messages and progress. The terminal in the
// program, a script in the tests. Questions may come from the engine's worker
// thread while the driver thread shows progress.
class Console
{
public:
    virtual ~Console() = default;
    // True when questions can be put to a person.
    virtual bool interactive() const = 0;
    // A yes/no question; defaultYes is the answer to an empty line. False at the
    // end of the input or when the run is being stopped.
    virtual bool confirm(const std::string& question, bool defaultYes) = 0;
    // One line of input; empty when none was given.
    virtual std::string askLine(const std::string& question) = 0;
    // A failure or notice about one file.
    virtual void message(const std::string& text) = 0;
    // Called on every poll while a file is copied, and once more at its end.
    virtual void progress(const Progress& p) = 0;
};

// The outcome of one file of the run.
struct FileResult
{
    std::string source;
    bool reached = false;  // the run came to the file (false after a stop or a removal)
    StepResult step;

    // The report's name of the outcome: statusName() of the engine, Skipped,
    // NotStarted, SameFile or SameDestination.
    std::string status() const;
    bool complete() const { return step.figures.complete; }
    std::uint64_t copied() const { return step.figures.copied; }
    std::uint64_t filled() const { return step.figures.filled; }
};

struct RunReport
{
    std::vector<FileResult> files;
    bool stopped = false;   // the stop flag ended the run
    bool notReady = false;  // the medium was removed
};

// The line after the report: how many files are complete, damaged (copied to their end,
// with parts that could not be read: the bytes they lack) or failed or incomplete, the
// bytes copied and filled, and why the run stopped early.
std::string runSummary(const RunReport& report);

// Exit status of `tessaly-cli copy`: 0 complete without fills, 1 complete with
// fills, 2 a file failed or stayed incomplete (also after a stop, or when folders
// could not be read), 3 the medium was removed.
int exitStatusFor(const RunReport& report, bool listComplete);

// Copies the files of a list one after another with one engine, polling it every
// 20 ms, answers the engine's questions through the console and stops the run
// when the stop flag is raised (the current file ends as Stopped with its log's
// end record) or when the medium is removed.
class TerminalCopyDriver
{
public:
    TerminalCopyDriver(CopyEngine& engine, FileSystem& fs, const CopyOptions& options,
                       Console& console, const std::atomic<bool>& stop,
                       const CliTexts& texts = CliTexts());
    ~TerminalCopyDriver();
    TerminalCopyDriver(const TerminalCopyDriver&) = delete;
    TerminalCopyDriver& operator=(const TerminalCopyDriver&) = delete;

    RunReport run(const CopyList& list);

    // The engine's query callback: true lets the engine go on.
    bool answerQuery(EngineQuery& query);

private:
    FileResult copyOne(const FileEntry& entry);
    void showProgress(const FileEntry& entry, const EngineSnapshot& engine);
    void reportWait(const WaitStatus& status);
    void reportRefusal(const StepResult& step, const std::string& source);
    void reportFailure(const StepResult& step, const std::string& source);
    bool askForCopy(EngineQuery& query);

    CopyEngine& m_engine;
    const CopyOptions& m_options;
    Console& m_console;
    const std::atomic<bool>& m_stop;
    const CliTexts m_texts;
    FileStep m_step;
    std::size_t m_index = 0;
    std::size_t m_count = 0;
    std::uint64_t m_totalSize = 0;
    std::uint64_t m_doneSize = 0;  // sizes of the files finished before the current one
    std::string m_source;          // of the current file, for the questions
    bool m_sawOtherMedium = false;  // the last wait message was about another medium
};

}  // namespace tessaly::cli
