#include "run/file_step.h"

#include <algorithm>

#include "engine/destination.h"
#include "engine/region_map.h"

namespace tessaly {

bool copyComplete(EngineStatus status, std::uint64_t position, std::uint64_t end)
{
    // A pass after the main pass that lost its medium or failed to write ends at the
    // end with another status: the file is not done, and says why.
    return status == EngineStatus::Ok && position >= end;
}

FileOutcome outcomeOf(bool complete, EngineStatus status)
{
    if (complete) return FileOutcome::Done;
    switch (status) {
        case EngineStatus::Ok:
        case EngineStatus::Stopped:
            return FileOutcome::Stopped;
        case EngineStatus::NotReady:
            return FileOutcome::NotReady;
        default:
            return FileOutcome::Failed;
    }
}

EntryEnd entryEndOf(const StepResult& step)
{
    const auto icon = [](EntryIcon i) { return static_cast<int>(i); };
    switch (step.outcome) {
        case FileOutcome::Done:
            return {icon(step.damaged() ? EntryIcon::Damaged : EntryIcon::Copied), EntryState::Done,
                    true, step.destinationPosition};
        case FileOutcome::Stopped:
        case FileOutcome::NotReady:
            return {icon(EntryIcon::Interrupted), EntryState::Unfinished, false, 0};
        default:
            return {icon(EntryIcon::Failed), EntryState::Unfinished, true, 0};
    }
}

std::string FileStep::destinationOf(const FileEntry& entry, const std::string& outputFolder) const
{
    return destinationPath(entry.name, outputFolder, entry.base(), m_fs.isBlockDevice(entry.name));
}

StepResult FileStep::copy(const FileEntry& entry, const std::string& outputFolder,
                          const Refresh& refresh, const std::atomic<bool>* stop)
{
    StepResult result;
    result.destination = destinationOf(entry, outputFolder);
    result.verdict = m_guard.admit(entry.name, result.destination);
    if (result.verdict != GuardVerdict::Clear) {
        result.outcome = FileOutcome::Refused;
        return result;
    }
    result = start(entry, outputFolder, result.destination, refresh, stop, false);
    if (result.outcome == FileOutcome::NotReady && m_wait.enabled) {
        result = waitForMedium(entry, outputFolder, refresh, stop, std::move(result));
    }
    return result;
}

StepResult FileStep::start(const FileEntry& entry, const std::string& outputFolder,
                           const std::string& destination, const Refresh& refresh,
                           const std::atomic<bool>* stop, bool continuing)
{
    StepResult result;
    result.destination = destination;
    // A stop raised before the file stops it at its first pass.
    if (stop != nullptr && stop->load()) m_engine.requestStop(false);
    const auto noteOpened = [&] {
        m_guard.noteOpened(destination, m_engine.openedCopy(), m_engine.openedLog());
    };
    bool started = false;
    EngineSnapshot last;
    if (m_watch.ready()) {
        started = m_engine.copyFile(entry.name, outputFolder, entry.base(), continuing, [&] {
            noteOpened();
            if (refresh) refresh(m_engine.snapshot());
            m_watch.begin(refresh, stop);
        });
        m_watch.end();
        last = m_engine.snapshot();
        if (started && refresh) refresh(last);
    } else {
        started = continuing ? m_engine.continueFile(entry.name, outputFolder, entry.base())
                             : m_engine.startFile(entry.name, outputFolder, entry.base());
        if (started) {
            noteOpened();
            last = pollUntilIdle(refresh, stop);
        }
    }
    if (!started) {
        result.status = m_engine.status();
        result.outcome = FileOutcome::NotStarted;
        result.deviceAccessDenied = result.status == EngineStatus::SourceOpenFailed &&
                                    isAccessDenied(m_engine.sourceOpenError()) &&
                                    m_fs.isBlockDevice(entry.name);
        return result;
    }
    result.filePercent = filePercentOf(last);
    result.status = last.status;
    result.destinationPosition = last.destinationPosition();
    result.figures = figures(last);
    result.outcome = outcomeOf(result.figures.complete, result.status);
    return result;
}

StepResult FileStep::waitForMedium(const FileEntry& entry, const std::string& outputFolder,
                                   const Refresh& refresh, const std::atomic<bool>* stop,
                                   StepResult result)
{
    std::uint32_t since = m_ticks.now();
    WaitStatus status;
    if (m_waitReport) m_waitReport(status);
    for (;;) {
        const std::uint32_t tryEvery = std::max<std::uint32_t>(m_wait.tryEveryMs, 1);
        std::uint32_t tryAt = m_ticks.now() + tryEvery;
        if (m_wait.limitMs != 0 && m_ticks.now() - since + tryEvery > m_wait.limitMs) {
            tryAt = since + m_wait.limitMs;
        }
        if (!sleepUntil(tryAt, stop)) {
            result.waitEnd = WaitEnd::Stopped;
            return result;
        }
        SysError error = 0;
        if (m_fs.openUnbuffered(entry.name, &error) == nullptr) {
            status.otherMedium = false;
        } else {
            // The probe's handle is closed again: the engine opens the source itself.
            StepResult next = start(entry, outputFolder, result.destination, refresh, stop, true);
            if (next.status == EngineStatus::SourceMismatch ||
                next.status == EngineStatus::SourceChanged) {
                status.otherMedium = true;  // nothing of it was written
            } else if (next.outcome == FileOutcome::NotReady) {
                // Gone again after it had come back: a wait that got the copy further
                // starts over from here.
                if (next.destinationPosition > result.destinationPosition) {
                    since = m_ticks.now();
                    status = {};
                }
                result = std::move(next);
            } else if (next.status != EngineStatus::SourceOpenFailed) {
                next.waitEnd = WaitEnd::Returned;
                return next;
            }
        }
        // The report and the limit see the same time: a try that took a while shows in both.
        status.waitedMs = m_ticks.now() - since;
        if (m_waitReport) m_waitReport(status);
        if (m_wait.limitMs != 0 && status.waitedMs >= m_wait.limitMs) {
            result.waitEnd = WaitEnd::TimedOut;
            return result;
        }
    }
}

bool FileStep::sleepUntil(std::uint32_t until, const std::atomic<bool>* stop) const
{
    for (;;) {
        if (stop && stop->load()) return false;
        // Ticks wrap: the distance left is read as signed.
        const auto left = static_cast<std::int32_t>(until - m_ticks.now());
        if (left <= 0) return true;
        sleepMs(std::min<std::uint32_t>(static_cast<std::uint32_t>(left), kPollMs));
    }
}

EngineSnapshot FileStep::pollUntilIdle(const Refresh& refresh, const std::atomic<bool>* stop)
{
    bool stopSent = false;
    for (;;) {
        const EngineSnapshot now = m_engine.snapshot();
        if (now.busy && !stopSent && stop && stop->load()) {
            m_engine.requestStop(false);
            stopSent = true;
        }
        if (refresh) refresh(now);
        if (!now.busy) return now;
        m_engine.waitUntilIdle(kPollMs);
    }
}

FileFigures FileStep::figures(const EngineSnapshot& last) const
{
    FileFigures f;
    f.complete = copyComplete(last.status, last.destinationPosition(), last.destinationEnd());
    f.withoutLog = m_engine.copiedWithoutLog();
    // A copy left alone under Skip: nothing was copied, and its state is its own.
    if (f.complete && m_engine.skippedExisting()) {
        f.skippedExisting = true;
        return f;
    }
    const auto filled = static_cast<std::uint64_t>(std::max<std::int64_t>(last.filledBytes, 0));
    // A copy resumed behind the end of a source that has shrunk since starts past it:
    // it holds no more of this source than the source's size.
    const std::uint64_t covered = last.reached();
    f.copied = covered > filled ? covered - filled : 0;
    f.filled = filled;
    // Regions of the copy an Append went behind are not this file's.
    f.regions =
        RegionMap(m_engine.badRegions()).overlap(last.destinationBase, last.destinationEnd()).size();
    return f;
}

}  // namespace tessaly
