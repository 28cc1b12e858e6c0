#include "tool/window_job_ui.h"

#include <QFile>

#include "tool/tool_window.h"
#include "ui/path_text.h"

namespace tessaly {


void WindowJobUi::setDataFrom(const std::string& name)
{
    m_window.workers().post([window = &m_window, text = pathText(name)] {
        window->showDataFrom(text);
    });
}

void WindowJobUi::setDataTo(const std::string& name)
{
    m_window.workers().post([window = &m_window, text = pathText(name)] {
        window->showDataTo(text);
    });
}

void WindowJobUi::setState(int textId)
{
    m_window.workers().post([window = &m_window, textId] { window->showState(textId); });
}

void WindowJobUi::setProgress(int percent)
{
    m_window.workers().post([window = &m_window, percent] { window->showProgress(percent); });
}

void WindowJobUi::showError(const JobMessage& message)
{
    m_window.workers().call([&] { m_window.showJobMessage(ModalPrompts::Icon::Error, message); });
}

void WindowJobUi::showNotice(const JobMessage& message)
{
    m_window.workers().call([&] { m_window.showJobMessage(ModalPrompts::Icon::Notice, message); });
}

std::optional<std::string> WindowJobUi::locateFile(int titleText, const std::string& folder)
{
    return m_window.workers().call([&] { return m_window.locateDataFile(titleText, folder); });
}

}  // namespace tessaly
