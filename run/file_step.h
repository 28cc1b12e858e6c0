#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/copy_engine.h"
#include "platform/clock.h"
#include "run/copy_watch.h"
#include "run/destination_guard.h"
#include "run/file_entry.h"
#include "run/run_figures.h"

namespace tessaly {

// How one file of the run ended, and what the run does next.
enum class FileOutcome : std::int32_t
{
    Done = 0,        // the copy is complete (copyComplete): the entry is Done, the run goes on
    Stopped = 1,     // ended short of its end by a stop (or Ok): the entry stays current
    NotReady = 2,    // the medium went away: the run ends, the entry stays current
    Failed = 3,      // any other status: reported, the run goes on with the next entry
    NotStarted = 4,  // startFile refused the file: reported, the run goes on
    Refused = 5,     // the guard refused the file before the engine saw it
};

// What a copy holds of its source, counted up to the place the copy has reached,
// earlier runs included.
struct FileFigures
{
    std::uint64_t copied = 0;      // source bytes held as read data
    std::uint64_t filled = 0;      // source bytes held as fills
    bool complete = false;         // copyComplete: the whole file is covered
    bool skippedExisting = false;  // an existing copy was left as it is (Skip)
    bool withoutLog = false;       // copied without the log asked for: its name is too long
    std::size_t regions = 0;       // filled regions of the copy, merged, earlier runs' included
};

// How the run waits for a medium that went away in the middle of a file. While it
// waits it tries to open the source every tryEveryMs; once it opens, the file is
// continued from its copy (continueFile), and the engine's source check tells the
// same medium from another one, which is waited past.
struct MediumWait
{
    bool enabled = false;
    std::uint32_t limitMs = 0;  // give up after waiting this long; 0: until stopped
    std::uint32_t tryEveryMs = 1000;
};

// The waiting as the front end shows it.
struct WaitStatus
{
    std::uint32_t waitedMs = 0;  // since the medium went away
    bool otherMedium = false;    // the last try found another file under the source's name
};

// How a wait for the medium ended; None when the file did not wait.
enum class WaitEnd : std::int32_t
{
    None = 0,
    Returned = 1,  // the medium came back and the file was continued
    Stopped = 2,   // the stop flag ended the wait
    TimedOut = 3,  // limitMs passed
};

struct StepResult
{
    FileOutcome outcome = FileOutcome::NotStarted;
    EngineStatus status = EngineStatus::Ok;
    GuardVerdict verdict = GuardVerdict::Clear;
    std::string destination;                // path of the copy by the destination rule
    // NotStarted with SourceOpenFailed: the source is a device this user may not read.
    bool deviceAccessDenied = false;
    int filePercent = 0;                    // the last one computed
    std::uint64_t destinationPosition = 0;  // where the copy ended
    FileFigures figures;
    WaitEnd waitEnd = WaitEnd::None;  // of the last wait of this file

    // The copy reached its end and holds parts of its source that could not be read.
    bool damaged() const
    {
        return outcome == FileOutcome::Done && !figures.skippedExisting &&
               (figures.filled > 0 || figures.regions > 0);
    }
};

// How a list line ends: its icon and state, whether the run moves past it, and the
// bytes its copy adds to the copied total.
struct EntryEnd
{
    int icon = 0;
    EntryState state = EntryState::Unfinished;
    bool advance = false;
    std::uint64_t doneBytes = 0;
};

// The end of the line of a file that ended as step says: a line that stopped or lost
// its medium stays the next to copy; a damaged copy gets an icon of its own.
EntryEnd entryEndOf(const StepResult& step);

// True when a copy holds its whole source: its worker ended with Ok at the source's end
// (position and end are the copy's offsets, destinationPosition and destinationEnd).
// Every front end and the report take completion from here, never from a percent: a
// float percent of a large file reaches 100 before its last sectors are copied.
bool copyComplete(EngineStatus status, std::uint64_t position, std::uint64_t end);

// The outcome of a file whose worker has ended, by whether its copy is complete and by
// its status.
FileOutcome outcomeOf(bool complete, EngineStatus status);

// Copies one list entry: the guard's checks, then the copy on the calling thread while a
// CopyWatch shows its figures and passes the stop on (or, without the watch's thread,
// on the engine's worker while this thread polls).
class FileStep
{
public:
    // Called with the engine's figures once right after the start, at most once per
    // poll interval while the file is copied, and once after its copy has ended.
    using Refresh = std::function<void(const EngineSnapshot& engine)>;
    // Called when a wait for the medium begins and after each try to open the source.
    using WaitReport = std::function<void(const WaitStatus& status)>;
    static constexpr std::uint32_t kPollMs = 20;

    FileStep(CopyEngine& engine, FileSystem& fs, const TickSource& ticks = systemTicks())
        : m_engine(engine), m_fs(fs), m_ticks(ticks), m_guard(fs), m_watch(engine, kPollMs)
    {
    }

    // With wait enabled, a file whose medium goes away is waited for (see MediumWait)
    // instead of ending the step as NotReady; report follows the waiting.
    void setMediumWait(const MediumWait& wait, WaitReport report = {})
    {
        m_wait = wait;
        m_waitReport = std::move(report);
    }

    // Forgets the copies of the previous run, and a stop that reached the idle engine
    // then (Stop while the run waited for a medium): it would stop this run's first file
    // at once, which the guard then refuses as another line's copy.
    void beginRun()
    {
        m_guard.reset();
        m_engine.beginRun();
    }
    void endRun() { m_engine.endRun(); }
    // Copies entry below outputFolder. A raised stop flag asks the worker to stop
    // (once); the file then ends as Stopped. A wait for a removed medium that is ended
    // by the stop flag or its limit ends the file as NotReady.
    StepResult copy(const FileEntry& entry, const std::string& outputFolder, const Refresh& refresh,
                    const std::atomic<bool>* stop = nullptr);
private:
    // Where the engine puts entry's copy: a whole device's copy is its image (NAME.img).
    std::string destinationOf(const FileEntry& entry, const std::string& outputFolder) const;
    // The copy of entry at destination, once the guard has admitted it.
    StepResult start(const FileEntry& entry, const std::string& outputFolder,
                     const std::string& destination, const Refresh& refresh,
                     const std::atomic<bool>* stop, bool continuing);
    // Waits for the medium of entry, whose copy ended as result says, and continues
    // the file once the medium is back; the result of the last continuation, or
    // result with the end of the wait.
    StepResult waitForMedium(const FileEntry& entry, const std::string& outputFolder,
                             const Refresh& refresh, const std::atomic<bool>* stop,
                             StepResult result);
    // Sleeps until the tick until (or the stop); false when the stop came first.
    bool sleepUntil(std::uint32_t until, const std::atomic<bool>* stop) const;
    // The engine's last figures, taken once its worker has ended.
    EngineSnapshot pollUntilIdle(const Refresh& refresh, const std::atomic<bool>* stop);
    FileFigures figures(const EngineSnapshot& last) const;

    CopyEngine& m_engine;
    FileSystem& m_fs;
    const TickSource& m_ticks;
    DestinationGuard m_guard;
    MediumWait m_wait;
    WaitReport m_waitReport;
    CopyWatch m_watch;
};

}  // namespace tessaly
