#include "copier/window_driver_host.h"

#include "copier/copier_window.h"
#include "ui/gui_thread.h"

namespace tessaly {

std::optional<NextEntry> WindowDriverHost::takeEntry(bool& skip)
{
    return callOnGui(&m_window, [&] { return m_window.takeNextEntry(skip); });
}

std::string WindowDriverHost::outputFolder()
{
    return callOnGui(&m_window, [&] { return m_window.settings().outputFolder; });
}

void WindowDriverHost::entryStarted()
{
    postToGui(&m_window, [w = &m_window] { w->showEntryStarted(); });
}

void WindowDriverHost::showProgress(int filePercent, int totalPercent)
{
    postToGui(&m_window, [w = &m_window, filePercent, totalPercent] {
        w->showProgress(filePercent, totalPercent);
    });
}

void WindowDriverHost::showFilled(std::uint64_t bytes)
{
    postToGui(&m_window, [w = &m_window, bytes] { w->showFilled(bytes); });
}

void WindowDriverHost::showTimes()
{
    postToGui(&m_window, [w = &m_window] { w->updateTimes(); });
}

void WindowDriverHost::refreshDetails()
{
    if (m_detailsQueued.exchange(true)) {
        return;
    }
    postToGui(&m_window, [this] {
        m_detailsQueued.store(false);
        m_window.refreshDetails();
    });
}

void WindowDriverHost::entryEnded(const EntryEnd& end)
{
    // Waits: the next step reads the index that this moves.
    callOnGui(&m_window, [&] { m_window.endEntry(end); });
}

void WindowDriverHost::reportFailure(const RunMessage& message)
{
    callOnGui(&m_window, [&] { m_window.showRunMessage(message); });
}

void WindowDriverHost::runEnded()
{
    postToGui(&m_window, [w = &m_window] { w->showRunEnded(); });
}

}  // namespace tessaly
