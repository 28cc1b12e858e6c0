#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/copy_engine.h"
#include "run/damage_report.h"
#include "run/failure_message.h"
#include "run/file_entry.h"
#include "run/file_step.h"
#include "run/run_counters.h"

namespace tessaly {

// The list line the run takes next, as the window hands it to the driver.
struct NextEntry
{
    FileEntry entry;
    std::string outputFolder;
    bool waitForMedium = false;  // a file whose medium goes away is waited for
};

// What holds the current file up, as the window's status shows it.
enum class RunHold : std::int32_t
{
    None = 0,
    MediumGone = 1,   // the medium went away; the run waits for it
    OtherMedium = 2,  // another file stands under the source's name; the wait goes on
    DriveSilent = 3,  // a read has not returned for more than kSilentDriveMs
};

// What the copy driver needs of the window. Called on the driver's thread; the window
// does the work on its own thread and keeps its counters.
class DriverHost
{
public:
    virtual ~DriverHost() = default;
    // The line at the run's current index, with the settings it is copied by; a Done line
    // is passed over (the index moves on and skip is set). Nothing when the index is past
    // the last line. It comes after every earlier call's work on the window's side.
    virtual std::optional<NextEntry> takeEntry(bool& skip) = 0;
    virtual std::string outputFolder() = 0;
    // The current line's copy has started: InProgress with icon 1.
    virtual void entryStarted() = 0;
    virtual void showProgress(int filePercent, int totalPercent) = 0;
    virtual void showFilled(std::uint64_t bytes) = 0;
    virtual void showTimes() = 0;
    // Each poll of a file that has started, the last after the engine's worker ended:
    // the detail view draws what is new of the file.
    virtual void refreshDetails() = 0;
    // The current line has ended as end says; report is its line of the run's report. May
    // return before the window has taken it: the index it moves is read after takeEntry.
    virtual void entryEnded(const EntryEnd& end, const ReportLine& report) = 0;
    // A failure message; returns when the user has read it.
    virtual void reportFailure(const RunMessage& message) = 0;
    // The run is over (list exhausted or medium gone): copying has been cleared.
    virtual void runEnded() = 0;
    // What holds the current file up, and for how many seconds; None clears it.
    // Called when either changes.
    virtual void showHold(RunHold /*hold*/, std::uint32_t /*seconds*/) {}
};

// The copy run of the window, in runDriver() on one of the window's workers until exit: it
// idles in short polls while no run is wanted, and copies the list's lines one after
// another while `copying` is set. Start, Stop and Exit reach it through the counters' flags.
class ListCopyDriver
{
public:
    struct Timing
    {
        std::uint32_t idleMs = 300;  // longest idle wait between two looks at the flags
        std::uint32_t sliceMs = 10;  // an idle wait ends this soon after a flag changes
    };

    ListCopyDriver(CopyEngine& engine, FileSystem& fs, RunCounters& counters,
                   const std::atomic<bool>& exiting, DriverHost& host, Timing timing);
    ListCopyDriver(const ListCopyDriver&) = delete;
    ListCopyDriver& operator=(const ListCopyDriver&) = delete;

    // Asks the current file to stop; the flag is lowered by the next run's start.
    void requestStop() { m_stop.store(true); }
    void clearStop() { m_stop.store(false); }

    // The body of the driver's thread; returns once exiting is raised.
    void runDriver();
    // One step of the run: the line at the current index.
    void copyNextEntry();

private:
    void idle();
    void refresh(const EngineSnapshot& engine);
    // Passes hold to the host when it or its seconds changed.
    void hold(RunHold hold, std::uint32_t seconds);
    EntryEnd endOf(const StepResult& step, const std::string& source);

    CopyEngine& m_engine;
    FileSystem& m_fs;
    FileStep m_step;
    RunCounters& m_counters;
    const std::atomic<bool>& m_exiting;
    DriverHost& m_host;
    Timing m_timing;
    std::atomic<bool> m_stop{false};

    // The current file's refresh state, on the driver's thread only.
    bool m_started = false;
    int m_lastPercent = -1;
    std::uint64_t m_lastFilled = 0;
    RunHold m_hold = RunHold::None;
    std::uint32_t m_holdSeconds = 0;
};

}  // namespace tessaly
