#include "engine/engine_impl.h"

#include <cstring>

namespace tessaly {
namespace {

constexpr std::uint32_t kLongWindowMs = 120000;
constexpr std::uint32_t kShortWindowMs = 5000;
// More good bytes than this in a row bring the full chunk back after a fallback.
constexpr std::uint32_t kChunkRestoreBytes = 1048576;

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

}  // namespace

void CopyEngine::Impl::publishFile()
{
    shared.sectorSize.store(file.mainSource.bytesPerSector());
    clearStatus();
    shared.phased.store(false);
    shared.fileSize.store(file.mainSource.fileSize());
    const std::int64_t start = std::max<std::int64_t>(file.mainSource.currentOffset(), 0);
    shared.position.store(std::min(static_cast<std::uint64_t>(start), file.mainSource.fileSize()));
    longMeter.start();
    shortMeter.start();
    longMeter.setWindow(kLongWindowMs);
    shortMeter.setWindow(kShortWindowMs);
}

void CopyEngine::Impl::setUpWorker(Loop& loop)
{
    loop.logActive = file.log.isBound();
    const std::uint32_t sector = shared.sectorSize.load();
    loop.sectorsPerChunk = std::max<std::uint32_t>(file.mainSource.sectorsPerChunk(), 1);
    loop.fullChunk = loop.sectorsPerChunk * sector;
    loop.chunk = loop.fullChunk;
    loop.chunkBuffer.assign(loop.fullChunk, 0);
    loop.lastGood.assign(sector, 0);
    unitReads.clear();

    const float factor = fillFactor();
    if (setting(&EngineSettings::autoRereads)) {
        const bool cd = file.mainSource.driveType() == DriveType::CdRom;
        loop.attemptLimit = cd && factor <= kCdRereadMaxFactor ? kCdAttempts : 1;
    } else {
        loop.attemptLimit = setting(&EngineSettings::rereadCount);
    }
}

void CopyEngine::Impl::runWorker()
{
    Loop loop;
    setUpWorker(loop);
    if (usePhases(loop))
        runPhases(loop);
    else
        readUpTo(loop, shared.fileSize.load());
    finishWorker(loop);
}

bool CopyEngine::Impl::readUpTo(Loop& loop, std::uint64_t limit)
{
    loop.limit = limit;
    const std::uint32_t sector = shared.sectorSize.load();
    for (;;) {
        const std::uint64_t at = shared.position.load();
        if (at >= limit) return true;
        if (shared.stopRequest.load()) return false;
        if (loop.phased && !checkpointIfDue(loop)) return false;
        if (limit - at < loop.chunk)
            loop.chunk = static_cast<std::uint32_t>((limit - at + sector - 1) / sector * sector);
        SourceReader& source = *file.sources[loop.current];
        shared.readsBegun.fetch_add(1);
        shared.reading.store(true);
        std::uint32_t n = source.read(loop.chunkBuffer.data(), loop.chunk);
        shared.reading.store(false);
        // The last read asks for whole sectors; a source that grew since it was
        // opened gives more than its size then, and only the size taken is copied.
        n = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, limit - at));
        if (n > 0) {
            if (!afterGoodRead(loop, n)) return false;
            continue;
        }
        if (isNotReady(source.lastError())) {
            // A removed medium gets no fill: the copy ends where it is.
            fail(EngineStatus::NotReady);
            return false;
        }
        if (!afterFailedRead(loop)) return false;
    }
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
        static_cast<std::uint32_t>(loop.fillSpan) * sector, loop.limit - at));
    const BadRegion region{at + shared.destinationBase.load(), length};
    if (!recordAndWriteFill(loop, region)) return false;
    // The sector reads here, each after the sector's first failure (its chunk's).
    unitReads[region.offset] = loop.attempts;
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
// the same), never a fill that its log does not list. A fill in an area not tried lies
// where the log lists a region already (easy_pass.cpp). A record that cannot be
// written ends the file before its fill is written (LogWriteFailed); a fill that
// cannot be written takes its record back (WriteFailed), as the end record follows
// at this very place.
bool CopyEngine::Impl::recordAndWriteFill(Loop& loop, const BadRegion& region)
{
    const bool appends = loop.logActive && !loop.phased;
    if (appends && file.log.appendRecord(region.offset, region.length) == 0) {
        fail(EngineStatus::LogWriteFailed);
        return false;
    }
    if (writeFill(loop, static_cast<std::uint32_t>(region.length))) return true;
    if (appends) file.log.dropEndRecord();  // the last record: the one just appended
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
    // An answer that mends what the last one was refused for takes the complaint back.
    const auto withdraw = [&](EngineStatus code) {
        if (complaint != code) return;
        complaint = EngineStatus::Ok;
        clearStatus();
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
        withdraw(EngineStatus::CopyAlreadyUsed);
        auto reader = std::make_unique<SourceReader>(fs);
        if (!reader->open(path)) {
            complain(EngineStatus::CopyOpenFailed);
            continue;
        }
        if (isDestination(*reader)) {
            complain(EngineStatus::CopyAlreadyUsed);  // open as the copy being written
            continue;
        }
        withdraw(EngineStatus::CopyOpenFailed);
        SourceReader* copy = reader.get();
        file.sources.push_back(copy);
        file.failedMarks.push_back(false);
        file.reserved.push_back(std::move(reader));
        return copy;
    }
    return nullptr;
}

}  // namespace tessaly
