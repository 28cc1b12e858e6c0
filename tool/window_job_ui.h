#pragma once

#include "tool/job_ui.h"

namespace tessaly {

class ToolWindow;

// The tool window as the jobs see it: called on the worker thread, it hands the
// fields to the window's thread queued, and waits there for the message boxes and
// the locate dialog, which need the user before the job goes on.
class WindowJobUi : public JobUi
{
public:
    explicit WindowJobUi(ToolWindow& window) : m_window(window) {}

    void setDataFrom(const std::string& name) override;
    void setDataTo(const std::string& name) override;
    void setState(int textId) override;
    void setProgress(int percent) override;
    void showError(const JobMessage& message) override;
    void showNotice(const JobMessage& message) override;
    std::optional<std::string> locateFile(int titleText, const std::string& folder) override;

private:
    ToolWindow& m_window;
};

}  // namespace tessaly
