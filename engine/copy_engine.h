#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/bad_region.h"
#include "engine/copy_log.h"
#include "engine/engine_settings.h"
#include "engine/engine_snapshot.h"
#include "engine/engine_status.h"
#include "engine/plain_file.h"
#include "engine/region_map.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace tessaly {

// What the engine asks the user.
enum class QueryKind : std::int32_t
{
    AddReserved = 0,  // a sector cannot be read: the path of one more copy of the file
    AskReserved = 1,  // as AddReserved, when the placement of reserved copies is Ask
    NoLog = 2,        // the log of an existing destination is missing: go on without it?
    Existing = 3,     // the destination exists: go on under the existing-file policy?
};

// A question of the engine to the user. For AddReserved and AskReserved the
// answer puts the path of one more copy of the file into path; when the question
// comes again because that copy could not be used, path still holds it.
struct EngineQuery
{
    QueryKind kind = QueryKind::AddReserved;
    std::string path;
};

// Answers a query; true lets the engine go on.
using QueryCallback = std::function<bool(EngineQuery& query)>;

// Starts body on a new thread stored in thread; false when no thread could be started.
// The engine starts its worker thread so with its first file and keeps it for the next.
using ThreadStarter = std::function<bool(std::thread& thread, std::function<void()> body)>;

class CopyEngineTestAccess;

// Copies one file at a time from a possibly damaged medium, on a worker thread
// (startFile) or on the caller's (copyFile), and salvages what the medium still gives.
class CopyEngine
{
public:
    explicit CopyEngine(FileSystem& fs = systemFileSystem(),
                        const TickSource& ticks = systemTicks());
    virtual ~CopyEngine();
    CopyEngine(const CopyEngine&) = delete;
    CopyEngine& operator=(const CopyEngine&) = delete;

    // Replaces every setting at once, normalised (see normalisedSettings). A file being
    // copied takes most of them up at once: the attempts, the fill factor, the fill's
    // value and string, the placement when one more copy is asked for, the deletion of
    // a clean log, the trim pass and the retry passes. The fill type, the log, the
    // existing-file policy and the reserved copies opened at the start hold for a file
    // from its startFile on.
    void setSettings(const EngineSettings& settings);
    // The settings as the engine keeps them; a fresh engine has EngineSettings{}'s.
    EngineSettings settings() const;
    void setQueryCallback(QueryCallback callback);

    // Prepares source, destination and log on the caller's thread and starts the
    // worker. True when the worker runs; false when the file cannot be copied,
    // with the reason in status().
    bool startFile(const std::string& sourcePath, const std::string& outputFolder,
                   const std::string& baseFolder);
    // As startFile, for a file whose copy this run began before its medium went away:
    // an existing copy goes on under Resume whatever the existing-file policy, and
    // neither the Existing nor the NoLog question is asked again. A source that is not
    // the file the copy was made from (another medium) is refused with SourceChanged or
    // SourceMismatch.
    bool continueFile(const std::string& sourcePath, const std::string& outputFolder,
                      const std::string& baseFolder);
    // As startFile (continueFile with continuing), but copies on the calling thread and
    // returns once the copy has ended: started is called there once the file is
    // prepared, before its first read. Meanwhile other threads poll, stop and wait as
    // while the worker runs. True when the file was copied (status() tells how it
    // ended); false when it was refused, with the reason in status().
    bool copyFile(const std::string& sourcePath, const std::string& outputFolder,
                  const std::string& baseFolder, bool continuing,
                  const std::function<void()>& started);
    // Asks the worker to stop; with wait, returns once busy is clear. A request while
    // idle stops the next copy at its first pass, unless withdrawn before.
    void requestStop(bool wait);
    // A new run begins: a stop request that found no worker is withdrawn (a worker's
    // stays), and what was learnt of the output's folders is forgotten. Called on the
    // thread that starts the files. Until endRun, the folder of the last copy is held open.
    void beginRun();
    // The run has ended: the output's folder it held open is let go (so that its volume
    // can be unmounted). Called on the thread that starts the files, with no file busy.
    void endRun();
    // Waits up to timeoutMs for the worker to end; true as soon as busy is clear.
    // The worker wakes the waiter when it ends.
    bool waitUntilIdle(std::uint32_t timeoutMs) const;

    // The figures of the file being copied, taken at one moment, for the front ends
    // (through run/run_figures); callable from any thread while the worker runs.
    EngineSnapshot snapshot() const;

    // Accessors polled by other threads while the worker runs.
    bool busy() const;
    EngineStatus status() const;
    // Bytes of this file's part of the copy (from the destination base on: not the
    // copy an Append went behind) that hold fills, earlier runs' included, each byte once.
    std::int64_t filledBytes() const;
    std::uint64_t position() const;
    std::uint64_t destinationPosition() const;
    std::uint64_t destinationEnd() const;
    std::uint32_t sectorSize() const;
    DriveType driveType() const;
    // A copy of the filled regions so far, taken under the engine's lock.
    std::vector<BadRegion> badRegions() const;
    // The number of filled regions, and a copy of those from index first on, so
    // that a reader can follow the list incrementally.
    std::size_t badRegionCount() const;
    std::vector<BadRegion> badRegionsFrom(std::size_t first) const;
    // Changes each time the list of filled regions is replaced rather than appended
    // to: the trim pass that ends a file replaces it by the regions still filled. A
    // reader that follows badRegionsFrom(first) incrementally starts over from 0 (and
    // repaints in full) when this differs from the value it saw last.
    std::uint32_t badRegionsGeneration() const;
    // While a file is read easy data first: the areas of its copy not tried yet behind
    // the place the first pass has reached (copy offsets, ascending; as they stood a
    // quarter of a second ago at most, and at once while that place moves), and that
    // place, the copy's end once the pass is through. Otherwise nothing, and the
    // destination position.
    std::vector<Region> notTriedAreas() const;
    std::uint64_t destinationFrontier() const;
    // While the trim pass or a retry pass runs: the number of merged filled regions it
    // has still to read, the current one included. 0 when neither runs. Progress stays
    // at the end of the file meanwhile.
    std::size_t trimmingRegions() const;
    // The retry pass that runs, from 1 to retryPassCount(); 0 while none runs (the
    // trim pass, or the main pass, runs then).
    std::uint32_t retryPass() const;
    // The retry passes the current file gets once its trim pass has ended; 0 before.
    std::uint32_t retryPassCount() const;
    // True when the last startFile continued a copy whose log reaches the file's end
    // and still lists filled regions: the run reads those again (the trim and retry
    // passes, while the trim pass is on) and nothing else.
    bool triesAgain() const;
    // Bytes per second over 120 s and 5 s, or 1 while the meter gives 0.
    std::uint32_t longRate() const;
    std::uint32_t shortRate() const;
    // Milliseconds the copy loop's current read of the source has been running (a drive
    // that does not answer holds it in the kernel), measured from the first call that
    // saw the read, so within the caller's poll interval; 0 while no read runs.
    std::uint32_t readWaitMs() const;
    // The destination path of the last startFile that got that far (empty otherwise).
    std::string destinationPath() const;
    // True when the last startFile found its destination and left it as it is (Skip).
    bool skippedExisting() const;
    // True when the last startFile copies without a log although one was asked for:
    // the copy's name is too long to take the log's ".log".
    bool copiedWithoutLog() const;
    // The copy and the log that the file last started holds open, as the system knows
    // them; nullopt for one it does not hold. Called on the thread that starts the files.
    std::optional<FileIdentity> openedCopy() const;
    std::optional<FileIdentity> openedLog() const;
    // After a startFile refused with SourceOpenFailed: why the source did not open
    // (errno; EACCES or EPERM when access to it is denied). 0 while the worker runs.
    SysError sourceOpenError() const;

private:
    // The tests' way in: they replace how the worker thread is started.
    friend class CopyEngineTestAccess;
    // Replaces the way the worker thread is started.
    void setThreadStarter(ThreadStarter starter);
    // startFile, continueFile and copyFile: on the worker, or on this thread with here.
    bool begin(const std::string& sourcePath, const std::string& outputFolder,
               const std::string& baseFolder, bool continuing, const std::function<void()>* here);

    struct Impl;
    std::unique_ptr<Impl> m;
};

}  // namespace tessaly
