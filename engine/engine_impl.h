// The copy engine's inner state, shared by the files of its phases: preparing a file
// (prepare_file.cpp, existing_copy.cpp), the main pass (main_pass.cpp), the passes at
// the end of a file (end_passes.cpp), and the facade that orders them (copy_engine.cpp).
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/copy_engine.h"
#include "engine/destination.h"
#include "engine/rate_meter.h"
#include "engine/region_map.h"
#include "engine/source_reader.h"
#include "engine/trim_pass.h"

namespace tessaly {

// Starts body on a new thread with std::thread; false when the system refuses one.
bool defaultThreadStarter(std::thread& thread, std::function<void()> body);

struct CopyEngine::Impl
{
    Impl(FileSystem& fileSystem, const TickSource& ticks)
        : fs(fileSystem), tickSource(ticks), file(fileSystem), longMeter(ticks), shortMeter(ticks)
    {
    }

    // Set by the caller's thread at any time; the worker reads them as it goes.
    struct Settings
    {
        mutable std::mutex mutex;  // guards all three
        EngineSettings values = normalisedSettings(EngineSettings{}, EngineSettings{});
        QueryCallback callback;
        ThreadStarter starter = defaultThreadStarter;
    };
    // One setting as it stands now.
    template <class T>
    T setting(T EngineSettings::*field) const
    {
        std::lock_guard lock(settings.mutex);
        return settings.values.*field;
    }
    // The factor by which a fill grows after each fill: 1 + optimizeFor.
    float fillFactor() const { return 1.0f + setting(&EngineSettings::optimizeFor); }

    // The state of the current file that other threads poll while the worker runs.
    struct Shared
    {
        std::atomic<bool> busy{false};
        // Signalled when the worker has cleared busy, which changes under stateMutex so
        // that no waiter misses the change.
        std::mutex stateMutex;
        std::condition_variable stateChanged;
        std::atomic<bool> stopRequest{false};
        std::atomic<EngineStatus> status{EngineStatus::Ok};
        std::atomic<std::uint64_t> fileSize{0};
        std::atomic<std::uint64_t> position{0};
        std::atomic<std::uint64_t> destinationBase{0};
        std::atomic<std::int64_t> filledBytes{0};
        std::atomic<std::uint32_t> sectorSize{0};
        std::atomic<DriveType> driveType{DriveType::Unknown};
        std::atomic<bool> skipping{false};  // an existing destination is left under Skip
        std::atomic<bool> withoutLog{false};  // the log's name is too long: copied without one
        mutable std::mutex regionsMutex;  // held for each append and each read-out
        std::vector<BadRegion> regions;
        // Changes, under regionsMutex, when the regions are replaced rather than appended to.
        std::atomic<std::uint32_t> regionsGeneration{0};
        // Merged regions the trim pass or the current retry pass has still to read; 0
        // while neither runs.
        std::atomic<std::size_t> trimming{0};
        std::atomic<std::uint32_t> retryPass{0};    // from 1 while a retry pass runs
        std::atomic<std::uint32_t> retryPasses{0};  // the passes this file gets
        std::atomic<std::uint32_t> phase{0};        // EngineSnapshot::phase
        // The file is read easy data first (EngineSnapshot::phased). Its bytes not tried
        // outside the area that the position is in, and that area's end (0: none),
        // written together after the position; the areas and the frontier that
        // CopyEngine::notTriedAreas and destinationFrontier give.
        std::atomic<bool> phased{false};
        mutable std::mutex notTriedMutex;
        std::uint64_t notTriedElsewhere = 0;
        std::uint64_t notTriedAreaEnd = 0;
        std::vector<Region> notTriedAreas;
        std::uint64_t frontier = 0;
        // The copy continued is whole up to the file's end and lists filled regions:
        // this run reads those again and nothing else.
        std::atomic<bool> triesAgain{false};
        // The copy loop's reads: counted as they begin, reading while one runs. The
        // worker reads no clock for them; readWaitMs times a read from its first sight.
        std::atomic<bool> reading{false};
        std::atomic<std::uint32_t> readsBegun{0};
        mutable std::mutex readWatchMutex;
        mutable std::uint32_t watchedRead = 0;  // readsBegun when readWaitMs last saw a read
        mutable std::uint32_t watchedSince = 0;  // the tick it first saw that read
        mutable std::mutex pathMutex;
        std::string destinationPath;
    };

    // The current file: owned by startFile until the worker starts, then by the
    // worker until it ends.
    struct FileState
    {
        explicit FileState(FileSystem& fileSystem)
            : mainSource(fileSystem), destination(fileSystem), logFile(fileSystem)
        {
        }

        std::string sourcePath;
        std::string fileName;
        std::string relativeFolder;
        std::string outputFolderPath;
        std::string logPath;
        bool destinationExisted = false;
        // Set by continueFile: an existing copy goes on under Resume, unasked.
        bool continuing = false;
        // The end record taken from a continued log, until the worker runs.
        std::optional<std::uint64_t> droppedEnd;
        // The destination offset of source offset 0: the copy's size before an Append.
        std::uint64_t base = 0;
        // The source as it is now, taken when it was opened.
        SourceStamp stamp;
        // The annotations the log of this file carries from now on, and those the log
        // continued had (a rewrite puts the first in place of the second).
        std::vector<LogAnnotation> annotations;
        std::vector<LogAnnotation> loggedAnnotations;
        bool replacing = false;
        bool appending = false;   // the copy goes behind what the destination held (Append)
        bool logCreated = false;  // this start wrote the log afresh
        // Taken at startFile and kept for the whole file: the log's header records it,
        // and a file whose fills changed to or from Nothing midway would have its data
        // at other offsets than its log says.
        FillType fillType = FillType::Zeros;
        // Regions of a log whose run never ended (no end record). The log cannot be
        // continued, but its regions still describe fills in the destination, so a
        // copy that goes on without it writes them into its new log.
        std::vector<BadRegion> unfinishedRegions;
        // The record of the passes that the log holds now, and where this run's passes
        // begin when it only reads the fills again (nullopt: from the first).
        std::optional<PassPoint> passRecord;
        std::optional<PassPoint> passResume;
        // The base of an Append that such a log recorded, when its source is this one:
        // the copy goes on behind it.
        std::optional<std::uint64_t> unfinishedBase;
        // The phase a log written while the easy data was read first records, when this
        // run goes on from it, and the areas (source offsets) it lists as not tried.
        std::optional<PhasePoint> phaseResume;
        RegionMap notTried;
        SourceReader mainSource;
        std::vector<std::unique_ptr<SourceReader>> reserved;
        std::vector<SourceReader*> sources;  // the main source first
        std::vector<bool> failedMarks;       // one per source
        PlainFile destination;
        PlainFile logFile;
        CopyLog log;
    };

    // Locals of one worker run.
    struct Loop
    {
        std::size_t current = 0;  // index into sources
        std::uint32_t chunk = 0;
        std::uint32_t fullChunk = 0;
        std::uint32_t sectorsPerChunk = 1;
        std::uint32_t attemptLimit = 1;
        std::uint32_t attempts = 0;
        float fillSpan = 1.0f;
        std::uint32_t runLength = 0;
        std::uint32_t bytesSinceFallback = 0;
        std::uint32_t fills = 0;
        std::uint32_t recoveries = 0;
        bool mayAsk = true;
        bool logActive = false;
        // Where the current read goes up to: the file's size, or the end of the area
        // not tried that the main pass reads.
        std::uint64_t limit = 0;
        // The easy data first (easy_pass.cpp): phase 1 reads chunks from cursor on and
        // skips ahead past failures into pending, then reads pending's areas backwards;
        // phase 2 is the main pass over pending, front first. failed: the chunks of
        // pending that phase 1 read and that failed (this run's). Source offsets.
        bool phased = false;
        bool phasesDone = false;
        std::uint32_t phase = 0;
        std::uint64_t cursor = 0;
        std::deque<Region> pending;  // taken from the front in phase 2
        std::uint64_t pendingBytes = 0;
        std::uint32_t areasPublished = 0;  // the tick pending was last published at
        RegionMap failed;
        std::uint32_t lastCheckpoint = 0;
        std::vector<std::uint8_t> chunkBuffer;
        // Before the first good read it holds zeros, so "last good" fills with zeros.
        std::vector<std::uint8_t> lastGood;
    };

    // startFile parts
    bool prepareSource(const std::string& sourcePath, const std::string& baseFolder,
                       const std::string& outputFolder);
    // True when a folder level of target from offset firstLevel on is a symbolic link.
    bool linkAmongLevels(const std::string& target, std::size_t firstLevel);
    // Holds the KnownFolder at folder open in heldFolder (none when it is not known).
    void holdFolder(const std::string& folder);
    // Puts the entries of the folder that holds path on the medium, through heldFolder
    // when it holds that folder.
    bool syncFolderOf(const std::string& path);
    bool openDestination();
    bool prepareExisting();
    // How a copy's log was taken: the copy continues from it, the log cannot be used,
    // or the copy is refused (the reason in the status).
    enum class LogUse { Continued, Unusable, Refused };
    LogUse prepareWithLog(ExistingPolicy policy);
    bool endFitsCopy(std::int64_t end, std::int64_t logFill, std::int64_t listedBytes);
    // Takes up a usable log whose copy of this source goes on at its end record (base:
    // the destination offset of source offset 0); false when the source is refused.
    bool continueLog(const RegionMap& filled, std::uint64_t base, std::uint64_t end,
                     std::int64_t logFill, bool resume);
    bool prepareWithoutLog(ExistingPolicy policy, bool logFound);
    bool sourceMatchesCopy(const RegionMap& filled, std::uint64_t base, std::uint64_t end,
                           bool withoutFills);
    // How the source's bytes [from, to) compare with the copy's, outside the fills
    // (source offsets): Differs when a byte differs or the copy cannot be read there,
    // Unread when all that was read agrees but a part of the source cannot be read now.
    enum class Match
    {
        Same,
        Unread,
        Differs
    };
    Match compareWithCopy(const RegionMap& fills, std::uint64_t base, std::uint64_t from,
                          std::uint64_t to, bool withoutFills);
    // The annotations of a new log of this file: the source, and the base of an Append.
    std::vector<LogAnnotation> freshAnnotations() const
    {
        std::vector<LogAnnotation> notes{sourceAnnotation(file.stamp)};
        if (file.appending) notes.push_back(appendBaseAnnotation(file.base));
        return notes;
    }
    bool checkFreeSpace();
    // False, with DestinationTooSmall, when the copy would end past the largest file
    // that the copy's file system can hold (FAT: 4 GiB - 1 byte).
    bool checkFileSizeLimit();
    bool createNewLog();
    void openReservedCopies();
    void releaseReservedCopies();
    // Shows the prepared file to the pollers and raises busy.
    void announceFile();
    bool startWorker();
    // startFile's steps; false when the file is refused, with the reason in the status.
    // With here, the file is copied on this thread, here called once it is prepared.
    bool prepareAndStart(const std::string& sourcePath, const std::string& outputFolder,
                         const std::string& baseFolder, const std::function<void()>* here);
    // Closes everything of the current file: source, reserved copies, copy and log.
    void closeFile();
    bool refuseAfterPreparing();
    // The callback's answer, or nullopt when no callback is set; path receives the
    // answer's path.
    std::optional<bool> ask(QueryKind kind, std::string* path = nullptr);
    void fail(EngineStatus code) { shared.status.store(code); }
    void clearStatus() { shared.status.store(EngineStatus::Ok); }
    // Stores a flag that waiters on stateChanged look at, and wakes them.
    void setState(std::atomic<bool>& flag, bool value)
    {
        {
            std::lock_guard lock(shared.stateMutex);
            flag.store(value);
        }
        shared.stateChanged.notify_all();
    }
    // The destination offset where the copy of the whole source ends.
    std::uint64_t fileEnd() const { return file.base + file.mainSource.fileSize(); }
    // How much of the earlier runs' regions counts as this file's fills: what lies from
    // the destination base (before it lies another file's copy, under Append) to the
    // place where this run starts to write (it writes the rest anew).
    std::int64_t earlierFills(const RegionMap& regions) const
    {
        const std::int64_t start = std::max<std::int64_t>(file.mainSource.currentOffset(), 0);
        const std::uint64_t limit =
            std::min(file.base + static_cast<std::uint64_t>(start), fileEnd());
        return static_cast<std::int64_t>(regions.bytesIn(file.base, limit));
    }
    void setBase(std::int64_t base)
    {
        file.base = static_cast<std::uint64_t>(std::max<std::int64_t>(base, 0));
        shared.destinationBase.store(file.base);
    }

    // worker parts
    void runWorker();
    // The new file's size, position and sector size for the snapshot, its status
    // cleared and its rates started, before the worker takes it over.
    void publishFile();
    void setUpWorker(Loop& loop);
    // The main pass's reads from the position up to limit; true when they got there.
    bool readUpTo(Loop& loop, std::uint64_t limit);
    // The easy data first (easy_pass.cpp).
    bool usePhases(const Loop& loop);
    void runPhases(Loop& loop);
    bool easyPass(Loop& loop);
    bool reversePass(Loop& loop);
    // Phase 1's chunk size, and one read of it: [at, at + length) of the source into the
    // copy; the bytes read (0: it failed), nullopt when the file ends (status set).
    std::uint32_t easyChunk(const Loop& loop) const;
    std::optional<std::uint32_t> easyRead(Loop& loop, std::uint64_t at, std::uint64_t length,
                                          std::uint32_t* took);
    bool mainPassOverPending(Loop& loop);
    bool checkpointIfDue(Loop& loop);
    // How publishNotTried gives out the areas with the place reached: Due, at most every
    // quarter of a second, as their copy costs with their number; All, now; Grown, now
    // and only what changed, for the first pass's forward reads, which only make the last
    // area longer or add areas behind it.
    enum class Publish { Due, All, Grown };
    // Publishes what is not tried (see Shared).
    void publishNotTried(Loop& loop, std::uint64_t elsewhere, std::uint64_t areaEnd,
                         Publish how = Publish::Due);
    // EngineSnapshot::notTried as it stands.
    std::uint64_t notTriedNow() const;
    // Replaces the log by one that lists the fills, and, until the phases are done, the
    // areas not tried with their PhasePoint; the copy goes to the medium first (syncCopy).
    bool writePhaseLog(Loop& loop, bool done, bool syncCopy = true);
    // Takes a continued log's record of the phases (see existing_copy.cpp): moves the
    // regions it marks as not tried from regions to file.notTried.
    void takePhaseRecord(std::vector<BadRegion>& regions, std::uint64_t end, std::int64_t logFill);
    bool afterGoodRead(Loop& loop, std::uint32_t n);
    bool afterFailedRead(Loop& loop);
    bool fillHere(Loop& loop);
    bool recordAndWriteFill(Loop& loop, const BadRegion& region);
    bool writeFill(Loop& loop, std::uint32_t length);
    void finishWorker(Loop& loop);
    EngineStatus putCopyOnMedium();
    bool runEndPasses(const Loop& loop);
    // Writes a log of the regions with the record of the passes (none: the passes ended)
    // after the copy is on the medium; false, with the reason in the status, when either failed.
    bool keepPasses(const RegionMap& regions, const std::optional<PassPoint>& reached,
                    LogForm form);
    // Makes the regions the run's list of filled regions and its filled bytes.
    void publishRegions(const RegionMap& regions, LogForm form);
    // Takes the passes' record of a continued log whose copy reaches end (see existing_copy.cpp).
    void takePassRecord(std::uint64_t end);
    // The form of a log that lists regions for this copy: the narrow form while every
    // offset and the copy's end fit 32 bits.
    LogForm logFormFor(const RegionMap& regions) const
    {
        return tessaly::logFormFor(std::max(fileEnd(), regions.reach()));
    }
    bool rewriteContinuedLog();
    SourceReader* askForOneMoreCopy();
    void clearMarks() { std::fill(file.failedMarks.begin(), file.failedMarks.end(), false); }
    // The destination read as a copy of its own source would hand back what it
    // holds (earlier fills too, under Append) as data read from the source.
    bool isDestination(const SourceReader& reader) const
    {
        File* out = file.destination.file();
        if (out == nullptr) return false;
        const std::optional<FileIdentity> target = out->identity();
        return target && target == reader.identity();
    }

    FileSystem& fs;
    const TickSource& tickSource;
    Settings settings;
    Shared shared;
    FileState file;
    // What a run learns once of each folder it copies into (forgotten as the next run
    // begins, or once its path leads to another folder): that its levels are there and
    // free of links, and the largest file its file system holds (nullopt: no limit),
    // once a copy has asked.
    struct KnownFolder
    {
        FileIdentity identity;  // of the folder the checked levels led to
        bool limitKnown = false;
        std::optional<std::uint64_t> sizeLimit;
    };
    std::map<std::string, KnownFolder> knownFolders;
    // The folder of the file last prepared, held open to sync its entries at the file's
    // end; the same folder as its KnownFolder's (checked when the file is prepared).
    struct
    {
        std::string path;
        std::unique_ptr<HeldFolder> handle;
    } heldFolder;
    bool holdFolders = false;  // between beginRun and endRun
    // The output folders whose stale scratch logs were removed (once per folder and run).
    std::set<std::string> sweptFolders;
    // The copy and the log of the file last started; set on the thread that starts it.
    struct Opened
    {
        std::optional<FileIdentity> copy;
        std::optional<FileIdentity> log;
    } opened;
    // Fed by the worker only; other threads read their rates.
    RateMeter longMeter;
    RateMeter shortMeter;
    // The worker's: the sector reads of filled sectors since their first failure, by copy
    // offset (PassCopy::reads); a sector without an entry has had none.
    std::map<std::uint64_t, std::uint32_t> unitReads;

    // The worker thread: started with the first file and kept for the files after it,
    // so that a file costs no thread of its own. It leaves when the engine goes.
    struct Worker
    {
        std::thread thread;
        std::mutex mutex;
        std::condition_variable wake;  // a file handed over, a file done, or leave
        bool pending = false;          // a file is handed over and not yet taken up
        bool running = false;          // a file is handed over or runs, to its last instruction
        bool leave = false;
    };
    Worker worker;
    // The worker's thread: runs each file handed over, until leave.
    void workerLoop();
    // Hands the prepared file to the worker, starting its thread with start if it has
    // none yet; false when no thread could be started.
    bool handToWorker(const ThreadStarter& start);
    // Returns once the worker has finished the last instruction of its file.
    void waitForWorker();
    // Lets the worker's thread leave, and joins it.
    void endWorker();
};

}  // namespace tessaly
