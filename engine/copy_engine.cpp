#include "engine/copy_engine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>

#include "engine/destination.h"
#include "engine/rate_meter.h"
#include "engine/region_map.h"
#include "engine/retry_pass.h"
#include "engine/source_reader.h"
#include "engine/trim_pass.h"

namespace tessaly {
namespace {

constexpr std::uint32_t kLongWindowMs = 120000;
constexpr std::uint32_t kShortWindowMs = 5000;
// More good bytes than this in a row bring the full chunk back after a fallback.
constexpr std::uint32_t kChunkRestoreBytes = 1048576;
// Bytes beyond the remaining source that the output volume must have free.
constexpr std::uint64_t kFreeSpaceMargin = 1024;
// A continued copy of this size or more is compared with its source at this many more
// sectors, spread evenly (sourceMatchesCopy).
constexpr std::uint64_t kDenseCheckFrom = std::uint64_t{1} << 20;
constexpr std::uint64_t kDenseCheckSectors = 16;
// A continued copy is compared with its source over this many bytes at its start and
// at its end, as far as it holds read data there.
constexpr std::uint64_t kEdgeCheckBytes = std::uint64_t{1} << 20;

// Retry heuristics. In automatic mode a CD is read twice at a bad sector unless
// the fill factor leans further than this towards speed.
constexpr float kCdRereadMaxFactor = 1.5f;
constexpr std::uint32_t kCdAttempts = 2;
// Good reads in a row, per unit of the fill factor above 1, after which the next
// fill starts again at one sector.
constexpr float kGoodReadsPerSpeedToRestoreFill = 40.0f;
// Fills after which automatic mode judges whether re-reads pay off.
constexpr std::uint32_t kFillsBeforeJudgingRereads = 20;
// Fills per successful re-read beyond which re-reads stop, at fill factor 1; the
// limit shrinks as the factor leans towards speed.
constexpr float kFillsPerRecoveryLimit = 20.0f;

bool defaultThreadStarter(std::thread& thread, std::function<void()> body)
{
    try {
        thread = std::thread(std::move(body));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

// The regions the log lists, end records left out, and the sum of their lengths;
// -1 when the log's name cannot be read.
std::int64_t readFilledRegions(CopyLog& log, std::vector<BadRegion>& regions)
{
    const std::int64_t sum = log.readRegions(regions);
    std::erase_if(regions, [](const BadRegion& r) { return r.length == 0; });
    return sum;
}

// The medium's serial as the log keeps it: 64-bit FNV-1a, never 0 (0 is "not known").
std::uint64_t volumeHash(const std::optional<std::string>& serial)
{
    if (!serial) return 0;
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : *serial) hash = (hash ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
    return hash == 0 ? 1 : hash;
}

// True when the source open now may be the one a log recorded: the same size, and the
// same modification time and medium wherever both are known.
bool sameSource(const SourceStamp& recorded, const SourceStamp& now)
{
    const auto agree = [](std::uint64_t a, std::uint64_t b) { return a == 0 || b == 0 || a == b; };
    return recorded.size == now.size && agree(recorded.modifiedNs, now.modifiedNs) &&
           agree(recorded.volume, now.volume);
}

// What an unusable log still tells of the fills of its copy, whose size is copySize: the
// regions of its records, as far as they lie in the copy, when every record starts where
// a run of the copier puts one (in the copy; a record of length 0 only last). Otherwise,
// and when its header, name or annotations cannot be read, nothing of it can be trusted
// and the whole copy counts as filled.
std::vector<BadRegion> salvagedRegions(CopyLog& log, std::int64_t logFill, std::uint64_t copySize)
{
    std::vector<BadRegion> records;
    bool trusted = logFill >= 0 && log.readRecords(records);
    // Under the fill Nothing the copy lacks its regions' bytes: they reach that much further.
    std::uint64_t limit = copySize;
    if (logFill == static_cast<std::int64_t>(FillType::Nothing)) {
        for (const BadRegion& r : records) limit += std::min(r.length, UINT64_MAX - limit);
    }
    for (std::size_t i = 0; trusted && i < records.size(); ++i) {
        const BadRegion& r = records[i];
        trusted = r.length == 0 ? i + 1 == records.size() : r.offset < limit;
    }
    if (!trusted) records.assign(1, BadRegion{0, copySize});
    std::erase_if(records, [](const BadRegion& r) { return r.length == 0; });
    return records;
}

float fraction(std::uint64_t part, std::uint64_t whole)
{
    return whole == 0 ? 1.0f : static_cast<float>(part) / static_cast<float>(whole);
}

}  // namespace

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
        // Signalled when the worker has set started or cleared busy; both change
        // under stateMutex so that no waiter misses the change.
        std::mutex stateMutex;
        std::condition_variable stateChanged;
        std::atomic<bool> stopRequest{false};
        std::atomic<bool> started{false};
        std::atomic<EngineStatus> status{EngineStatus::Ok};
        std::atomic<float> progress{0.0f};
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
        std::uint64_t wideBase = 0;
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
        // The base of an Append that such a log recorded, when its source is this one:
        // the copy goes on behind it.
        std::optional<std::uint64_t> unfinishedBase;
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
        std::vector<std::uint8_t> chunkBuffer;
        // Before the first good read it holds zeros, so "last good" fills with zeros.
        std::vector<std::uint8_t> lastGood;
    };

    // startFile parts
    bool prepareSource(const std::string& sourcePath, const std::string& baseFolder,
                       const std::string& outputFolder);
    // True when a folder level of target from offset firstLevel on is a symbolic link.
    bool linkAmongLevels(const std::string& target, std::size_t firstLevel);
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
        if (file.appending) notes.push_back(appendBaseAnnotation(file.wideBase));
        return notes;
    }
    bool checkFreeSpace();
    // False, with DestinationTooSmall, when the copy would end past the largest file
    // that the copy's file system can hold (FAT: 4 GiB - 1 byte).
    bool checkFileSizeLimit();
    bool createNewLog();
    void openReservedCopies();
    void releaseReservedCopies();
    bool startWorker();
    // startFile's steps; false when the file is refused, with the reason in the status.
    bool prepareAndStart(const std::string& sourcePath, const std::string& outputFolder,
                         const std::string& baseFolder);
    // Closes everything of the current file: source, reserved copies, copy and log.
    void closeFile();
    bool refuseAfterPreparing();
    // The callback's answer, or nullopt when no callback is set; path receives the
    // answer's path.
    std::optional<bool> ask(QueryKind kind, std::string* path = nullptr);
    void fail(EngineStatus code) { shared.status.store(code); }
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
    std::uint64_t fileEnd() const { return file.wideBase + file.mainSource.fileSize(); }
    // How much of the earlier runs' regions counts as this file's fills: what lies from
    // the destination base (before it lies another file's copy, under Append) to the
    // place where this run starts to write (it writes the rest anew).
    std::int64_t earlierFills(const RegionMap& regions) const
    {
        const std::int64_t start = std::max<std::int64_t>(file.mainSource.currentOffset(), 0);
        const std::uint64_t limit =
            std::min(file.wideBase + static_cast<std::uint64_t>(start), fileEnd());
        return static_cast<std::int64_t>(regions.bytesIn(file.wideBase, limit));
    }
    void setBase(std::int64_t base)
    {
        file.wideBase = static_cast<std::uint64_t>(std::max<std::int64_t>(base, 0));
        shared.destinationBase.store(file.wideBase);
    }

    // worker parts
    void runWorker();
    void setUpWorker(Loop& loop);
    bool afterGoodRead(Loop& loop, std::uint32_t n);
    bool afterFailedRead(Loop& loop);
    bool fillHere(Loop& loop);
    bool recordAndWriteFill(Loop& loop, const BadRegion& region);
    bool writeFill(Loop& loop, std::uint32_t length);
    void finishWorker(Loop& loop);
    EngineStatus putCopyOnMedium();
    bool trimFilled(const Loop& loop);
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
    // The output folders whose stale scratch logs were removed (once per folder).
    std::set<std::string> sweptFolders;
    // Fed by the worker only; other threads read their rates.
    RateMeter longMeter;
    RateMeter shortMeter;
    std::thread worker;
};

// ---------------------------------------------------------------- startFile

bool CopyEngine::Impl::prepareSource(const std::string& path, const std::string& baseFolder,
                                     const std::string& outputFolder)
{
    if (!file.mainSource.open(path)) {
        fail(EngineStatus::SourceOpenFailed);
        return false;
    }
    file.sourcePath = path;
    file.stamp = {file.mainSource.fileSize(), file.mainSource.modifiedNs(),
                  volumeHash(fs.volumeSerial(path))};
    const std::string target =
        tessaly::destinationPath(path, outputFolder, baseFolder, fs.isBlockDevice(path));
    const std::size_t slash = target.find_last_of(kPathSeparator);
    file.fileName = target.substr(slash + 1);
    file.relativeFolder = tessaly::relativeFolder(path, baseFolder);
    // The output folder may itself be a link (the user chose it); a link at any
    // level below it, at the copy or at its log would carry the copy elsewhere.
    // Checked before anything is made, so that a refused file leaves nothing behind.
    const std::size_t firstLevel = outputPrefix(outputFolder).size();
    if (linkAmongLevels(target, firstLevel) || fs.isSymlink(target) ||
        fs.isSymlink(logPathOf(target))) {
        file.mainSource.close();
        fail(EngineStatus::LinkInWay);
        return false;
    }
    // Most files go to a folder made for an earlier one: only a missing one is made,
    // level by level.
    if (!baseFolder.empty() && !fs.isDirectory(target.substr(0, slash))) {
        for (std::size_t i = 1; i <= slash; ++i) {
            if (target[i] == kPathSeparator) fs.createDirectory(target.substr(0, i));
        }
    }
    file.outputFolderPath = outputFolder;
    std::lock_guard lock(shared.pathMutex);
    shared.destinationPath = target;
    return true;
}

bool CopyEngine::Impl::linkAmongLevels(const std::string& target, std::size_t firstLevel)
{
    for (std::size_t i = firstLevel; i < target.size(); ++i) {
        if (target[i] == kPathSeparator && fs.isSymlink(target.substr(0, i))) return true;
    }
    return false;
}

bool CopyEngine::Impl::openDestination()
{
    std::string path;
    {
        std::lock_guard lock(shared.pathMutex);
        path = shared.destinationPath;
    }
    // A destination that is the source itself would be overwritten by its own copy.
    const std::optional<FileIdentity> target = fs.identity(path);
    if (target && target == file.mainSource.identity()) {
        fail(EngineStatus::DestinationOpenFailed);
        return false;
    }
    file.destinationExisted = false;
    if (!file.destination.create(path, Disposition::CreateNew, Access::Write)) {
        file.destinationExisted = true;
        // Read and write: a continued copy is compared with its source first.
        if (!file.destination.openExisting(path, Access::ReadWrite)) {
            // A link put there since prepareSource looked is refused by the open itself.
            if (isLinkInWay(file.destination.lastError())) {
                fail(EngineStatus::LinkInWay);
            } else {
                fail(fs.exists(path) ? EngineStatus::DestinationOpenFailed
                                     : EngineStatus::DestinationCreateFailed);
            }
            return false;
        }
    }
    // Another run (a second terminal, the window beside the command line) that
    // writes this copy holds it locked: two writers would mix their bytes.
    if (!file.destination.file()->tryLock()) {
        file.destination.close();
        fail(EngineStatus::DestinationInUse);
        return false;
    }
    file.logPath = logPathOf(path);
    file.log.unbind();
    file.logFile.close();
    return true;
}

std::optional<bool> CopyEngine::Impl::ask(QueryKind kind, std::string* path)
{
    QueryCallback function;
    {
        std::lock_guard lock(settings.mutex);
        function = settings.callback;
    }
    if (!function) return std::nullopt;
    EngineQuery query;
    query.kind = kind;
    if (path != nullptr) query.path = *path;
    const bool answer = function(query);
    if (path != nullptr) *path = std::move(query.path);
    return answer;
}

bool CopyEngine::Impl::prepareExisting()
{
    // A log that is missing or cannot be opened shows in the status while the user is asked.
    bool hasLog = false;
    if (!fs.exists(file.logPath)) {
        fail(EngineStatus::LogMissing);
    } else if (!file.logFile.openExisting(file.logPath, Access::ReadWrite)) {
        fail(EngineStatus::LogOpenFailed);
    } else if (!file.logFile.file()->tryLock()) {
        file.logFile.close();
        fail(EngineStatus::DestinationInUse);
        return false;
    } else {
        hasLog = true;
    }
    // A copy continued after its medium came back was admitted by the user already;
    // the source check of Resume tells the same medium from another.
    const ExistingPolicy chosen =
        file.continuing ? ExistingPolicy::Resume : setting(&EngineSettings::existingPolicy);
    if (chosen != ExistingPolicy::Skip && !file.continuing &&
        ask(QueryKind::Existing) == std::optional(false)) {
        fail(EngineStatus::ExistingRefused);
        return false;
    }
    switch (chosen) {
        case ExistingPolicy::Replace:
            // Emptied once the file is sure to be copied (prepareAndStart): a refusal
            // for its size or the free space leaves the copy as it was.
            file.replacing = true;
            return true;
        case ExistingPolicy::Skip:
            shared.skipping = true;
            file.mainSource.seek(0, Whence::End);
            return true;
        case ExistingPolicy::Append:
        case ExistingPolicy::Resume:
            if (hasLog) {
                const LogUse use = prepareWithLog(chosen);
                if (use != LogUse::Unusable) return use == LogUse::Continued;
            }
            return prepareWithoutLog(chosen, hasLog);
    }
    // An unknown policy touches nothing: the destination is left as it is.
    shared.skipping = true;
    file.mainSource.seek(0, Whence::End);
    return true;
}

// Continues from the log's end record. An unusable log is left as it is, so that a
// refusal to go on without it changes nothing; the regions it still lists readably are
// kept for the copy that goes on without it. Resume, and an Append that its log shows cut
// short, go on with the source of the copy: another one is refused before anything is
// written. Any other Append starts behind the copy's last byte.
CopyEngine::Impl::LogUse CopyEngine::Impl::prepareWithLog(ExistingPolicy chosen)
{
    file.log.bind(&file.logFile);
    const std::int64_t logFill = file.log.readHeader();
    const std::int64_t end = logFill < 0 ? -1 : file.log.readEndPosition();
    std::vector<BadRegion> earlier;
    const std::int64_t listedBytes = logFill < 0 ? -1 : readFilledRegions(file.log, earlier);
    const std::vector<LogAnnotation> annotations =
        file.log.readAnnotations().value_or(std::vector<LogAnnotation>{});
    const std::optional<std::uint64_t> loggedBase = appendBaseOf(annotations);
    const std::uint64_t base = loggedBase.value_or(0);
    // A fill the engine does not know tells nothing of how the copy's bytes stand.
    const bool fillKnown = logFill <= static_cast<std::int64_t>(kLastFillType);
    const RegionMap filled(earlier);
    // A log whose regions pass its own end record does not describe the copy it lies beside.
    if (listedBytes < 0 || !fillKnown || end < 0 || !endFitsCopy(end, logFill, listedBytes) ||
        recordsReach(earlier) > static_cast<std::uint64_t>(end) ||
        base > static_cast<std::uint64_t>(end)) {
        const auto copySize =
            static_cast<std::uint64_t>(std::max<std::int64_t>(file.destination.size(), 0));
        file.droppedEnd.reset();
        file.unfinishedRegions = salvagedRegions(file.log, logFill, copySize);
        const std::optional<SourceStamp> recorded = sourceStampOf(annotations);
        if (loggedBase && base <= copySize && (!recorded || sameSource(*recorded, file.stamp)))
            file.unfinishedBase = base;
        file.log.unbind();
        setBase(0);
        return LogUse::Unusable;
    }
    const std::optional<SourceStamp> recorded = sourceStampOf(annotations);
    const std::uint64_t runSize = recorded ? recorded->size : file.mainSource.fileSize();
    const bool cutShort = static_cast<std::uint64_t>(end) - base < runSize;
    file.loggedAnnotations = annotations;
    if (chosen == ExistingPolicy::Resume || (loggedBase && cutShort)) {
        if (!continueLog(filled, base, static_cast<std::uint64_t>(end), logFill,
                         chosen == ExistingPolicy::Resume)) {
            file.log.unbind();
            return LogUse::Refused;
        }
        file.annotations = annotations;
    } else {
        setBase(file.destination.seek(0, Whence::End));
        file.appending = true;
        file.annotations = freshAnnotations();
    }
    // The copy goes on with the fill its log names: one copy never mixes fills
    // written in place with fills left out, whatever the setting says now.
    file.fillType = static_cast<FillType>(logFill);
    file.destination.seek(0, Whence::End);
    file.log.dropEndRecord();
    file.droppedEnd = static_cast<std::uint64_t>(end);
    shared.filledBytes.store(earlierFills(filled));
    {
        std::lock_guard lock(shared.regionsMutex);
        shared.regions = std::move(earlier);
    }
    const std::int64_t at = std::max<std::int64_t>(file.mainSource.currentOffset(), 0);
    shared.progress.store(fraction(static_cast<std::uint64_t>(at), file.mainSource.fileSize()));
    return LogUse::Continued;
}

// The source must be the one the copy was made from: the one its log recorded (size,
// time, medium), and one whose bytes agree with the copy's. Then it is read on from the
// end record. Resume with the whole file read has only the fills to read again.
bool CopyEngine::Impl::continueLog(const RegionMap& filled, std::uint64_t base, std::uint64_t end,
                                   std::int64_t logFill, bool resume)
{
    const bool withoutFills = logFill == static_cast<std::int64_t>(FillType::Nothing);
    const std::optional<SourceStamp> recorded = sourceStampOf(file.loggedAnnotations);
    if (recorded && !sameSource(*recorded, file.stamp)) {
        fail(EngineStatus::SourceChanged);
        return false;
    }
    if (!sourceMatchesCopy(filled, base, end, withoutFills)) {
        fail(EngineStatus::SourceMismatch);
        return false;
    }
    setBase(static_cast<std::int64_t>(base));
    file.mainSource.seek(static_cast<std::int64_t>(end - base), Whence::Begin);
    // Without fills in place (Nothing) the passes have nowhere to write.
    shared.triesAgain.store(resume && filled.meets(base, end) && !withoutFills &&
                            end - base >= file.mainSource.fileSize());
    return true;
}

// The end record is where the copy ends: the run that wrote it wrote every byte before
// it, fills too; under the fill Nothing every byte but its regions' (listedBytes). A
// log whose end disagrees with its copy, or that would send Resume past the source,
// belongs to another state of the copy and would continue it shifted.
bool CopyEngine::Impl::endFitsCopy(std::int64_t end, std::int64_t logFill, std::int64_t listedBytes)
{
    const std::int64_t copySize = file.destination.size();
    if (copySize < 0) return false;
    if (logFill == static_cast<std::int64_t>(FillType::Nothing)) return end == copySize + listedBytes;
    return end == copySize;
}

// Goes on after the copy's last byte. Under Resume the source must be the file the copy
// was made from; a copy that has no log at all and is as long as its source is whole when
// every byte of it equals the source's (its log was deleted because nothing had to be
// filled): it is taken as it is, unasked. One that is not found equal cannot be told from
// a copy whose fills went unlisted, and is refused (CopyNotProven).
bool CopyEngine::Impl::prepareWithoutLog(ExistingPolicy chosen, bool logFound)
{
    const std::int64_t end = std::max<std::int64_t>(file.destination.seek(0, Whence::End), 0);
    const RegionMap below =
        RegionMap(file.unfinishedRegions).overlap(0, static_cast<std::uint64_t>(end));
    const bool resume = chosen == ExistingPolicy::Resume;
    const bool whole = resume && !logFound &&
                       static_cast<std::uint64_t>(end) == file.mainSource.fileSize();
    // Resume, and an Append whose run was cut off behind its base, go on with the source
    // where the copy ends.
    const bool goesOn = resume || (chosen == ExistingPolicy::Append && file.unfinishedBase);
    const std::uint64_t base = goesOn ? file.unfinishedBase.value_or(0) : 0;
    if (whole && compareWithCopy({}, 0, 0, static_cast<std::uint64_t>(end), false) != Match::Same) {
        fail(EngineStatus::CopyNotProven);
        return false;
    }
    if (!whole && !file.continuing && ask(QueryKind::NoLog) == std::optional(false)) {
        fail(EngineStatus::NoLogRefused);
        return false;
    }
    if (goesOn && !whole &&
        !sourceMatchesCopy(below, base, static_cast<std::uint64_t>(end), false)) {
        fail(EngineStatus::SourceMismatch);
        return false;
    }
    file.destination.seek(end, Whence::Begin);  // the check moved it
    if (whole) fail(EngineStatus::Ok);  // the missing log is no complaint here
    setBase(static_cast<std::int64_t>(goesOn ? base : static_cast<std::uint64_t>(end)));
    file.appending = chosen == ExistingPolicy::Append || (goesOn && file.unfinishedBase);
    if (goesOn) file.mainSource.seek(end - static_cast<std::int64_t>(base), Whence::Begin);
    // The copy goes on after its last byte: what the old log lists before it is still
    // filled, whatever else was wrong with the log.
    file.unfinishedRegions = *below.toRecords(LogForm::Wide);
    if (!below.empty()) {
        shared.filledBytes.store(earlierFills(below));
        std::lock_guard lock(shared.regionsMutex);
        shared.regions = file.unfinishedRegions;
    }
    const std::int64_t at = std::max<std::int64_t>(file.mainSource.currentOffset(), 0);
    shared.progress.store(fraction(static_cast<std::uint64_t>(at), file.mainSource.fileSize()));
    return true;
}

// Compares what the copy holds as read data (outside every filled region, below end)
// with the source at the same offsets: its first and last kEdgeCheckBytes whole, and
// between them a few sectors: the last before end, the first, two between, and for a copy
// of kDenseCheckFrom bytes or more (an image of a card, where another card of the same
// size may agree in those) kDenseCheckSectors more spread evenly over it. A source shorter
// than the copy, or one byte that differs, is another file than the one the copy was made
// from. What the source cannot read now is passed over; a copy that cannot be read where
// it should hold data fails the check. filled and end are destination offsets; the copy
// of source offset 0 is at base. Without fills (the fill Nothing) the copy lacks the
// filled regions' bytes, so a source offset lies in the copy that many bytes earlier.
bool CopyEngine::Impl::sourceMatchesCopy(const RegionMap& filled, std::uint64_t base,
                                         std::uint64_t end, bool withoutFills)
{
    const std::uint64_t reach = end - base;  // source bytes the copy covers
    if (reach > file.mainSource.fileSize()) return false;
    RegionMap fills;
    for (const Region& r : filled.overlap(base, end)) fills.add(r.offset - base, r.length);
    const std::uint64_t sector = std::max<std::uint32_t>(file.mainSource.bytesPerSector(), 1);
    const auto down = [&](std::uint64_t at) { return at / sector * sector; };
    // The edges are compared whole; the sampled places between them.
    const std::uint64_t head = std::min(kEdgeCheckBytes, reach);
    const std::uint64_t tail = std::max(head, reach - std::min(reach, kEdgeCheckBytes));
    if (compareWithCopy(fills, base, 0, head, withoutFills) == Match::Differs ||
        compareWithCopy(fills, base, tail, reach, withoutFills) == Match::Differs) {
        return false;
    }
    std::vector<std::uint64_t> places = {reach == 0 ? 0 : down(reach - 1), std::uint64_t{0},
                                         down(reach / 3), down(reach / 3 * 2)};
    if (reach >= kDenseCheckFrom) {
        for (std::uint64_t k = 1; k <= kDenseCheckSectors; ++k)
            places.push_back(down(reach / (kDenseCheckSectors + 1) * k));
    }
    for (std::uint64_t at : places) {
        // Past the filled regions that meet the sector, to the next sector of read data.
        while (const std::optional<Region> region = fills.firstMeeting(at, at + sector)) {
            at = down(region->end() + sector - 1);
        }
        if (at >= head && at < tail &&
            compareWithCopy(fills, base, at, std::min(at + sector, reach), withoutFills) ==
                Match::Differs)
            return false;
    }
    return true;
}

CopyEngine::Impl::Match CopyEngine::Impl::compareWithCopy(const RegionMap& fills,
                                                          std::uint64_t base, std::uint64_t from,
                                                          std::uint64_t to, bool withoutFills)
{
    const std::uint64_t step = std::max<std::uint32_t>(file.mainSource.chunkSize(), 1);
    const std::uint64_t sector = std::max<std::uint32_t>(file.mainSource.bytesPerSector(), 1);
    // The source is read in whole sectors, as past the cache it must be.
    std::vector<std::uint8_t> fromSource(step + sector);
    std::vector<std::uint8_t> fromCopy(step);
    bool unread = false;
    for (std::uint64_t at = from; at < to;) {
        if (const std::optional<Region> fill = fills.firstMeeting(at, at + 1)) {
            at = fill->end();
            continue;
        }
        std::uint64_t stop = std::min(to, at + step);
        if (const std::optional<Region> next = fills.firstMeeting(at, stop)) stop = next->offset;
        const auto want = static_cast<std::uint32_t>(stop - at);
        const auto whole = static_cast<std::uint32_t>((want + sector - 1) / sector * sector);
        const std::uint32_t got =
            file.mainSource.seek(static_cast<std::int64_t>(at), Whence::Begin) < 0
                ? 0
                : std::min(file.mainSource.read(fromSource.data(), whole), want);
        if (got == 0) {
            unread = true;  // nothing to compare
            at = stop;
            continue;
        }
        const std::uint64_t inCopy = base + (withoutFills ? at - fills.bytesBelow(at) : at);
        if (file.destination.seek(static_cast<std::int64_t>(inCopy), Whence::Begin) < 0 ||
            file.destination.read(fromCopy.data(), got) != got ||
            !std::equal(fromSource.begin(), fromSource.begin() + got, fromCopy.begin())) {
            return Match::Differs;
        }
        at += got;
    }
    return unread ? Match::Unread : Match::Same;
}

bool CopyEngine::Impl::checkFreeSpace()
{
    const std::optional<std::uint64_t> free = fs.freeSpace(outputPrefix(file.outputFolderPath));
    if (!free) {
        fail(EngineStatus::FreeSpaceUnknown);
        return false;
    }
    const std::int64_t offset = std::max<std::int64_t>(file.mainSource.currentOffset(), 0);
    const std::int64_t remaining =
        std::max<std::int64_t>(static_cast<std::int64_t>(file.mainSource.fileSize()) - offset, 0);
    // A copy that Replace is about to empty gives its room back.
    const std::uint64_t freed =
        file.replacing ? static_cast<std::uint64_t>(std::max<std::int64_t>(file.destination.size(), 0)) : 0;
    if (*free + freed < static_cast<std::uint64_t>(remaining) + kFreeSpaceMargin) {
        fail(EngineStatus::DiskFull);
        return false;
    }
    return true;
}

bool CopyEngine::Impl::checkFileSizeLimit()
{
    // Left as it is under Skip, the copy does not grow.
    if (shared.skipping) return true;
    const std::optional<std::uint64_t> limit = fs.maxFileSize(file.destination.path());
    if (limit && file.wideBase + file.mainSource.fileSize() > *limit) {
        fail(EngineStatus::DestinationTooSmall);
        return false;
    }
    return true;
}

bool CopyEngine::Impl::createNewLog()
{
    const bool createLog = setting(&EngineSettings::createLog);
    if (!file.log.isBound() && !createLog && file.replacing && file.logFile.file() != nullptr) {
        // The old log describes the copy that Replace has just emptied; left beside
        // the new copy it would send a later Resume to its old end record. A file
        // there that is no log is left alone.
        CopyLog old;
        old.bind(&file.logFile);
        const bool isLog = old.readHeader() >= 0;
        file.logFile.close();
        if (isLog) fs.removeFile(file.logPath);
    }
    if (file.log.isBound()) return rewriteContinuedLog();
    if (!createLog || shared.skipping) return true;
    const auto fill = static_cast<std::int32_t>(file.fillType);
    if (!file.unfinishedRegions.empty()) {
        // The regions an unusable log still listed go into its replacement, which takes
        // its place in one step: a run killed meanwhile leaves the old log whole. The old
        // one stays open, and so locked, until then. The copy needs no sync first: what
        // the new log leaves out lies past the copy's end, where no earlier state of the
        // copy on the medium reaches (only Replace shortens a copy, and syncs it).
        const RegionMap earlier(file.unfinishedRegions);
        const LogForm form = logFormFor(earlier);
        PlainFile next(fs);
        if (!writeLogByRename(fs, file.logPath, file.fileName, fill, form, *earlier.toRecords(form),
                              &next, freshAnnotations())) {
            fail(EngineStatus::LogCreateFailed);
            return false;
        }
        file.logFile = std::move(next);
        file.logCreated = true;
        file.log.bind(&file.logFile, form);
        return true;
    }
    // Locked before it is emptied, so that a log another run holds keeps its records.
    if (!file.logFile.create(file.logPath, Disposition::OpenAlways, Access::Write)) {
        // A name too long to take ".log" still gets its copy, without a log.
        if (isNameTooLong(file.logFile.lastError())) {
            shared.withoutLog.store(true);
            return true;
        }
        fail(fs.exists(file.logPath) ? EngineStatus::LogOpenFailed : EngineStatus::LogCreateFailed);
        return false;
    }
    if (!file.logFile.file()->tryLock()) {
        file.logFile.close();
        fail(EngineStatus::DestinationInUse);
        return false;
    }
    file.logFile.truncateAt(0);
    file.logCreated = true;
    file.log.bind(&file.logFile);
    // A header that cannot be written makes the log unusable for the next run,
    // which then asks before going on without it.
    file.log.writeHeader(file.fileName, fill, tessaly::logFormFor(fileEnd()), freshAnnotations());
    return true;
}

// A continued log keeps its form, unless the copy now ends where its narrow records
// cannot say (Append behind a large copy, a source that grew), and its annotations,
// unless an Append starts anew (its source and base): its records then go into a log
// that takes its place in one step, before anything is copied.
bool CopyEngine::Impl::rewriteContinuedLog()
{
    const RegionMap earlier = [this] {
        std::lock_guard lock(shared.regionsMutex);
        return RegionMap(shared.regions);
    }();
    const LogForm form = file.log.form() == LogForm::Wide ? LogForm::Wide : logFormFor(earlier);
    if (form == file.log.form() && file.annotations == file.loggedAnnotations) return true;
    PlainFile next(fs);
    if (!writeLogByRename(fs, file.logPath, file.fileName, static_cast<std::int32_t>(file.fillType),
                          form, *earlier.toRecords(form), &next, file.annotations)) {
        fail(EngineStatus::LogCreateFailed);
        return false;
    }
    file.logFile = std::move(next);
    file.log.bind(&file.logFile, form);
    return true;
}

void CopyEngine::Impl::releaseReservedCopies()
{
    file.reserved.clear();
    file.sources.clear();
    file.failedMarks.clear();
}

void CopyEngine::Impl::openReservedCopies()
{
    releaseReservedCopies();
    file.sources.push_back(&file.mainSource);
    const std::string folder = setting(&EngineSettings::reservedFolder);
    const ReservedPlacement where = setting(&EngineSettings::reservedPlacement);
    if (where == ReservedPlacement::InFolder) {
        auto reader = std::make_unique<SourceReader>(fs);
        if (reader->open(folder + file.relativeFolder + file.fileName) && !isDestination(*reader)) {
            file.sources.push_back(reader.get());
            file.reserved.push_back(std::move(reader));
        }
    } else if (where == ReservedPlacement::BesideSource) {
        // Numbered from 1; the first missing number ends the search.
        for (int k = 1;; ++k) {
            auto reader = std::make_unique<SourceReader>(fs);
            if (!reader->open(file.sourcePath + ".cp" + std::to_string(k))) break;
            if (isDestination(*reader)) continue;
            file.sources.push_back(reader.get());
            file.reserved.push_back(std::move(reader));
        }
    }
    file.failedMarks.assign(file.sources.size(), false);
}

bool CopyEngine::Impl::prepareAndStart(const std::string& sourcePath, const std::string& outputFolder,
                                       const std::string& baseFolder)
{
    file.fillType = setting(&EngineSettings::fillType);
    if (!prepareSource(sourcePath, baseFolder, outputFolder)) return false;
    if (!openDestination()) return false;
    // Scratch logs a killed run left beside the copy; once per folder, as listing it is
    // not free.
    if (const std::string folder = parentFolder(file.logPath); sweptFolders.insert(folder).second)
        removeStaleScratchLogs(fs, folder);
    if (file.destinationExisted && !prepareExisting()) return false;
    if (!checkFileSizeLimit() || !checkFreeSpace()) return refuseAfterPreparing();
    // Sync point: the emptied copy is on the medium before its old log is replaced or
    // removed, so that no power loss brings back its old fills without their log.
    if (file.replacing && (!file.destination.truncateAt(0) || !file.destination.sync())) {
        fail(EngineStatus::WriteFailed);
        return refuseAfterPreparing();
    }
    if (!createNewLog()) return refuseAfterPreparing();
    openReservedCopies();
    if (!startWorker()) return refuseAfterPreparing();
    return true;
}

void CopyEngine::Impl::closeFile()
{
    file.log.unbind();
    file.logFile.close();
    file.destination.close();
    file.mainSource.close();
    releaseReservedCopies();
}

bool CopyEngine::Impl::startWorker()
{
    if (worker.joinable()) worker.join();
    ThreadStarter start;
    {
        std::lock_guard lock(settings.mutex);
        start = settings.starter;
    }
    setState(shared.busy, true);
    shared.driveType.store(file.mainSource.driveType());
    shared.started.store(false);
    if (!start || !start(worker, [this] { runWorker(); })) {
        setState(shared.busy, false);
        releaseReservedCopies();
        fail(EngineStatus::WorkerStartFailed);
        return false;
    }
    // The worker sets started once its state is in place; a worker that ended
    // without setting it would have cleared busy.
    std::unique_lock lock(shared.stateMutex);
    shared.stateChanged.wait(lock,
                             [this] { return shared.started.load() || !shared.busy.load(); });
    return true;
}

// A start refused after a log was taken up for continuing gives that log its end
// record back, so that the same copy can be continued once the reason is gone.
bool CopyEngine::Impl::refuseAfterPreparing()
{
    if (file.droppedEnd && file.log.isBound()) file.log.appendRecord(*file.droppedEnd, 0);
    file.droppedEnd.reset();
    // A destination this start created holds nothing yet; left behind, it would be
    // taken by the next run for a copy without a usable log.
    if (!file.destinationExisted && file.destination.isOpen()) {
        file.destination.close();
        fs.removeFile(file.destination.path());
        if (file.logCreated) {
            file.log.unbind();
            file.logFile.close();
            fs.removeFile(file.logPath);
        }
    }
    return false;
}

// ---------------------------------------------------------------- worker

void CopyEngine::Impl::setUpWorker(Loop& loop)
{
    loop.logActive = file.log.isBound();
    const std::uint32_t sector = file.mainSource.bytesPerSector();
    shared.sectorSize.store(sector);
    shared.status.store(EngineStatus::Ok);
    loop.sectorsPerChunk = std::max<std::uint32_t>(file.mainSource.sectorsPerChunk(), 1);
    loop.fullChunk = loop.sectorsPerChunk * sector;
    loop.chunk = loop.fullChunk;
    loop.chunkBuffer.assign(loop.fullChunk, 0);
    loop.lastGood.assign(sector, 0);
    shared.fileSize.store(file.mainSource.fileSize());
    const std::int64_t start = std::max<std::int64_t>(file.mainSource.currentOffset(), 0);
    shared.position.store(std::min(static_cast<std::uint64_t>(start), file.mainSource.fileSize()));
    longMeter.start();
    shortMeter.start();
    longMeter.setWindow(kLongWindowMs);
    shortMeter.setWindow(kShortWindowMs);

    const float factor = fillFactor();
    if (setting(&EngineSettings::autoRereads)) {
        const bool cd = file.mainSource.driveType() == DriveType::CdRom;
        loop.attemptLimit = cd && factor <= kCdRereadMaxFactor ? kCdAttempts : 1;
    } else {
        loop.attemptLimit = setting(&EngineSettings::rereadCount);
    }
    setState(shared.started, true);
}

void CopyEngine::Impl::runWorker()
{
    Loop loop;
    setUpWorker(loop);
    const std::uint64_t size = shared.fileSize.load();
    const std::uint32_t sector = shared.sectorSize.load();
    for (;;) {
        const std::uint64_t at = shared.position.load();
        if (at >= size || shared.stopRequest.load()) break;
        shared.progress.store(fraction(at, size));
        if (size - at < loop.chunk)
            loop.chunk = static_cast<std::uint32_t>((size - at + sector - 1) / sector * sector);
        SourceReader& source = *file.sources[loop.current];
        shared.readsBegun.fetch_add(1);
        shared.reading.store(true);
        std::uint32_t n = source.read(loop.chunkBuffer.data(), loop.chunk);
        shared.reading.store(false);
        // The last read asks for whole sectors; a source that grew since it was
        // opened gives more than its size then, and only the size taken is copied.
        n = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, size - at));
        if (n > 0) {
            if (!afterGoodRead(loop, n)) break;
            continue;
        }
        if (isNotReady(source.lastError())) {
            // A removed medium gets no fill: the copy ends where it is.
            fail(EngineStatus::NotReady);
            break;
        }
        if (!afterFailedRead(loop)) break;
    }
    finishWorker(loop);
}

bool CopyEngine::Impl::afterGoodRead(Loop& loop, std::uint32_t n)
{
    // A short write fails whole: the destination then ends where the end record says,
    // and a later Resume puts the next byte at the right offset.
    if (!file.destination.writeWhole(loop.chunkBuffer.data(), n)) {
        fail(EngineStatus::WriteFailed);
        return false;
    }
    longMeter.add(n);
    shortMeter.add(n);
    ++loop.runLength;
    const std::uint32_t sector = shared.sectorSize.load();
    if (n >= sector)
        std::memcpy(loop.lastGood.data(), loop.chunkBuffer.data() + n - sector, sector);
    shared.position.fetch_add(n);
    loop.bytesSinceFallback += n;
    if (loop.bytesSinceFallback > kChunkRestoreBytes) {
        loop.chunk = loop.fullChunk;
        loop.bytesSinceFallback = 0;
    }
    if (static_cast<float>(loop.runLength) >
        kGoodReadsPerSpeedToRestoreFill * (fillFactor() - 1.0f)) {
        loop.fillSpan = 1.0f;
    }
    if (loop.attempts > 0) ++loop.recoveries;
    loop.attempts = 0;
    clearMarks();
    return true;
}

bool CopyEngine::Impl::afterFailedRead(Loop& loop)
{
    const auto at = static_cast<std::int64_t>(shared.position.load());
    const std::size_t failed = loop.current;
    file.failedMarks[failed] = true;
    for (std::size_t i = 0; i < file.sources.size(); ++i) {
        if (file.failedMarks[i]) continue;
        loop.current = i;
        file.sources[i]->seek(at, Whence::Begin);
        return true;
    }
    if (loop.mayAsk) {
        if (SourceReader* copy = askForOneMoreCopy()) {
            loop.current = file.sources.size() - 1;
            copy->seek(at, Whence::Begin);
            return true;
        }
        loop.mayAsk = false;
    }
    loop.current = failed;
    loop.runLength = 0;
    loop.bytesSinceFallback = 0;
    const std::uint32_t sector = shared.sectorSize.load();
    // A sector is filled only when every source has failed there in this round:
    // the failures of a whole chunk say nothing about its first sector.
    clearMarks();
    if (loop.chunk != sector) {
        loop.chunk = sector;  // read the same place again, one sector at a time
        return true;
    }
    if (!setting(&EngineSettings::autoRereads))
        loop.attemptLimit = setting(&EngineSettings::rereadCount);
    ++loop.attempts;
    if (loop.attempts < loop.attemptLimit) return true;
    return fillHere(loop);
}

bool CopyEngine::Impl::fillHere(Loop& loop)
{
    const std::uint64_t at = shared.position.load();
    const std::uint32_t sector = shared.sectorSize.load();
    loop.fillSpan = std::min(loop.fillSpan, static_cast<float>(loop.sectorsPerChunk));
    // At most a chunk: the fill is written from the chunk's buffer.
    const auto length = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        static_cast<std::uint32_t>(loop.fillSpan) * sector, shared.fileSize.load() - at));
    const BadRegion region{at + shared.destinationBase.load(), length};
    if (!recordAndWriteFill(loop, region)) return false;
    longMeter.add(length);
    shortMeter.add(length);
    {
        std::lock_guard lock(shared.regionsMutex);
        shared.regions.push_back(region);
    }
    shared.position.fetch_add(length);
    shared.filledBytes.fetch_add(length);
    file.sources[loop.current]->seek(std::int64_t{length}, Whence::Current);

    const float factor = fillFactor();
    loop.fillSpan *= factor;
    loop.attempts = 0;
    ++loop.fills;
    clearMarks();
    if (loop.fills > kFillsBeforeJudgingRereads && loop.attemptLimit > 1 &&
        setting(&EngineSettings::autoRereads)) {
        // Re-reads that seldom succeed only cost time: one attempt from now on.
        if (loop.recoveries == 0 ||
            (1.0f - (factor - 1.0f)) * kFillsPerRecoveryLimit <
                static_cast<float>(loop.fills / loop.recoveries)) {
            loop.attemptLimit = 1;
        }
    }
    return true;
}

// The record goes to the log before the fill goes to the copy: a run killed between
// the two leaves a log that lists a region the copy lacks (Get and Put move it all
// the same), never a fill that its log does not list. A record that cannot be
// written ends the file before its fill is written (LogWriteFailed); a fill that
// cannot be written takes its record back (WriteFailed), as the end record follows
// at this very place.
bool CopyEngine::Impl::recordAndWriteFill(Loop& loop, const BadRegion& region)
{
    if (loop.logActive && file.log.appendRecord(region.offset, region.length) == 0) {
        fail(EngineStatus::LogWriteFailed);
        return false;
    }
    if (writeFill(loop, static_cast<std::uint32_t>(region.length))) return true;
    if (loop.logActive) file.log.dropEndRecord();  // the last record: the one just appended
    fail(EngineStatus::WriteFailed);
    return false;
}

bool CopyEngine::Impl::writeFill(Loop& loop, std::uint32_t length)
{
    std::uint8_t* out = loop.chunkBuffer.data();
    switch (file.fillType) {
        case FillType::Zeros:
            std::memset(out, 0, length);
            break;
        case FillType::Value:
            std::memset(out, setting(&EngineSettings::fillValue), length);
            break;
        case FillType::String: {
            std::string pattern = setting(&EngineSettings::fillString);
            // An empty pattern has nothing to repeat; it fills with zeros.
            if (pattern.empty()) pattern.assign(1, '\0');
            for (std::uint32_t i = 0; i < length; ++i) {
                out[i] = static_cast<std::uint8_t>(pattern[i % pattern.size()]);
            }
            break;
        }
        case FillType::LastGood:
            for (std::uint32_t i = 0; i < length; ++i)
                out[i] = loop.lastGood[i % loop.lastGood.size()];
            break;
        case FillType::Nothing:
            return true;  // the destination's offset stays; it ends up shorter
        default:
            return false;
    }
    return file.destination.writeWhole(out, length);
}

void CopyEngine::Impl::finishWorker(Loop& loop)
{
    const std::uint64_t at = shared.position.load();
    const std::uint64_t size = shared.fileSize.load();
    // The end record claims every byte before it: the copy is on the medium first.
    const EngineStatus onMedium = loop.logActive ? putCopyOnMedium() : EngineStatus::Ok;
    bool logEnded = !loop.logActive || (onMedium == EngineStatus::Ok &&
                                        file.log.appendRecord(at + shared.destinationBase.load(), 0) != 0);
    shared.progress.store(fraction(at, size));
    const EngineStatus ended = shared.status.load();
    if (at >= size) {
        shared.status.store(EngineStatus::Ok);
    } else if (shared.stopRequest.load() && ended != EngineStatus::WriteFailed &&
               ended != EngineStatus::LogWriteFailed) {
        shared.status.store(EngineStatus::Stopped);
    }
    // A copy that did not reach the medium is neither whole nor merely stopped.
    const EngineStatus now = shared.status.load();
    if (onMedium != EngineStatus::Ok && (now == EngineStatus::Ok || now == EngineStatus::Stopped))
        shared.status.store(onMedium);
    if (at >= size && !shared.stopRequest.load() && onMedium == EngineStatus::Ok && trimFilled(loop))
        logEnded = true;
    closeFile();
    // A log that lists an earlier copy's fills (before an Append's base) is kept, however
    // this file's part went.
    const bool listsFills = [this] {
        std::lock_guard lock(shared.regionsMutex);
        return !shared.regions.empty();
    }();
    if (loop.logActive && setting(&EngineSettings::deleteLogIfNoErrors) && !listsFills &&
        shared.status.load() == EngineStatus::Ok) {
        // The copy went to the medium before the end record, and again before the log of
        // the passes: a whole copy may lose its log. Sync point: the folder, so that the
        // removal and the copy's name stay.
        fs.removeFile(file.logPath);
        fs.syncFolder(parentFolder(file.logPath));
    } else if (!logEnded && onMedium == EngineStatus::Ok) {
        // A log without its end record cannot be continued as it stands: the copy is
        // not reported whole, and the next run takes over the regions it lists.
        shared.status.store(EngineStatus::LogWriteFailed);
    }
    loop.chunkBuffer = {};
    loop.lastGood = {};
    setState(shared.busy, false);
    shared.stopRequest.store(false);
}

// Sync point of the claims about the copy's bytes at the end of a file with its log
// (the end record, then a log that lists fewer regions or a removed log): the log's
// records, and its name, reach the medium before the copy does, so that no fill is ever
// on the medium unlisted; then the copy. Ok, or the status of the sync that failed.
EngineStatus CopyEngine::Impl::putCopyOnMedium()
{
    bool listsRegions = false;
    {
        std::lock_guard lock(shared.regionsMutex);
        listsRegions = !shared.regions.empty();
    }
    if (listsRegions && (!file.logFile.sync() || !fs.syncFolder(parentFolder(file.logPath)))) {
        return EngineStatus::LogWriteFailed;
    }
    return file.destination.sync() ? EngineStatus::Ok : EngineStatus::WriteFailed;
}

// Runs the trim pass over the filled regions of a file whose main pass has covered
// it, after the log's end record, then the retry passes over what is left; the log is
// then replaced whole by one that lists what is still filled. True when it wrote such
// a log; when that log cannot be written the old one stays, and so do the regions and
// figures of the run, which are what it lists (LogUpdateFailed).
bool CopyEngine::Impl::trimFilled(const Loop& loop)
{
    // A copy left alone under Skip is not this run's to change.
    if (!setting(&EngineSettings::trimPass) || file.fillType == FillType::Nothing ||
        shared.skipping.load()) {
        return false;
    }
    const std::vector<BadRegion> before = [this] {
        std::lock_guard lock(shared.regionsMutex);
        return shared.regions;
    }();
    const std::uint64_t base = shared.destinationBase.load();
    const std::uint64_t size = shared.fileSize.load();
    // A destination of another length holds its data where the regions do not say
    // (an earlier run filled with Nothing): its fills are left alone.
    if (before.empty() || file.destination.size() != static_cast<std::int64_t>(base + size))
        return false;
    // The passes' reads keep the speed shown while they run.
    const PassCopy copy{file.sources, &file.destination, shared.sectorSize.load(), base,
                        [this](std::uint32_t bytes) {
                            longMeter.add(bytes);
                            shortMeter.add(bytes);
                        }};
    TrimResult result = TrimPass(copy, shared.stopRequest)
                            .run(RegionMap(before),
                                 [this](std::size_t left) { shared.trimming.store(left); });
    const std::uint32_t passes = setting(&EngineSettings::retryPasses);
    if (result.end == TrimEnd::Done && passes > 0) {
        shared.retryPasses.store(passes);
        result = RetryPass(copy, shared.stopRequest)
                     .run(result.regions, passes, [this](std::uint32_t pass, std::size_t left) {
                         shared.trimming.store(left);
                         shared.retryPass.store(pass);
                     });
    }
    if (result.end == TrimEnd::NotReady) fail(EngineStatus::NotReady);
    if (result.end == TrimEnd::WriteFailed) fail(EngineStatus::WriteFailed);
    // Merging alone changes the list too: the file then keeps one region per stretch.
    // What is left of the regions always fits the records they came from.
    std::optional<std::vector<BadRegion>> after = result.regions.toRecords(
        loop.logActive ? file.log.form() : logFormFor(result.regions));
    if (!after || *after == before) return false;
    if (loop.logActive) {
        // Sync point: the sectors the passes read back are on the medium before a log that
        // no longer lists them replaces the old one. When either fails the old log stays
        // the truth, and the run reports what it lists.
        const EngineStatus why = !file.destination.sync() ? EngineStatus::WriteFailed
                                 : !replaceLog(fs, file.logPath, result.regions, size + base)
                                     ? EngineStatus::LogUpdateFailed
                                     : EngineStatus::Ok;
        if (why != EngineStatus::Ok) {
            if (shared.status.load() == EngineStatus::Ok) fail(why);
            return false;
        }
    }
    {
        std::lock_guard lock(shared.regionsMutex);
        shared.regions = std::move(*after);
        shared.regionsGeneration.fetch_add(1);
    }
    shared.filledBytes.store(static_cast<std::int64_t>(result.regions.bytesIn(base, size + base)));
    return loop.logActive;
}

SourceReader* CopyEngine::Impl::askForOneMoreCopy()
{
    const QueryKind kind = setting(&EngineSettings::reservedPlacement) == ReservedPlacement::Ask
                               ? QueryKind::AskReserved
                               : QueryKind::AddReserved;
    // What was wrong with the last answer; the status shows it while the next
    // question is asked.
    EngineStatus complaint = EngineStatus::Ok;
    const auto complain = [&](EngineStatus code) {
        complaint = code;
        fail(code);
    };
    // A stop request ends the questions, so answers that never lead to a copy
    // cannot hold the worker for ever.
    std::string path;  // the last answer, handed back with the next question
    while (!shared.stopRequest.load()) {
        const std::optional<bool> answer = ask(kind, &path);
        if (!answer || !*answer) return nullptr;
        const bool inUse = std::any_of(file.sources.begin(), file.sources.end(),
                                       [&](const SourceReader* s) { return s->path() == path; });
        if (inUse) {
            complain(EngineStatus::CopyAlreadyUsed);
            continue;
        }
        if (complaint == EngineStatus::CopyAlreadyUsed) complain(EngineStatus::Ok);
        auto reader = std::make_unique<SourceReader>(fs);
        if (!reader->open(path)) {
            complain(EngineStatus::CopyOpenFailed);
            continue;
        }
        if (isDestination(*reader)) {
            complain(EngineStatus::CopyAlreadyUsed);  // open as the copy being written
            continue;
        }
        if (complaint == EngineStatus::CopyOpenFailed) complain(EngineStatus::Ok);
        SourceReader* copy = reader.get();
        file.sources.push_back(copy);
        file.failedMarks.push_back(false);
        file.reserved.push_back(std::move(reader));
        return copy;
    }
    return nullptr;
}

// ---------------------------------------------------------------- CopyEngine

CopyEngine::CopyEngine(FileSystem& fs, const TickSource& ticks)
    : m(std::make_unique<Impl>(fs, ticks))
{
}

CopyEngine::~CopyEngine()
{
    requestStop(true);
    if (m->worker.joinable()) m->worker.join();
}

void CopyEngine::setSettings(const EngineSettings& wanted)
{
    std::lock_guard lock(m->settings.mutex);
    m->settings.values = normalisedSettings(wanted, m->settings.values);
}

EngineSettings CopyEngine::settings() const
{
    std::lock_guard lock(m->settings.mutex);
    return m->settings.values;
}

void CopyEngine::setQueryCallback(QueryCallback callback)
{
    std::lock_guard lock(m->settings.mutex);
    m->settings.callback = std::move(callback);
}

void CopyEngine::setThreadStarter(ThreadStarter starter)
{
    std::lock_guard lock(m->settings.mutex);
    m->settings.starter = std::move(starter);
}

bool CopyEngine::continueFile(const std::string& sourcePath, const std::string& outputFolder,
                              const std::string& baseFolder)
{
    if (m->shared.busy.load()) return false;
    m->file.continuing = true;
    const bool started = startFile(sourcePath, outputFolder, baseFolder);
    m->file.continuing = false;
    return started;
}

bool CopyEngine::startFile(const std::string& sourcePath, const std::string& outputFolder,
                           const std::string& baseFolder)
{
    if (m->shared.busy.load()) return false;
    // The previous worker has cleared busy; let it finish its last instructions.
    if (m->worker.joinable()) m->worker.join();
    m->fail(EngineStatus::Ok);
    m->shared.filledBytes.store(0);
    m->shared.progress.store(0.0f);
    m->shared.position.store(0);
    m->setBase(0);
    {
        std::lock_guard lock(m->shared.regionsMutex);
        m->shared.regions.clear();
    }
    m->file.unfinishedRegions.clear();
    m->file.unfinishedBase.reset();
    m->file.annotations.clear();
    m->file.loggedAnnotations.clear();
    {
        std::lock_guard lock(m->shared.pathMutex);
        m->shared.destinationPath.clear();
    }
    m->shared.skipping = false;
    m->shared.withoutLog = false;
    m->shared.triesAgain = false;
    m->shared.retryPasses = 0;
    m->file.replacing = false;
    m->file.appending = false;
    m->file.logCreated = false;
    m->file.droppedEnd.reset();

    if (m->prepareAndStart(sourcePath, outputFolder, baseFolder)) return true;
    // Nothing a refused start opened stays open: the medium can be taken out, and
    // another run can take the copy and its log.
    m->closeFile();
    return false;
}

void CopyEngine::requestStop(bool wait)
{
    m->shared.stopRequest.store(true);
    if (!wait) return;
    std::unique_lock lock(m->shared.stateMutex);
    m->shared.stateChanged.wait(lock, [this] { return !m->shared.busy.load(); });
}

void CopyEngine::withdrawStop()
{
    if (!m->shared.busy.load()) m->shared.stopRequest.store(false);
}

bool CopyEngine::waitUntilIdle(std::uint32_t timeoutMs) const
{
    std::unique_lock lock(m->shared.stateMutex);
    return m->shared.stateChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                           [this] { return !m->shared.busy.load(); });
}

float CopyEngine::progress() const
{
    return m->shared.progress.load();
}
bool CopyEngine::busy() const
{
    return m->shared.busy.load();
}
EngineStatus CopyEngine::status() const
{
    return m->shared.status.load();
}
std::int64_t CopyEngine::filledBytes() const
{
    return m->shared.filledBytes.load();
}
std::uint64_t CopyEngine::position() const
{
    return m->shared.position.load();
}

std::uint64_t CopyEngine::destinationPosition() const
{
    return m->shared.position.load() + m->shared.destinationBase.load();
}

std::uint64_t CopyEngine::destinationEnd() const
{
    return m->shared.fileSize.load() + m->shared.destinationBase.load();
}

std::uint32_t CopyEngine::sectorSize() const
{
    return m->shared.sectorSize.load();
}
DriveType CopyEngine::driveType() const
{
    return m->shared.driveType.load();
}

std::vector<BadRegion> CopyEngine::badRegions() const
{
    std::lock_guard lock(m->shared.regionsMutex);
    return m->shared.regions;
}

std::size_t CopyEngine::badRegionCount() const
{
    std::lock_guard lock(m->shared.regionsMutex);
    return m->shared.regions.size();
}

std::vector<BadRegion> CopyEngine::badRegionsFrom(std::size_t first) const
{
    std::lock_guard lock(m->shared.regionsMutex);
    if (first >= m->shared.regions.size()) return {};
    return {m->shared.regions.begin() + static_cast<std::ptrdiff_t>(first), m->shared.regions.end()};
}

std::uint32_t CopyEngine::badRegionsGeneration() const
{
    return m->shared.regionsGeneration.load();
}

std::size_t CopyEngine::trimmingRegions() const
{
    return m->shared.trimming.load();
}

std::uint32_t CopyEngine::retryPass() const
{
    return m->shared.retryPass.load();
}

std::uint32_t CopyEngine::retryPassCount() const
{
    return m->shared.retryPasses.load();
}

bool CopyEngine::triesAgain() const
{
    return m->shared.triesAgain.load();
}

std::uint32_t CopyEngine::longRate() const
{
    return std::max<std::uint32_t>(m->longMeter.rate(), 1);
}
std::uint32_t CopyEngine::shortRate() const
{
    return std::max<std::uint32_t>(m->shortMeter.rate(), 1);
}

std::uint32_t CopyEngine::readWaitMs() const
{
    Impl::Shared& shared = m->shared;
    const std::uint32_t read = shared.readsBegun.load();
    if (!shared.reading.load()) return 0;
    const std::uint32_t now = m->tickSource.now();
    std::lock_guard lock(shared.readWatchMutex);
    // A read not seen before is timed from now: callers poll far more often than
    // the seconds this is meant to show.
    if (read != shared.watchedRead) {
        shared.watchedRead = read;
        shared.watchedSince = now;
        return 0;
    }
    return now - shared.watchedSince;
}

EngineSnapshot CopyEngine::snapshot() const
{
    const Impl::Shared& shared = m->shared;
    EngineSnapshot now;
    now.busy = shared.busy.load();
    now.status = shared.status.load();
    now.fileSize = shared.fileSize.load();
    now.position = shared.position.load();
    now.destinationBase = shared.destinationBase.load();
    now.filledBytes = shared.filledBytes.load();
    now.passRegions = now.busy ? shared.trimming.load() : 0;
    now.retryPass = shared.retryPass.load();
    now.retryPasses = shared.retryPasses.load();
    now.triesAgain = shared.triesAgain.load();
    now.shortRate = shortRate();
    now.longRate = longRate();
    now.readWaitMs = readWaitMs();
    return now;
}

bool CopyEngine::skippedExisting() const
{
    return m->shared.skipping.load();
}

bool CopyEngine::copiedWithoutLog() const
{
    return m->shared.withoutLog.load();
}

SysError CopyEngine::sourceOpenError() const
{
    if (m->shared.busy.load()) return 0;
    return m->file.mainSource.lastError();
}

std::string CopyEngine::destinationPath() const
{
    std::lock_guard lock(m->shared.pathMutex);
    return m->shared.destinationPath;
}

}  // namespace tessaly
