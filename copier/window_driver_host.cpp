#include "copier/window_driver_host.h"

#include "copier/copier_run.h"
#include "copier/copier_window.h"

namespace tessaly {

std::optional<NextEntry> WindowDriverHost::takeEntry(bool& skip)
{
    return m_run.workers().call([&] {
        std::optional<NextEntry> next = m_run.takeNextEntry(skip, m_window.settings().outputFolder);
        if (next) next->waitForMedium = m_window.settings().waitForMedium != 0;
        return next;
    });
}

std::string WindowDriverHost::outputFolder()
{
    return m_run.workers().call([&] { return m_window.settings().outputFolder; });
}

void WindowDriverHost::entryStarted()
{
    m_run.workers().post([w = &m_window, r = &m_run] {
        r->markEntryStarted();
        w->details().fileStarted();
    });
}

void WindowDriverHost::showProgress(int filePercent, int totalPercent)
{
    m_run.workers().post([w = &m_window, filePercent, totalPercent] {
        w->fields().showProgress(filePercent, totalPercent);
    });
}

void WindowDriverHost::showFilled(std::uint64_t bytes)
{
    m_run.workers().post([r = &m_run, bytes] { r->showFilled(bytes); });
}

void WindowDriverHost::showTimes()
{
    m_run.workers().post([w = &m_window] { w->updateTimes(); });
}

void WindowDriverHost::refreshDetails()
{
    if (m_detailsQueued.exchange(true)) {
        return;
    }
    m_run.workers().post([this] {
        m_detailsQueued.store(false);
        m_window.details().refresh();
    });
}

void WindowDriverHost::entryEnded(const EntryEnd& end, const ReportLine& report)
{
    // Does not wait: the window's thread takes it before the next takeEntry, which reads the
    // index that this moves.
    m_run.workers().post([w = &m_window, r = &m_run, end, report] {
        w->details().fileEnded();
        r->endEntry(end, report);
        w->showTotals();
        w->updateCommandStates();
    });
}

void WindowDriverHost::reportFailure(const RunMessage& message)
{
    m_run.workers().call([&] { m_window.showRunMessage(message); });
}

void WindowDriverHost::showHold(RunHold hold, std::uint32_t seconds)
{
    m_run.workers().post([r = &m_run, hold, seconds] { r->showHold(hold, seconds); });
}

void WindowDriverHost::runEnded()
{
    m_run.workers().post([w = &m_window] { w->showRunEnded(); });
}

}  // namespace tessaly
