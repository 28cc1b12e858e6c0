#include "engine/engine_impl.h"

#include "engine/retry_pass.h"

namespace tessaly {
namespace {

// The longest stretch of pass work whose reads a kill may cost: the log is rewritten this often.
constexpr std::uint32_t kCheckpointMs = 30000;

}  // namespace

void CopyEngine::Impl::finishWorker(Loop& loop)
{
    const std::uint64_t size = shared.fileSize.load();
    // Phases that did not end leave the position short of the end, whatever pass they
    // were in: the copy is never taken for whole by where a pass stood.
    if (loop.phased && !loop.phasesDone && size > 0)
        shared.position.store(std::min(shared.position.load(), size - 1));
    const std::uint64_t at = shared.position.load();
    // The end record claims every byte before it: the copy is on the medium first.
    const EngineStatus onMedium = loop.logActive ? putCopyOnMedium() : EngineStatus::Ok;
    // A copy read in phases gets a whole new log; one read in order, its end record. A
    // phase's log that cannot be replaced stays, end record and all, and still lists
    // every byte not read since (the status says why it stayed).
    const auto endLog = [&] {
        if (!loop.phased) return file.log.appendRecord(at + shared.destinationBase.load(), 0) != 0;
        return writePhaseLog(loop, loop.phasesDone) || !loop.phasesDone;
    };
    bool logEnded = !loop.logActive || (onMedium == EngineStatus::Ok && endLog());
    const EngineStatus ended = shared.status.load();
    const bool whole = loop.phased ? loop.phasesDone : at >= size;
    shared.phase.store(0);
    if (whole) {
        clearStatus();
    } else if (shared.stopRequest.load() && ended != EngineStatus::WriteFailed &&
               ended != EngineStatus::LogWriteFailed) {
        shared.status.store(EngineStatus::Stopped);
    }
    // A copy that did not reach the medium is neither whole nor merely stopped.
    const EngineStatus now = shared.status.load();
    if (onMedium != EngineStatus::Ok && (now == EngineStatus::Ok || now == EngineStatus::Stopped))
        shared.status.store(onMedium);
    if (whole && !shared.stopRequest.load() && onMedium == EngineStatus::Ok && runEndPasses(loop))
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
        syncFolderOf(file.logPath);
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
    if (listsRegions && (!file.logFile.sync() || !syncFolderOf(file.logPath))) {
        return EngineStatus::LogWriteFailed;
    }
    return file.destination.sync() ? EngineStatus::Ok : EngineStatus::WriteFailed;
}

// Runs the trim pass over the filled regions of a file whose main pass has covered
// it, after the log's end record, then the retry passes over what is left; a run that only
// reads the fills again begins where its log's record of the passes says. At least every
// kCheckpointMs of the passes, and when they end early (stop, removal, a failed write), the
// log is replaced whole by one that lists what is still filled and how far the passes got;
// when they end, by one that lists what is still filled. True when it wrote such a log;
// when that log cannot be written the old one stays, and so do the regions and figures of
// the run, which are what it lists (LogUpdateFailed).
bool CopyEngine::Impl::runEndPasses(const Loop& loop)
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
    const std::uint32_t passes = setting(&EngineSettings::retryPasses);
    const LogForm form = loop.logActive ? file.log.form() : logFormFor(RegionMap(before));
    bool wrote = false;
    std::uint32_t lastCheckpoint = tickSource.now();
    // The passes' reads keep the speed shown while they run.
    PassCopy copy{file.sources, &file.destination, shared.sectorSize.load(), base,
                  [this](std::uint32_t bytes) {
                      longMeter.add(bytes);
                      shortMeter.add(bytes);
                  }};
    // No sector is read more than 1 + passes times after its first failure (its chunk's),
    // the main pass's reads counted; the trim gets its read of a sector all the same.
    copy.reads = &unitReads;
    copy.budget = 1 + std::max(passes, 1u);
    if (loop.logActive) {
        copy.checkpointDue = [&] { return tickSource.now() - lastCheckpoint >= kCheckpointMs; };
        copy.checkpoint = [&](const RegionMap& regions, PassPoint at) {
            at.passes = passes;
            lastCheckpoint = tickSource.now();
            if (!keepPasses(regions, at, form)) return false;
            wrote = true;
            return true;
        };
    }
    const std::optional<PassPoint> from = file.passResume;
    const auto trimming = [this](std::size_t left) { shared.trimming.store(left); };
    const auto retrying = [this](std::uint32_t pass, std::size_t left) {
        shared.trimming.store(left);
        shared.retryPass.store(pass);
    };
    PassResult result;
    result.regions = RegionMap(before);
    if (!from || from->pass == 0) {
        result = TrimPass(copy, shared.stopRequest)
                     .run(result.regions, trimming, from ? from->offset : 0);
    }
    // A run before may have got further than the passes this one gets: those are done.
    const bool retried = from && from->pass > 0;
    if (result.end == PassEnd::Done && passes > 0 && (!retried || from->pass <= passes)) {
        shared.retryPasses.store(passes);
        result = RetryPass(copy, shared.stopRequest)
                     .run(result.regions, passes, retrying, retried ? from : std::nullopt);
    }
    if (result.end == PassEnd::NotReady) fail(EngineStatus::NotReady);
    if (result.end == PassEnd::WriteFailed) fail(EngineStatus::WriteFailed);
    // A failed checkpoint has set the status; the last log written stays the truth.
    if (result.end == PassEnd::CheckpointFailed) return wrote;
    // Passes that ended early leave their record for the next run to go on from.
    std::optional<PassPoint> reached;
    if (result.end != PassEnd::Done) {
        reached = result.at;
        reached->passes = passes;
    }
    // Merging alone changes the list too: the file then keeps one region per stretch.
    // What is left of the regions always fits the records they came from.
    if (!result.regions.toRecords(form)) return wrote;
    if (*result.regions.toRecords(form) == before && reached == file.passRecord) return wrote;
    if (loop.logActive && !keepPasses(result.regions, reached, form)) return false;
    if (!loop.logActive) publishRegions(result.regions, form);
    return loop.logActive;
}

// Sync point: the sectors the passes read back are on the medium before a log that no
// longer lists them replaces the old one. When either fails the old log stays the truth,
// and the run reports what it lists (the status tells why).
bool CopyEngine::Impl::keepPasses(const RegionMap& regions, const std::optional<PassPoint>& reached,
                                  LogForm form)
{
    const EngineStatus why = !file.destination.sync() ? EngineStatus::WriteFailed
                             : !replaceLog(fs, file.logPath, regions, fileEnd(), reached)
                                 ? EngineStatus::LogUpdateFailed
                                 : EngineStatus::Ok;
    if (why != EngineStatus::Ok) {
        if (shared.status.load() == EngineStatus::Ok) fail(why);
        return false;
    }
    file.passRecord = reached;
    publishRegions(regions, form);
    return true;
}

void CopyEngine::Impl::publishRegions(const RegionMap& regions, LogForm form)
{
    std::optional<std::vector<BadRegion>> records = regions.toRecords(form);
    if (!records) return;
    {
        std::lock_guard lock(shared.regionsMutex);
        shared.regions = std::move(*records);
        shared.regionsGeneration.fetch_add(1);
    }
    shared.filledBytes.store(static_cast<std::int64_t>(regions.bytesIn(file.base, fileEnd())));
}

}  // namespace tessaly
