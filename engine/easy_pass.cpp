// The easy data first. Phase 1 reads the file in chunks from its start and never sector
// by sector: at a chunk that fails it marks an area as not tried and skips past it, the
// skip doubling with each failure in a row and halving with each good read. Phase 2 is
// the main pass (chunk fallback, sector attempts, fills, reserved copies) over the areas
// not tried, in offset order; the passes at the end follow as after a main pass in order.
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
// The first skip past a failed chunk; the longest is a thousandth of the file, at most
// kMaxSkip (both at least a chunk).
constexpr std::uint64_t kFirstSkip = 65536;
constexpr std::uint64_t kMaxSkip = std::uint64_t{1} << 30;
// A file of no more chunks than this is read in order.
constexpr std::uint64_t kFewChunks = 4;
// A good chunk read that takes kSlowFactor times the usual one, and at least kSlowMs, is
// a slow area's: the pass keeps what it read and skips ahead as after a failure. The
// usual time is judged after kReadsBeforeJudging good reads.
constexpr std::uint32_t kSlowFactor = 10;
constexpr std::uint32_t kSlowMs = 40;
constexpr std::uint32_t kReadsBeforeJudging = 4;

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
    loop.skip = wholeChunks(kFirstSkip, loop.fullChunk);
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
    loop.phasesDone = true;
}

bool CopyEngine::Impl::easyPass(Loop& loop)
{
    const std::uint64_t size = shared.fileSize.load();
    const std::uint32_t sector = shared.sectorSize.load();
    const std::uint64_t maxSkip =
        wholeChunks(std::min(size / 1000, kMaxSkip), loop.fullChunk);
    const std::uint64_t firstSkip = wholeChunks(kFirstSkip, loop.fullChunk);
    SourceReader& source = file.mainSource;
    std::uint32_t usualMs = 0;
    std::uint32_t timed = 0;
    // Marks the skip from the cursor on as not tried (at least minimum bytes), and
    // doubles the next skip.
    const auto skipAhead = [&](std::uint64_t minimum) {
        const std::uint64_t at = loop.cursor;
        const std::uint64_t skipped = std::min(std::max(loop.skip, minimum), size - at);
        if (!loop.pending.empty() && loop.pending.back().end() == at)
            loop.pending.back().length += skipped;
        else
            loop.pending.push_back({at, skipped});
        loop.cursor += skipped;
        loop.skip = std::min(loop.skip * 2, std::max(maxSkip, firstSkip));
    };
    while (loop.cursor < size) {
        if (shared.stopRequest.load() || !checkpointIfDue(loop)) return false;
        const std::uint64_t at = loop.cursor;
        shared.position.store(at);
        const auto length = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(loop.fullChunk, (size - at + sector - 1) / sector * sector));
        source.seek(static_cast<std::int64_t>(at), Whence::Begin);
        shared.readsBegun.fetch_add(1);
        shared.reading.store(true);
        const std::uint32_t began = tickSource.now();
        std::uint32_t n = source.read(loop.chunkBuffer.data(), length);
        const std::uint32_t took = tickSource.now() - began;
        shared.reading.store(false);
        n = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, size - at));
        if (n > 0) {
            if (file.destination.seek(static_cast<std::int64_t>(file.base + at), Whence::Begin) < 0 ||
                !file.destination.writeWhole(loop.chunkBuffer.data(), n)) {
                fail(EngineStatus::WriteFailed);
                return false;
            }
            longMeter.add(n);
            shortMeter.add(n);
            loop.cursor += n;
            if (timed >= kReadsBeforeJudging && took >= kSlowMs && took / kSlowFactor > usualMs) {
                if (loop.cursor < size) skipAhead(0);
                continue;
            }
            usualMs = timed == 0 ? took : (usualMs * 7 + took) / 8;
            ++timed;
            loop.skip = std::max(firstSkip, loop.skip / 2 / loop.fullChunk * loop.fullChunk);
            continue;
        }
        if (isNotReady(source.lastError())) {
            fail(EngineStatus::NotReady);
            return false;
        }
        skipAhead(length);
    }
    shared.position.store(size);
    return true;
}

bool CopyEngine::Impl::mainPassOverPending(Loop& loop)
{
    while (!loop.pending.empty()) {
        const Region area = loop.pending.front();
        shared.position.store(area.offset);
        loop.current = 0;
        loop.attempts = 0;
        clearMarks();
        file.sources[0]->seek(static_cast<std::int64_t>(area.offset), Whence::Begin);
        if (file.destination.seek(static_cast<std::int64_t>(file.base + area.offset), Whence::Begin) < 0) {
            fail(EngineStatus::WriteFailed);
            return false;
        }
        loop.chunk = loop.fullChunk;
        loop.bytesSinceFallback = 0;
        if (!readUpTo(loop, area.end())) return false;
        loop.pending.erase(loop.pending.begin());
    }
    return true;
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
