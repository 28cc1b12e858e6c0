#include "engine/engine_impl.h"

#include "engine/retry_pass.h"

namespace tessaly {

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
        clearStatus();
    } else if (shared.stopRequest.load() && ended != EngineStatus::WriteFailed &&
               ended != EngineStatus::LogWriteFailed) {
        shared.status.store(EngineStatus::Stopped);
    }
    // A copy that did not reach the medium is neither whole nor merely stopped.
    const EngineStatus now = shared.status.load();
    if (onMedium != EngineStatus::Ok && (now == EngineStatus::Ok || now == EngineStatus::Stopped))
        shared.status.store(onMedium);
    if (at >= size && !shared.stopRequest.load() && onMedium == EngineStatus::Ok && runEndPasses(loop))
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
    // The passes' reads keep the speed shown while they run.
    const PassCopy copy{file.sources, &file.destination, shared.sectorSize.load(), base,
                        [this](std::uint32_t bytes) {
                            longMeter.add(bytes);
                            shortMeter.add(bytes);
                        }};
    PassResult result = TrimPass(copy, shared.stopRequest)
                            .run(RegionMap(before),
                                 [this](std::size_t left) { shared.trimming.store(left); });
    const std::uint32_t passes = setting(&EngineSettings::retryPasses);
    if (result.end == PassEnd::Done && passes > 0) {
        shared.retryPasses.store(passes);
        result = RetryPass(copy, shared.stopRequest)
                     .run(result.regions, passes, [this](std::uint32_t pass, std::size_t left) {
                         shared.trimming.store(left);
                         shared.retryPass.store(pass);
                     });
    }
    if (result.end == PassEnd::NotReady) fail(EngineStatus::NotReady);
    if (result.end == PassEnd::WriteFailed) fail(EngineStatus::WriteFailed);
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

}  // namespace tessaly
