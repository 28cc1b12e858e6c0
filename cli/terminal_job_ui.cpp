#include "cli/terminal_job_ui.h"

#include <filesystem>
#include <utility>

#include "cli/escaped_name.h"
#include "platform/terminal.h"
#include "texts/text_ids.h"

namespace tessaly::cli {

TerminalJobUi::TerminalJobUi(TextLookup text, std::optional<std::string> dataPath, bool interactive,
                             std::FILE* in, std::FILE* out)
    : m_text(std::move(text)),
      m_dataPath(std::move(dataPath)),
      m_interactive(interactive),
      m_showProgress(isTerminal(out)),
      m_in(in),
      m_out(out)
{
}

void TerminalJobUi::endProgressLine()
{
    if (!m_progressShown) return;
    std::fputc('\n', m_out);
    m_progressShown = false;
}

void TerminalJobUi::setDataFrom(const std::string& name)
{
    endProgressLine();
    std::fprintf(m_out, "%s: %s\n", m_text(text::kDataFromLabel).c_str(), escapedName(name).c_str());
}

void TerminalJobUi::setDataTo(const std::string& name)
{
    endProgressLine();
    std::fprintf(m_out, "%s: %s\n", m_text(text::kDataToLabel).c_str(), escapedName(name).c_str());
}

void TerminalJobUi::setState(int textId)
{
    endProgressLine();
    std::fprintf(m_out, "%s: %s\n", m_text(text::kStateLabel).c_str(), m_text(textId).c_str());
}

void TerminalJobUi::setProgress(int percent)
{
    // A log of thousands of regions would flood a pipe; only a terminal gets the bar.
    if (!m_showProgress) return;
    std::fprintf(m_out, "\r%3d%%", percent);
    std::fflush(m_out);
    m_progressShown = true;
}

void TerminalJobUi::showError(const JobMessage& message)
{
    endProgressLine();
    JobMessage shown = message;
    shown.name = escapedName(message.name);
    std::fprintf(m_out, "%s\n", composeMessage(shown, m_text).c_str());
}

void TerminalJobUi::showNotice(const JobMessage& message)
{
    showError(message);
}

std::optional<std::string> TerminalJobUi::locateFile(int titleText, const std::string& folder)
{
    endProgressLine();
    if (m_dataPath) return std::exchange(m_dataPath, std::nullopt);
    if (!m_interactive) return std::nullopt;
    std::fprintf(m_out, "%s [%s]: ", m_text(titleText).c_str(), escapedName(folder).c_str());
    std::fflush(m_out);
    std::string line;
    for (int c = std::fgetc(m_in); c != EOF && c != '\n'; c = std::fgetc(m_in)) {
        line += static_cast<char>(c);
    }
    if (line.empty()) return std::nullopt;
    // As in a file dialog that starts in folder, a bare name is looked for there.
    const std::filesystem::path chosen(line);
    return chosen.is_absolute() ? line : (std::filesystem::path(folder) / chosen).string();
}

}  // namespace tessaly::cli
