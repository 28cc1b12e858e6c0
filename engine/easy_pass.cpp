// The easy data first. Phase 1 reads the file in chunks from its start and never sector
// by sector: at a chunk that fails it marks the chunk and a skip behind it as not tried
// and reads on past them. The skip doubles with each failure in a row; a run of failures
// starts with a skip as long as the bad stretch of the run before it was judged to be
// (from the end of its first failed chunk to half-way between the end of its last and
// the good read that ended it; the bad stretches of a failing disk tend to repeat, and
// each failed read is slow and wears the drive), until a long good stretch makes it start
// small again. Slow reads skip as failures do but are no run's start. Then phase 1 reads
// the areas skipped backwards, each from its end up to the first chunk that fails or that
// failed before: what a skip passed over behind a bad stretch comes without a read of
// the stretch. Phase 2 is the main pass (chunk fallback, sector attempts, fills, reserved
// copies) over the areas not tried, in offset order, sector by sector from the start of
// an area whose first chunk failed; the passes at the end follow as after a main pass in
// order.
//
// The log is written whole at each checkpoint: the fills, then the areas not tried as
// regions, the end record at the copy's end, and a PhasePoint that tells the two apart.
// Every reader takes an area not tried for a region the copy lacks, which it is: the
// copy holds no byte there that the log does not list. A fill in such an area needs no
// record first, and a copy whose phases are done gets the log a main pass in order
// writes: its fills and the end record.
#include "engine/engine_impl.h"

namespace tessaly {
namespace {

// The longest stretch of phase work whose reads a kill may cost.
constexpr std::uint32_t kPhaseCheckpointMs = 30000;
// Phase 1 reads chunks of kEasyChunk at its multiples (a disk's bad stretches start
// and end at such offsets more often than not), or the reader's chunk where the sector
// does not divide it. The first skip past a failed chunk is one such chunk; the longest
// is a thousandth of the file, at most kMaxSkip. A good stretch of kForgetSkip times the
// skip a run would start with makes the next run start at the first skip again.
constexpr std::uint64_t kEasyChunk = 65536;
constexpr std::uint64_t kMaxSkip = std::uint64_t{1} << 30;
constexpr std::uint64_t kForgetSkip = 8;
// A file of no more chunks than this is read in order.
constexpr std::uint64_t kFewChunks = 4;
// A good chunk read that takes kSlowFactor times the usual one, and at least kSlowMs, is
// a slow area's: the pass keeps what it read and skips ahead as after a failure. The
// usual time is judged after kReadsBeforeJudging good reads.
constexpr std::uint32_t kSlowFactor = 10;
constexpr std::uint32_t kSlowMs = 40;
constexpr std::uint32_t kReadsBeforeJudging = 4;

// The usual time of phase 1's good reads, and whether one was a slow area's.
class ReadTimes
{
public:
    // True when a good read that took ms was slow; else it counts towards the usual time.
    bool slow(std::uint32_t ms)
    {
        if (m_timed >= kReadsBeforeJudging && ms >= kSlowMs && ms / kSlowFactor > m_usualMs)
            return true;
        m_usualMs = m_timed == 0 ? ms : (m_usualMs * 7 + ms) / 8;
        ++m_timed;
        return false;
    }

private:
    std::uint32_t m_usualMs = 0;
    std::uint32_t m_timed = 0;
};

std::uint64_t wholeChunks(std::uint64_t bytes, std::uint64_t chunk)
{
    return std::max<std::uint64_t>(bytes / chunk, 1) * chunk;
}

}  // namespace

// Phases need fills written in place that do not depend on what was read last, and a
// log to list the areas not tried (a copy without one would claim them).
bool CopyEngine::Impl::usePhases(const Loop& loop)
{
    if (!loop.logActive || shared.skipping.load()) return false;
    const FillType fill = file.fillType;
    if (fill != FillType::Zeros && fill != FillType::Value && fill != FillType::String) return false;
    if (file.phaseResume) return true;
    const std::uint64_t size = shared.fileSize.load();
    const std::uint64_t start = shared.position.load();
    return setting(&EngineSettings::easyFirst) && start < size &&
           size > kFewChunks * loop.fullChunk && size > setting(&EngineSettings::easyFirstAbove) &&
           file.destination.size() <= static_cast<std::int64_t>(fileEnd());
}

void CopyEngine::Impl::runPhases(Loop& loop)
{
    const std::uint64_t size = shared.fileSize.load();
    loop.phased = true;
    if (const std::optional<PhasePoint> from = file.phaseResume) {
        // Nothing past the source's end is read (a log may reach further).
        const std::uint64_t boundary = std::min(from->boundary - file.base, size);
        const std::uint64_t cursor = std::min(from->cursor - file.base, size);
        // A run with the setting off goes on with the main pass.
        const bool easy = from->phase == 1 && setting(&EngineSettings::easyFirst);
        RegionMap areas = file.notTried.overlap(boundary, easy ? cursor : size);
        // The main pass after phase 1 takes all from its cursor on too, once.
        if (from->phase == 1 && !easy && cursor < size) areas.add(cursor, size - cursor);
        loop.pending.assign(areas.begin(), areas.end());
        for (const Region& r : loop.pending) loop.pendingBytes += r.length;
        loop.phase = easy ? 1 : 2;
        loop.cursor = easy ? cursor : size;
    } else {
        // The annotations the log has now: those of a new log, or those a continued one kept.
        file.annotations = file.log.readAnnotations().value_or(freshAnnotations());
        loop.phase = 1;
        loop.cursor = shared.position.load();
    }
    // The first log claims no byte that the log before it did not: the copy need not
    // reach the medium first. It lists the areas not tried before the copy grows to its
    // end (so that the end record fits it) and any byte of them is written.
    shared.phase.store(loop.phase);
    const std::uint64_t ahead = loop.phase == 1 ? size - loop.cursor : 0;
    publishNotTried(loop, loop.pendingBytes + ahead, 0, Publish::All);
    shared.phased.store(true);
    if (!writePhaseLog(loop, false, false)) return;
    if (!file.phaseResume && !file.destination.truncateAt(fileEnd())) {
        fail(EngineStatus::WriteFailed);
        return;
    }
    if (loop.phase == 1 && !easyPass(loop)) return;
    loop.phase = 2;
    shared.phase.store(loop.phase);
    if (!mainPassOverPending(loop)) return;
    shared.phase.store(0);
    shared.position.store(size);
    publishNotTried(loop, 0, 0, Publish::All);
    loop.phasesDone = true;
}

std::uint32_t CopyEngine::Impl::easyChunk(const Loop& loop) const
{
    const std::uint32_t sector = shared.sectorSize.load();
    return kEasyChunk % sector == 0 && kEasyChunk <= loop.fullChunk ? kEasyChunk : loop.fullChunk;
}

std::optional<std::uint32_t> CopyEngine::Impl::easyRead(Loop& loop, std::uint64_t at,
                                                        std::uint64_t length, std::uint32_t* took)
{
    const std::uint32_t sector = shared.sectorSize.load();
    SourceReader& source = file.mainSource;
    source.seek(static_cast<std::int64_t>(at), Whence::Begin);
    shared.readsBegun.fetch_add(1);
    shared.reading.store(true);
    const std::uint32_t began = tickSource.now();
    const auto sectors = static_cast<std::uint32_t>((length + sector - 1) / sector * sector);
    const std::uint32_t n = source.read(loop.chunkBuffer.data(), sectors);
    *took = tickSource.now() - began;
    shared.reading.store(false);
    const auto kept = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, length));
    if (kept > 0) {
        if (file.destination.seek(static_cast<std::int64_t>(file.base + at), Whence::Begin) < 0 ||
            !file.destination.writeWhole(loop.chunkBuffer.data(), kept)) {
            fail(EngineStatus::WriteFailed);
            return std::nullopt;
        }
        longMeter.add(kept);
        shortMeter.add(kept);
    } else if (isNotReady(source.lastError())) {
        fail(EngineStatus::NotReady);
        return std::nullopt;
    }
    return kept;
}

bool CopyEngine::Impl::easyPass(Loop& loop)
{
    const std::uint64_t size = shared.fileSize.load();
    const std::uint64_t chunk = easyChunk(loop);
    const std::uint64_t maxSkip = wholeChunks(std::min(size / 1000, kMaxSkip), chunk);
    // The skip after the next failure, the one the next run of failures starts with, and
    // the bytes read since the last run; the ends of the first and of the last chunk that
    // failed in the run going on: the bad stretch reaches from one to the other at least.
    std::uint64_t skip = chunk, runSkip = chunk, goodSince = 0;
    std::optional<std::uint64_t> runFrom;
    std::uint64_t runTo = 0;
    ReadTimes times;
    // Marks failed bytes from the cursor on, and the skip behind them, as not tried.
    const auto skipAhead = [&](std::uint64_t failed) {
        const std::uint64_t at = loop.cursor;
        const std::uint64_t skipped = std::min(failed + skip, size - at);
        if (!loop.pending.empty() && loop.pending.back().end() == at)
            loop.pending.back().length += skipped;
        else
            loop.pending.push_back({at, skipped});
        loop.failed.add(at, std::min(failed, skipped));
        loop.pendingBytes += skipped;
        loop.cursor += skipped;
        if (failed > 0) {
            runTo = at + std::min(failed, skipped);
            if (!runFrom) runFrom = runTo;
        }
        skip = std::max(std::min(skip * 2, maxSkip), chunk);
    };
    while (loop.cursor < size) {
        if (shared.stopRequest.load() || !checkpointIfDue(loop)) return false;
        const std::uint64_t at = loop.cursor;
        shared.position.store(at);
        std::uint32_t took = 0;
        const std::uint64_t length = std::min(chunk - at % chunk, size - at);
        const std::optional<std::uint32_t> n = easyRead(loop, at, length, &took);
        if (!n) return false;
        if (*n == 0) {
            skipAhead(length);
            publishNotTried(loop, loop.pendingBytes + size - loop.cursor, 0, Publish::Grown);
            continue;
        }
        loop.cursor += *n;
        const bool slow = times.slow(took);
        if (slow && loop.cursor < size) skipAhead(0);
        publishNotTried(loop, loop.pendingBytes + size - loop.cursor, 0, Publish::Grown);
        if (slow) continue;
        if (runFrom) {
            // The bad stretch behind the first failed chunk ended between the last failed
            // chunk's end and here: the next run skips half-way. One that one skip got past
            // keeps its skip.
            if (runTo > *runFrom) {
                const std::uint64_t middle = (runTo + at) / 2 - *runFrom;
                runSkip = std::clamp(middle / chunk * chunk, chunk, std::max(maxSkip, chunk));
            }
            runFrom.reset();
            goodSince = 0;
        }
        goodSince += *n;
        if (goodSince > kForgetSkip * runSkip) runSkip = chunk;
        skip = runSkip;
    }
    publishNotTried(loop, loop.pendingBytes, 0, Publish::All);
    return reversePass(loop);
}

bool CopyEngine::Impl::reversePass(Loop& loop)
{
    const std::uint64_t chunk = easyChunk(loop);
    ReadTimes times;
    for (std::size_t i = loop.pending.size(); i-- > 0;) {
        Region& area = loop.pending[i];
        // Down to the end of the last chunk in the area that failed before.
        const RegionMap failed = loop.failed.overlap(area.offset, area.end());
        const std::uint64_t floor = failed.empty() ? area.offset : failed.reach();
        while (area.end() > floor) {
            if (shared.stopRequest.load() || !checkpointIfDue(loop)) return false;
            const std::uint64_t end = area.end();
            const std::uint64_t from = std::max(floor, (end - 1) / chunk * chunk);
            shared.position.store(from);
            std::uint32_t took = 0;
            const std::optional<std::uint32_t> n = easyRead(loop, from, end - from, &took);
            if (!n) return false;
            // What a short read gave lies before the end: it is read again later.
            if (*n < end - from) {
                loop.failed.add(from, end - from);
                break;
            }
            area.length = from - area.offset;
            loop.pendingBytes -= end - from;
            publishNotTried(loop, loop.pendingBytes, 0);
            if (times.slow(took)) break;
        }
    }
    std::erase_if(loop.pending, [](const Region& area) { return area.length == 0; });
    return true;
}

bool CopyEngine::Impl::mainPassOverPending(Loop& loop)
{
    while (!loop.pending.empty()) {
        const Region area = loop.pending.front();
        shared.position.store(area.offset);
        publishNotTried(loop, loop.pendingBytes - area.length, area.end());
        loop.current = 0;
        loop.attempts = 0;
        clearMarks();
        file.sources[0]->seek(static_cast<std::int64_t>(area.offset), Whence::Begin);
        if (file.destination.seek(static_cast<std::int64_t>(file.base + area.offset), Whence::Begin) < 0) {
            fail(EngineStatus::WriteFailed);
            return false;
        }
        // A chunk that failed in phase 1 is read sector by sector at once.
        loop.chunk = loop.failed.meets(area.offset, area.offset + 1) ? shared.sectorSize.load()
                                                                     : loop.fullChunk;
        loop.bytesSinceFallback = 0;
        if (!readUpTo(loop, area.end())) return false;
        loop.pendingBytes -= area.length;
        loop.pending.pop_front();
    }
    return true;
}

// The position goes first: a reader that takes these and then the position never counts
// an area twice.
void CopyEngine::Impl::publishNotTried(Loop& loop, std::uint64_t elsewhere,
                                       std::uint64_t areaEnd, Publish how)
{
    constexpr std::uint32_t kAreasEveryMs = 250;
    const std::uint32_t now = tickSource.now();
    std::lock_guard lock(shared.notTriedMutex);
    shared.notTriedElsewhere = elsewhere;
    shared.notTriedAreaEnd = areaEnd;
    std::vector<Region>& out = shared.notTriedAreas;
    std::size_t from = 0;
    if (how == Publish::Grown) {
        // The place reached goes out with every read: held back, it would stand still
        // for as long as the next read hangs.
        from = out.empty() ? 0 : out.size() - 1;
    } else if (how == Publish::Due && now - loop.areasPublished < kAreasEveryMs) {
        return;
    } else {
        loop.areasPublished = now;
    }
    out.resize(from);
    for (std::size_t i = from; i < loop.pending.size(); ++i)
        out.push_back({file.base + loop.pending[i].offset, loop.pending[i].length});
    shared.frontier = file.base + loop.cursor;
}

std::uint64_t CopyEngine::Impl::notTriedNow() const
{
    std::uint64_t elsewhere = 0, areaEnd = 0;
    {
        std::lock_guard lock(shared.notTriedMutex);
        elsewhere = shared.notTriedElsewhere;
        areaEnd = shared.notTriedAreaEnd;
    }
    const std::uint64_t at = shared.position.load();
    return elsewhere + (areaEnd > at ? areaEnd - at : 0);
}

std::vector<Region> CopyEngine::notTriedAreas() const
{
    std::lock_guard lock(m->shared.notTriedMutex);
    return m->shared.phased.load() ? m->shared.notTriedAreas : std::vector<Region>{};
}

std::uint64_t CopyEngine::destinationFrontier() const
{
    if (!m->shared.phased.load()) return destinationPosition();
    std::lock_guard lock(m->shared.notTriedMutex);
    return m->shared.frontier;
}

bool CopyEngine::Impl::checkpointIfDue(Loop& loop)
{
    if (tickSource.now() - loop.lastCheckpoint < kPhaseCheckpointMs) return true;
    return writePhaseLog(loop, false);
}

bool CopyEngine::Impl::writePhaseLog(Loop& loop, bool done, bool syncCopy)
{
    std::vector<BadRegion> records = [this] {
        std::lock_guard lock(shared.regionsMutex);
        return shared.regions;
    }();
    const std::uint64_t base = file.base;
    const std::uint64_t size = shared.fileSize.load();
    std::vector<LogAnnotation> annotations = file.annotations;
    std::erase_if(annotations, [](const LogAnnotation& a) {
        return a.kind == static_cast<std::uint16_t>(AnnotationKind::NotTried);
    });
    RegionMap notTried;
    if (!done) {
        // Phase 1: the areas skipped, and all from its cursor on. Phase 2: the rest of
        // the area being read, and those after it.
        const std::uint64_t at = shared.position.load();
        for (std::size_t i = 0; i < loop.pending.size(); ++i) {
            const Region& r = loop.pending[i];
            const std::uint64_t from = loop.phase == 2 && i == 0 ? std::max(at, r.offset) : r.offset;
            if (from < r.end()) notTried.add(base + from, r.end() - from);
        }
        if (loop.phase == 1 && loop.cursor < size) notTried.add(base + loop.cursor, size - loop.cursor);
        const std::uint64_t boundary = notTried.empty() ? fileEnd() : notTried[0].offset;
        const std::uint64_t cursor = loop.phase == 1 ? base + loop.cursor : boundary;
        annotations.push_back(phaseAnnotation(PhasePoint{loop.phase, boundary, cursor}));
    }
    RegionMap all(records);
    for (const Region& r : notTried) all.add(r.offset, r.length);
    const LogForm form = file.log.form() == LogForm::Wide ? LogForm::Wide : logFormFor(all);
    const std::optional<std::vector<BadRegion>> more = notTried.toRecords(form);
    if (!more) {
        if (shared.status.load() == EngineStatus::Ok) fail(EngineStatus::LogUpdateFailed);
        return false;
    }
    records.insert(records.end(), more->begin(), more->end());
    records.push_back({fileEnd(), 0});
    loop.lastCheckpoint = tickSource.now();
    PlainFile next(fs);
    const EngineStatus why =
        syncCopy && !file.destination.sync() ? EngineStatus::WriteFailed
        : !writeLogByRename(fs, file.logPath, file.fileName, static_cast<std::int32_t>(file.fillType),
                            form, records, &next, annotations)
            ? EngineStatus::LogUpdateFailed
            : EngineStatus::Ok;
    if (why != EngineStatus::Ok) {
        if (shared.status.load() == EngineStatus::Ok) fail(why);
        return false;
    }
    file.logFile = std::move(next);
    file.log.bind(&file.logFile, form);
    return true;
}

}  // namespace tessaly
