#pragma once

#include <atomic>

#include "copier/list_copy_driver.h"

namespace tessaly {

class CopierRun;
class CopierWindow;

// Carries the copy driver's calls over to the window's thread: what the driver needs
// back waits for the window, what only changes the view is posted. The lines are the
// run's, the rest of the view the window's.
class WindowDriverHost : public DriverHost
{
public:
    WindowDriverHost(CopierWindow& window, CopierRun& run) : m_window(window), m_run(run) {}

    std::optional<NextEntry> takeEntry(bool& skip) override;
    std::string outputFolder() override;
    void entryStarted() override;
    void showProgress(int filePercent, int totalPercent) override;
    void showFilled(std::uint64_t bytes) override;
    void showTimes() override;
    void refreshDetails() override;
    void entryEnded(const EntryEnd& end, const ReportLine& report) override;
    void reportFailure(const RunMessage& message) override;
    void runEnded() override;
    void showHold(RunHold hold, std::uint32_t seconds) override;

private:
    CopierWindow& m_window;
    CopierRun& m_run;
    // A refresh of the detail view is queued and has not begun: a slow window gets
    // one, which reads the latest state, instead of a pile of them.
    std::atomic<bool> m_detailsQueued{false};
};

}  // namespace tessaly
