#include "engine/copy_engine.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <system_error>

#include "engine/destination.h"
#include "engine/rate_meter.h"
#include "engine/source_reader.h"

namespace tessaly {
namespace {

constexpr std::uint32_t kLongWindowMs = 120000;
constexpr std::uint32_t kShortWindowMs = 5000;
// More good bytes than this in a row bring the full chunk back after a fallback.
constexpr std::uint32_t kChunkRestoreBytes = 1048576;
// Bytes beyond the remaining source that the output volume must have free.
constexpr std::uint64_t kFreeSpaceMargin = 1024;
constexpr std::uint64_t kMaxSourceSize = std::uint64_t{1} << 32;

// The output folder as the first part of a destination path: always ends in a separator.
std::string outputPrefix(const std::string& folder)
{
    return folder.empty() ? std::string(1, kPathSeparator) : withSeparator(folder);
}

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

float fraction(std::uint64_t part, std::uint64_t whole)
{
    return whole == 0 ? 1.0f : static_cast<float>(part) / static_cast<float>(whole);
}

}  // namespace

struct CopyEngine::Impl
{
    Impl(FileSystem& fileSystem, const TickSource& ticks)
        : fs(fileSystem),
          mainSource(fileSystem),
          destination(fileSystem),
          logFile(fileSystem),
          longMeter(ticks),
          shortMeter(ticks)
    {
    }

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
    bool openDestination();
    bool prepareExisting();
    bool prepareWithLog(ExistingPolicy policy);
    bool prepareWithoutLog(ExistingPolicy policy);
    bool checkFreeSpace();
    bool createNewLog();
    void openReservedCopies();
    void releaseReservedCopies();
    bool startWorker();
    bool refuseAfterPreparing();
    // The callback's answer, or nullopt when no callback is set.
    std::optional<std::int32_t> ask(std::int32_t kind, char* buffer);
    void fail(EngineStatus code) { status.store(static_cast<std::int32_t>(code)); }
    // The destination base, kept whole as well: a destination of 4 GiB or more
    // must be refused, not appended to at an offset cut to 32 bits.
    void setBase(std::int64_t base)
    {
        wideBase = static_cast<std::uint64_t>(std::max<std::int64_t>(base, 0));
        destinationBase.store(static_cast<std::uint32_t>(wideBase));
    }

    // worker parts
    void runWorker();
    void setUpWorker(Loop& loop);
    bool afterGoodRead(Loop& loop, std::uint32_t n);
    bool afterFailedRead(Loop& loop);
    bool fillHere(Loop& loop);
    bool writeFill(Loop& loop, std::uint32_t length);
    void finishWorker(Loop& loop);
    SourceReader* askForOneMoreCopy();
    void clearMarks() { std::fill(failedMarks.begin(), failedMarks.end(), false); }
    // The destination read as a copy of its own source would hand back what it
    // holds (earlier fills too, under Append) as data read from the source.
    bool isDestination(const SourceReader& reader) const
    {
        File* file = destination.file();
        if (file == nullptr) return false;
        const std::optional<FileIdentity> target = file->identity();
        return target && target == reader.identity();
    }

    FileSystem& fs;

    // Settings: the worker reads them while the settings pages may change them.
    std::atomic<bool> autoRereads{true};
    std::atomic<std::uint32_t> rereadCount{1};
    std::atomic<std::int32_t> fillType{0};
    std::atomic<std::uint8_t> fillValue{0};
    std::atomic<float> fillFactor{1.0f};
    std::atomic<std::int32_t> placement{1};
    std::atomic<bool> createLog{true};
    std::atomic<bool> deleteLogIfNoErrors{true};
    std::atomic<std::int32_t> policy{2};
    mutable std::mutex settingsMutex;  // guards the strings, the callback and the starter
    std::string fillString;
    std::string reservedFolder;
    QueryCallback callback;
    void* context = nullptr;
    ThreadStarter starter = defaultThreadStarter;

    // State of the current file, polled by other threads.
    std::atomic<bool> busy{false};
    std::atomic<bool> stopRequest{false};
    std::atomic<bool> started{false};
    std::atomic<std::int32_t> status{0};
    std::atomic<float> progress{0.0f};
    std::atomic<std::uint32_t> fileSize{0};
    std::atomic<std::uint32_t> position{0};
    std::atomic<std::uint32_t> destinationBase{0};
    std::atomic<std::int32_t> filledBytes{0};
    std::atomic<std::uint32_t> sectorSize{0};
    std::atomic<std::int32_t> driveType{0};
    mutable std::mutex regionsMutex;  // held for each append and each read-out
    std::vector<BadRegion> regions;
    mutable std::mutex pathMutex;
    std::string destinationPath;

    // Owned by startFile until the worker starts, then by the worker until it ends.
    std::string sourcePath;
    std::string fileName;
    std::string relativeFolder;
    std::string outputFolderPath;
    std::string logPath;
    bool destinationExisted = false;
    // The end record taken from a continued log, until the worker runs.
    std::optional<std::uint32_t> droppedEnd;
    std::uint64_t wideBase = 0;
    std::atomic<bool> skipping{false};  // an existing destination is left under Skip
    bool replacing = false;
    // Regions of a log whose run never ended (no end record). The log cannot be
    // continued, but its regions still describe fills in the destination, so a
    // copy that goes on without it writes them into its new log.
    std::vector<BadRegion> unfinishedRegions;
    SourceReader mainSource;
    std::vector<std::unique_ptr<SourceReader>> reserved;
    std::vector<SourceReader*> sources;  // the main source first
    std::vector<bool> failedMarks;       // one per source
    PlainFile destination;
    PlainFile logFile;
    CopyLog log;
    RateMeter longMeter;
    RateMeter shortMeter;
    std::thread worker;
};

// ---------------------------------------------------------------- startFile

bool CopyEngine::Impl::prepareSource(const std::string& path, const std::string& baseFolder,
                                     const std::string& outputFolder)
{
    if (!mainSource.open(path)) {
        fail(EngineStatus::SourceOpenFailed);
        return false;
    }
    // Offsets in the log and in the loop are 32-bit; a larger file would be copied
    // truncated, so it is refused.
    if (mainSource.fileSize64() >= kMaxSourceSize) {
        mainSource.close();
        fail(EngineStatus::SourceTooLarge);
        return false;
    }
    sourcePath = path;
    const std::string target = tessaly::destinationPath(path, outputFolder, baseFolder);
    const std::size_t slash = target.find_last_of(kPathSeparator);
    fileName = target.substr(slash + 1);
    relativeFolder = tessaly::relativeFolder(path, baseFolder);
    if (!baseFolder.empty()) {
        for (std::size_t i = 1; i <= slash; ++i) {
            if (target[i] == kPathSeparator) fs.createDirectory(target.substr(0, i));
        }
    }
    outputFolderPath = outputFolder;
    std::lock_guard lock(pathMutex);
    destinationPath = target;
    return true;
}

bool CopyEngine::Impl::openDestination()
{
    std::string path;
    {
        std::lock_guard lock(pathMutex);
        path = destinationPath;
    }
    // A destination that is the source itself would be overwritten by its own copy.
    const std::optional<FileIdentity> target = fs.identity(path);
    if (target && target == mainSource.identity()) {
        fail(EngineStatus::DestinationOpenFailed);
        return false;
    }
    destinationExisted = false;
    if (!destination.create(path, Disposition::CreateNew, Access::Write)) {
        destinationExisted = true;
        if (!destination.openExisting(path, Access::Write)) {
            fail(fs.exists(path) ? EngineStatus::DestinationOpenFailed
                                 : EngineStatus::DestinationCreateFailed);
            return false;
        }
    }
    logPath = path + ".log";
    log.unbind();
    logFile.close();
    return true;
}

std::optional<std::int32_t> CopyEngine::Impl::ask(std::int32_t kind, char* buffer)
{
    QueryCallback function;
    void* userContext = nullptr;
    {
        std::lock_guard lock(settingsMutex);
        function = callback;
        userContext = context;
    }
    if (!function) return std::nullopt;
    EngineQuery query;
    query.kind = kind;
    query.buffer = buffer;
    query.bufferSize = buffer ? kQueryBufferSize : 0;
    return function(query, userContext);
}

bool CopyEngine::Impl::prepareExisting()
{
    if (!fs.exists(logPath)) {
        fail(EngineStatus::LogMissing);
    } else if (!logFile.openExisting(logPath, Access::ReadWrite)) {
        fail(EngineStatus::LogOpenFailed);
    }
    const auto chosen = static_cast<ExistingPolicy>(policy.load());
    if (chosen != ExistingPolicy::Skip && ask(3, nullptr) == std::optional<std::int32_t>(0)) {
        fail(EngineStatus::ExistingRefused);
        return false;
    }
    switch (chosen) {
        case ExistingPolicy::Replace:
            destination.truncateAt(0);
            replacing = true;
            return true;
        case ExistingPolicy::Skip:
            skipping = true;
            mainSource.seek(0, Whence::End);
            return true;
        case ExistingPolicy::Append:
        case ExistingPolicy::Resume: {
            const auto code = static_cast<EngineStatus>(status.load());
            const bool hasLog =
                code != EngineStatus::LogMissing && code != EngineStatus::LogOpenFailed;
            if (hasLog && prepareWithLog(chosen)) return true;
            return prepareWithoutLog(chosen);
        }
    }
    // An unknown policy touches nothing: the destination is left as it is.
    skipping = true;
    mainSource.seek(0, Whence::End);
    return true;
}

// Continues from the log's end record; false when the log is unusable.
bool CopyEngine::Impl::prepareWithLog(ExistingPolicy chosen)
{
    log.bind(&logFile);
    const std::int64_t end = log.readHeader() < 0 ? -1 : log.readEndPosition();
    if (end >= 0) {
        if (chosen == ExistingPolicy::Resume) mainSource.seek(end, Whence::Begin);
        const std::int64_t destinationEnd = destination.seek(0, Whence::End);
        if (chosen == ExistingPolicy::Append) setBase(destinationEnd);
        log.dropEndRecord();
        droppedEnd = static_cast<std::uint32_t>(end);
        std::vector<BadRegion> earlier;
        const std::int64_t sum = readFilledRegions(log, earlier);
        if (sum >= 0) {
            {
                std::lock_guard lock(regionsMutex);
                regions = std::move(earlier);
            }
            filledBytes.store(static_cast<std::int32_t>(sum));
            progress.store(fraction(static_cast<std::uint64_t>(end), mainSource.fileSize()));
            return true;
        }
    }
    droppedEnd.reset();
    unfinishedRegions.clear();
    if (end < 0 && log.readHeader() >= 0) {
        std::vector<BadRegion> found;
        if (readFilledRegions(log, found) >= 0) unfinishedRegions = std::move(found);
    }
    log.unbind();
    setBase(0);
    return false;
}

bool CopyEngine::Impl::prepareWithoutLog(ExistingPolicy chosen)
{
    if (ask(2, nullptr) == std::optional<std::int32_t>(0)) {
        fail(EngineStatus::NoLogRefused);
        return false;
    }
    const std::int64_t end = std::max<std::int64_t>(destination.seek(0, Whence::End), 0);
    if (!unfinishedRegions.empty()) {
        std::int64_t sum = 0;
        for (const BadRegion& r : unfinishedRegions) sum += r.length;
        std::lock_guard lock(regionsMutex);
        regions = unfinishedRegions;
        filledBytes.store(static_cast<std::int32_t>(sum));
    }
    if (chosen == ExistingPolicy::Resume) mainSource.seek(end, Whence::Begin);
    if (chosen == ExistingPolicy::Append) setBase(end);
    progress.store(fraction(static_cast<std::uint64_t>(end),
                            std::uint64_t{mainSource.fileSize()} + destinationBase.load()));
    return true;
}

bool CopyEngine::Impl::checkFreeSpace()
{
    // Appending behind a destination must not carry offsets past 32 bits either.
    if (wideBase + mainSource.fileSize() >= kMaxSourceSize) {
        fail(EngineStatus::SourceTooLarge);
        return false;
    }
    const std::optional<std::uint64_t> free = fs.freeSpace(outputPrefix(outputFolderPath));
    if (!free) {
        fail(EngineStatus::FreeSpaceUnknown);
        return false;
    }
    const std::int64_t offset = std::max<std::int64_t>(mainSource.currentOffset(), 0);
    const std::int64_t remaining =
        std::max<std::int64_t>(std::int64_t{mainSource.fileSize()} - offset, 0);
    if (*free < static_cast<std::uint64_t>(remaining) + kFreeSpaceMargin) {
        fail(EngineStatus::DiskFull);
        return false;
    }
    return true;
}

bool CopyEngine::Impl::createNewLog()
{
    if (!log.isBound() && !createLog.load() && replacing && logFile.file() != nullptr) {
        // The old log describes the copy that Replace has just emptied; left beside
        // the new copy it would send a later Resume to its old end record. A file
        // there that is no log is left alone.
        CopyLog old;
        old.bind(&logFile);
        const bool isLog = old.readHeader() >= 0;
        logFile.close();
        if (isLog) fs.removeFile(logPath);
    }
    if (log.isBound() || !createLog.load() || skipping) return true;
    if (!logFile.create(logPath, Disposition::CreateAlways, Access::Write)) {
        fail(fs.exists(logPath) ? EngineStatus::LogOpenFailed : EngineStatus::LogCreateFailed);
        return false;
    }
    log.bind(&logFile);
    // A header that cannot be written makes the log unusable for the next run,
    // which then asks before going on without it.
    if (log.writeHeader(fileName, fillType.load())) {
        for (const BadRegion& r : unfinishedRegions) log.appendRecord(r.offset, r.length);
    }
    return true;
}

void CopyEngine::Impl::releaseReservedCopies()
{
    reserved.clear();
    sources.clear();
    failedMarks.clear();
}

void CopyEngine::Impl::openReservedCopies()
{
    releaseReservedCopies();
    sources.push_back(&mainSource);
    std::string folder;
    {
        std::lock_guard lock(settingsMutex);
        folder = reservedFolder;
    }
    const auto where = static_cast<ReservedPlacement>(placement.load());
    if (where == ReservedPlacement::InFolder) {
        auto reader = std::make_unique<SourceReader>(fs);
        if (reader->open(folder + relativeFolder + fileName) && !isDestination(*reader)) {
            sources.push_back(reader.get());
            reserved.push_back(std::move(reader));
        }
    } else if (where == ReservedPlacement::BesideSource) {
        // Numbered from 1; the first missing number ends the search.
        for (int k = 1;; ++k) {
            auto reader = std::make_unique<SourceReader>(fs);
            if (!reader->open(sourcePath + ".cp" + std::to_string(k))) break;
            if (isDestination(*reader)) continue;
            sources.push_back(reader.get());
            reserved.push_back(std::move(reader));
        }
    }
    failedMarks.assign(sources.size(), false);
}

bool CopyEngine::Impl::startWorker()
{
    if (worker.joinable()) worker.join();
    ThreadStarter start;
    {
        std::lock_guard lock(settingsMutex);
        start = starter;
    }
    busy.store(true);
    driveType.store(static_cast<std::int32_t>(mainSource.driveType()));
    started.store(false);
    if (!start || !start(worker, [this] { runWorker(); })) {
        busy.store(false);
        releaseReservedCopies();
        fail(EngineStatus::WorkerStartFailed);
        return false;
    }
    // The worker sets started once its state is in place; a worker that ended
    // without setting it would have cleared busy.
    while (!started.load() && busy.load()) sleepMs(1);
    return true;
}

// A start refused after a log was taken up for continuing gives that log its end
// record back, so that the same copy can be continued once the reason is gone.
bool CopyEngine::Impl::refuseAfterPreparing()
{
    if (droppedEnd && log.isBound()) log.appendRecord(*droppedEnd, 0);
    droppedEnd.reset();
    return false;
}

// ---------------------------------------------------------------- worker

void CopyEngine::Impl::setUpWorker(Loop& loop)
{
    loop.logActive = log.isBound();
    const std::uint32_t sector = mainSource.bytesPerSector();
    sectorSize.store(sector);
    status.store(static_cast<std::int32_t>(EngineStatus::Ok));
    loop.sectorsPerChunk = std::max<std::uint32_t>(mainSource.sectorsPerChunk(), 1);
    loop.fullChunk = loop.sectorsPerChunk * sector;
    loop.chunk = loop.fullChunk;
    loop.chunkBuffer.assign(loop.fullChunk, 0);
    loop.lastGood.assign(sector, 0);
    fileSize.store(mainSource.fileSize());
    // Resume behind a destination of 4 GiB or more leaves nothing to copy; its offset
    // cut to 32 bits would restart the copy in the middle of the source.
    const std::int64_t start = std::max<std::int64_t>(mainSource.currentOffset(), 0);
    position.store(start >= static_cast<std::int64_t>(kMaxSourceSize)
                       ? mainSource.fileSize()
                       : static_cast<std::uint32_t>(start));
    longMeter.start();
    shortMeter.start();
    longMeter.setWindow(kLongWindowMs);
    shortMeter.setWindow(kShortWindowMs);

    const float factor = fillFactor.load();
    if (autoRereads.load()) {
        const bool cd = mainSource.driveType() == DriveType::CdRom;
        loop.attemptLimit = cd && factor <= 1.5f ? 2 : 1;
    } else {
        loop.attemptLimit = rereadCount.load();
    }
    started.store(true);
}

void CopyEngine::Impl::runWorker()
{
    Loop loop;
    setUpWorker(loop);
    const std::uint32_t size = fileSize.load();
    const std::uint32_t sector = sectorSize.load();
    for (;;) {
        const std::uint32_t at = position.load();
        if (at >= size || stopRequest.load()) break;
        progress.store(fraction(at, size));
        if (size - at < loop.chunk) loop.chunk = (size - at + sector - 1) / sector * sector;
        SourceReader& source = *sources[loop.current];
        std::uint32_t n = source.read(loop.chunkBuffer.data(), loop.chunk);
        // The last read asks for whole sectors; a source that grew since it was
        // opened gives more than its size then, and only the size taken is copied.
        n = std::min(n, size - at);
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
    if (!destination.writeWhole(loop.chunkBuffer.data(), n)) {
        fail(EngineStatus::WriteFailed);
        return false;
    }
    longMeter.add(n);
    shortMeter.add(n);
    ++loop.runLength;
    const std::uint32_t sector = sectorSize.load();
    if (n >= sector)
        std::memcpy(loop.lastGood.data(), loop.chunkBuffer.data() + n - sector, sector);
    position.fetch_add(n);
    loop.bytesSinceFallback += n;
    if (loop.bytesSinceFallback > kChunkRestoreBytes) {
        loop.chunk = loop.fullChunk;
        loop.bytesSinceFallback = 0;
    }
    if (static_cast<float>(loop.runLength) > 40.0f * (fillFactor.load() - 1.0f)) {
        loop.fillSpan = 1.0f;
    }
    if (loop.attempts > 0) ++loop.recoveries;
    loop.attempts = 0;
    clearMarks();
    return true;
}

bool CopyEngine::Impl::afterFailedRead(Loop& loop)
{
    const std::uint32_t at = position.load();
    const std::size_t failed = loop.current;
    failedMarks[failed] = true;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (failedMarks[i]) continue;
        loop.current = i;
        sources[i]->seek(at, Whence::Begin);
        return true;
    }
    if (loop.mayAsk) {
        if (SourceReader* copy = askForOneMoreCopy()) {
            loop.current = sources.size() - 1;
            copy->seek(at, Whence::Begin);
            return true;
        }
        loop.mayAsk = false;
    }
    loop.current = failed;
    loop.runLength = 0;
    loop.bytesSinceFallback = 0;
    const std::uint32_t sector = sectorSize.load();
    if (loop.chunk != sector) {
        loop.chunk = sector;  // read the same place again, one sector at a time
        return true;
    }
    if (!autoRereads.load()) loop.attemptLimit = rereadCount.load();
    ++loop.attempts;
    if (loop.attempts < loop.attemptLimit) return true;
    return fillHere(loop);
}

bool CopyEngine::Impl::fillHere(Loop& loop)
{
    const std::uint32_t at = position.load();
    const std::uint32_t sector = sectorSize.load();
    loop.fillSpan = std::min(loop.fillSpan, static_cast<float>(loop.sectorsPerChunk));
    const std::uint32_t length =
        std::min(static_cast<std::uint32_t>(loop.fillSpan) * sector, fileSize.load() - at);
    if (!writeFill(loop, length)) {
        fail(EngineStatus::WriteFailed);
        return false;
    }
    longMeter.add(length);
    shortMeter.add(length);
    const BadRegion region{at + destinationBase.load(), length};
    if (loop.logActive) log.appendRecord(region.offset, region.length);
    {
        std::lock_guard lock(regionsMutex);
        regions.push_back(region);
    }
    position.fetch_add(length);
    filledBytes.fetch_add(static_cast<std::int32_t>(length));
    sources[loop.current]->seek(length, Whence::Current);

    const float factor = fillFactor.load();
    loop.fillSpan *= factor;
    loop.attempts = 0;
    ++loop.fills;
    clearMarks();
    if (loop.fills > 20 && loop.attemptLimit > 1 && autoRereads.load()) {
        // Re-reads that seldom succeed only cost time: one attempt from now on.
        if (loop.recoveries == 0 ||
            (1.0f - (factor - 1.0f)) * 20.0f < static_cast<float>(loop.fills / loop.recoveries)) {
            loop.attemptLimit = 1;
        }
    }
    return true;
}

bool CopyEngine::Impl::writeFill(Loop& loop, std::uint32_t length)
{
    std::uint8_t* out = loop.chunkBuffer.data();
    switch (static_cast<FillType>(fillType.load())) {
        case FillType::Zeros:
            std::memset(out, 0, length);
            break;
        case FillType::Value:
            std::memset(out, fillValue.load(), length);
            break;
        case FillType::String: {
            std::string pattern;
            {
                std::lock_guard lock(settingsMutex);
                pattern = fillString;
            }
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
    return destination.writeWhole(out, length);
}

void CopyEngine::Impl::finishWorker(Loop& loop)
{
    const std::uint32_t at = position.load();
    const std::uint32_t size = fileSize.load();
    if (loop.logActive) log.appendRecord(at + destinationBase.load(), 0);
    progress.store(fraction(at, size));
    if (at >= size) {
        status.store(static_cast<std::int32_t>(EngineStatus::Ok));
    } else if (stopRequest.load() &&
               status.load() != static_cast<std::int32_t>(EngineStatus::WriteFailed)) {
        status.store(static_cast<std::int32_t>(EngineStatus::Stopped));
    }
    mainSource.close();
    destination.close();
    logFile.close();
    if (loop.logActive && deleteLogIfNoErrors.load() && filledBytes.load() == 0 &&
        status.load() == static_cast<std::int32_t>(EngineStatus::Ok)) {
        fs.removeFile(logPath);
    }
    loop.chunkBuffer = {};
    loop.lastGood = {};
    releaseReservedCopies();
    busy.store(false);
    stopRequest.store(false);
}

SourceReader* CopyEngine::Impl::askForOneMoreCopy()
{
    const std::int32_t kind =
        placement.load() == static_cast<std::int32_t>(ReservedPlacement::Ask) ? 1 : 0;
    // A stop request ends the questions, so answers that never lead to a copy
    // cannot hold the worker for ever.
    while (!stopRequest.load()) {
        char buffer[kQueryBufferSize] = {};
        const std::optional<std::int32_t> answer = ask(kind, buffer);
        if (!answer || *answer == 0) return nullptr;
        // The buffer need not hold a terminating zero.
        const std::string path(buffer, strnlen(buffer, sizeof buffer));
        const bool inUse = std::any_of(sources.begin(), sources.end(),
                                       [&](const SourceReader* s) { return s->path() == path; });
        if (inUse) {
            fail(EngineStatus::CopyAlreadyUsed);
            continue;
        }
        if (status.load() == static_cast<std::int32_t>(EngineStatus::CopyAlreadyUsed)) {
            status.store(static_cast<std::int32_t>(EngineStatus::Ok));
        }
        auto reader = std::make_unique<SourceReader>(fs);
        if (!reader->open(path)) {
            fail(EngineStatus::CopyOpenFailed);
            continue;
        }
        if (isDestination(*reader)) {
            fail(EngineStatus::CopyAlreadyUsed);  // open as the copy being written
            continue;
        }
        if (status.load() == static_cast<std::int32_t>(EngineStatus::CopyOpenFailed)) {
            status.store(static_cast<std::int32_t>(EngineStatus::Ok));
        }
        SourceReader* copy = reader.get();
        sources.push_back(copy);
        failedMarks.push_back(false);
        reserved.push_back(std::move(reader));
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

void CopyEngine::setAutoRereads(bool on)
{
    m->autoRereads.store(on);
}
bool CopyEngine::autoRereads() const
{
    return m->autoRereads.load();
}
void CopyEngine::setRereadCount(std::uint32_t count)
{
    m->rereadCount.store(count);
}
std::uint32_t CopyEngine::rereadCount() const
{
    return m->rereadCount.load();
}
void CopyEngine::setFillType(std::int32_t type)
{
    m->fillType.store(type);
}
std::int32_t CopyEngine::fillType() const
{
    return m->fillType.load();
}
void CopyEngine::setFillValue(std::uint8_t value)
{
    m->fillValue.store(value);
}
std::uint8_t CopyEngine::fillValue() const
{
    return m->fillValue.load();
}

void CopyEngine::setFillString(const std::string& pattern)
{
    std::lock_guard lock(m->settingsMutex);
    m->fillString = pattern;
}

std::string CopyEngine::fillString() const
{
    std::lock_guard lock(m->settingsMutex);
    return m->fillString;
}

void CopyEngine::setOptimizeFor(float value)
{
    if (value >= 0.0f && value <= 1.0f) m->fillFactor.store(1.0f + value);
}

float CopyEngine::optimizeFor() const
{
    return m->fillFactor.load() - 1.0f;
}
void CopyEngine::setReservedPlacement(std::int32_t placement)
{
    m->placement.store(placement);
}
std::int32_t CopyEngine::reservedPlacement() const
{
    return m->placement.load();
}

void CopyEngine::setReservedFolder(const std::string& folder)
{
    std::lock_guard lock(m->settingsMutex);
    m->reservedFolder = withSeparator(folder);
}

std::string CopyEngine::reservedFolder() const
{
    std::lock_guard lock(m->settingsMutex);
    return m->reservedFolder;
}

void CopyEngine::setCreateLog(bool on)
{
    m->createLog.store(on);
}
bool CopyEngine::createLog() const
{
    return m->createLog.load();
}
void CopyEngine::setDeleteLogIfNoErrors(bool on)
{
    m->deleteLogIfNoErrors.store(on);
}
bool CopyEngine::deleteLogIfNoErrors() const
{
    return m->deleteLogIfNoErrors.load();
}
void CopyEngine::setExistingPolicy(std::int32_t policy)
{
    m->policy.store(policy);
}
std::int32_t CopyEngine::existingPolicy() const
{
    return m->policy.load();
}

void CopyEngine::setQueryCallback(QueryCallback callback, void* context)
{
    std::lock_guard lock(m->settingsMutex);
    m->callback = std::move(callback);
    m->context = context;
}

void CopyEngine::setThreadStarter(ThreadStarter starter)
{
    std::lock_guard lock(m->settingsMutex);
    m->starter = std::move(starter);
}

bool CopyEngine::startFile(const std::string& sourcePath, const std::string& outputFolder,
                           const std::string& baseFolder)
{
    if (m->busy.load()) return false;
    // The previous worker has cleared busy; let it finish its last instructions.
    if (m->worker.joinable()) m->worker.join();
    m->fail(EngineStatus::Ok);
    m->filledBytes.store(0);
    m->progress.store(0.0f);
    m->setBase(0);
    {
        std::lock_guard lock(m->regionsMutex);
        m->regions.clear();
    }
    m->unfinishedRegions.clear();
    {
        std::lock_guard lock(m->pathMutex);
        m->destinationPath.clear();
    }
    // Whatever a refused start left open is closed now.
    m->log.unbind();
    m->logFile.close();
    m->destination.close();
    m->releaseReservedCopies();
    m->skipping = false;
    m->replacing = false;
    m->droppedEnd.reset();

    if (!m->prepareSource(sourcePath, baseFolder, outputFolder)) return false;
    if (!m->openDestination()) return false;
    if (m->destinationExisted && !m->prepareExisting()) return false;
    if (!m->checkFreeSpace() || !m->createNewLog()) return m->refuseAfterPreparing();
    m->openReservedCopies();
    if (!m->startWorker()) return m->refuseAfterPreparing();
    return true;
}

void CopyEngine::requestStop(bool wait)
{
    m->stopRequest.store(true);
    if (!wait) return;
    while (m->busy.load()) sleepMs(10);
}

float CopyEngine::progress() const
{
    return m->progress.load();
}
bool CopyEngine::busy() const
{
    return m->busy.load();
}
EngineStatus CopyEngine::status() const
{
    return static_cast<EngineStatus>(m->status.load());
}
std::int32_t CopyEngine::filledBytes() const
{
    return m->filledBytes.load();
}
std::uint32_t CopyEngine::position() const
{
    return m->position.load();
}

std::uint32_t CopyEngine::destinationPosition() const
{
    return m->position.load() + m->destinationBase.load();
}

std::uint32_t CopyEngine::destinationEnd() const
{
    return m->fileSize.load() + m->destinationBase.load();
}

std::uint32_t CopyEngine::sectorSize() const
{
    return m->sectorSize.load();
}
DriveType CopyEngine::driveType() const
{
    return static_cast<DriveType>(m->driveType.load());
}

std::vector<BadRegion> CopyEngine::badRegions() const
{
    std::lock_guard lock(m->regionsMutex);
    return m->regions;
}

std::size_t CopyEngine::badRegionCount() const
{
    std::lock_guard lock(m->regionsMutex);
    return m->regions.size();
}

std::vector<BadRegion> CopyEngine::badRegionsFrom(std::size_t first) const
{
    std::lock_guard lock(m->regionsMutex);
    if (first >= m->regions.size()) return {};
    return {m->regions.begin() + static_cast<std::ptrdiff_t>(first), m->regions.end()};
}

std::uint32_t CopyEngine::longRate() const
{
    return std::max<std::uint32_t>(m->longMeter.rate(), 1);
}
std::uint32_t CopyEngine::shortRate() const
{
    return std::max<std::uint32_t>(m->shortMeter.rate(), 1);
}

bool CopyEngine::skippedExisting() const
{
    return m->skipping.load();
}

std::string CopyEngine::destinationPath() const
{
    std::lock_guard lock(m->pathMutex);
    return m->destinationPath;
}

}  // namespace tessaly
