#include "copier/list_copy_driver.h"

#include <algorithm>

#include "platform/clock.h"
#include "texts/text_ids.h"

namespace tessaly {

ListCopyDriver::ListCopyDriver(CopyEngine& engine, FileSystem& fs, RunCounters& counters,
                               const std::atomic<bool>& exiting, DriverHost& host, Timing timing)
    : m_engine(engine),
      m_fs(fs),
      m_step(engine, fs),
      m_counters(counters),
      m_exiting(exiting),
      m_host(host),
      m_timing(timing)
{
}

void ListCopyDriver::runDriver()
{
    while (!m_exiting.load()) {
        idle();
        // Taken before the list is looked at: an Add with auto start after this look
        // changes it, and the run does not end under it.
        const std::uint32_t request = m_counters.copying.snapshot();
        if (!m_counters.copying.load()) {
            continue;
        }
        if (m_counters.currentIndex.load() >= m_counters.entryCount.load()) {
            if (m_counters.copying.endIfUnchanged(request)) m_host.runEnded();
            continue;
        }
        if (m_host.outputFolder().empty()) {
            continue;
        }
        // A new run may copy the lines of the last one again (after Stop, or a medium
        // that went away), so the guard forgets their copies.
        m_step.beginRun();
        while (m_counters.copying.load() && !m_exiting.load() &&
               m_counters.currentIndex.load() < m_counters.entryCount.load()) {
            copyNextEntry();
        }
        m_step.endRun();
    }
}

void ListCopyDriver::idle()
{
    // Short slices, so that Start and Exit are taken up at once.
    for (std::uint32_t waited = 0; waited < m_timing.idleMs; waited += m_timing.sliceMs) {
        if (m_exiting.load() || m_counters.copying.load()) {
            return;
        }
        sleepMs(m_timing.sliceMs);
    }
}

void ListCopyDriver::copyNextEntry()
{
    bool skip = false;
    const std::optional<NextEntry> next = m_host.takeEntry(skip);
    if (!next || skip) {
        return;
    }
    m_started = false;
    m_lastPercent = -1;  // the bars of the last file give way at the first refresh
    m_lastFilled = 0;
    MediumWait wait;
    wait.enabled = next->waitForMedium;
    m_step.setMediumWait(wait, [this](const WaitStatus& status) {
        hold(status.otherMedium ? RunHold::OtherMedium : RunHold::MediumGone,
             status.waitedMs / 1000);
    });
    const StepResult step = m_step.copy(
        next->entry, next->outputFolder, [this](const EngineSnapshot& engine) { refresh(engine); }, &m_stop);
    hold(RunHold::None, 0);
    m_host.entryEnded(endOf(step, next->entry.name), reportLineOf(next->entry, &step, m_fs));
    m_host.showTimes();
}

void ListCopyDriver::refresh(const EngineSnapshot& engine)
{
    if (!m_started) {
        m_started = true;
        m_host.entryStarted();
    }
    ListPlace place = m_counters.place();
    place.copying = true;  // the driver's own file counts while it ends, even after a Stop
    place.onLine = true;
    const RunFigures figures = runFigures(engine, place);
    if (figures.filePercent != m_lastPercent) {
        m_host.showProgress(figures.filePercent, figures.totalPercent);
        m_lastPercent = figures.filePercent;
    }
    const auto filled = static_cast<std::uint64_t>(std::max<std::int64_t>(engine.filledBytes, 0));
    if (filled != m_lastFilled) {
        m_host.showFilled(filled);
        m_lastFilled = filled;
    }
    if (figures.silentSeconds > 0) {
        hold(RunHold::DriveSilent, figures.silentSeconds);
    } else if (m_hold == RunHold::DriveSilent) {
        hold(RunHold::None, 0);
    }
    m_host.refreshDetails();
    m_host.showTimes();
}

void ListCopyDriver::hold(RunHold hold, std::uint32_t seconds)
{
    if (hold == m_hold && seconds == m_holdSeconds) return;
    m_hold = hold;
    m_holdSeconds = seconds;
    m_host.showHold(hold, seconds);
}

EntryEnd ListCopyDriver::endOf(const StepResult& step, const std::string& source)
{
    switch (step.outcome) {
        case FileOutcome::Done:
            if (step.figures.withoutLog) m_host.reportFailure(withoutLogMessage(source));
            break;
        case FileOutcome::Stopped:
            break;
        case FileOutcome::NotReady:
            // The medium went away: the run ends without a message, the line stays next.
            m_counters.copying.store(false);
            m_host.runEnded();
            break;
        case FileOutcome::Refused:
            m_host.reportFailure(refusalMessage(step.verdict, source));
            break;
        case FileOutcome::Failed:
        case FileOutcome::NotStarted:
            if (const std::optional<RunMessage> message =
                    failureMessage(step.status, source, step.destination,
                                   step.deviceAccessDenied)) {
                m_host.reportFailure(*message);
            }
            break;
    }
    return entryEndOf(step);
}

}  // namespace tessaly
