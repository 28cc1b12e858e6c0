#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "tool/job_ui.h"

namespace tessaly::cli {

// Shows a transfer job on a terminal: every field and message as a line on
// standard error, in the language file's texts. The data file is located from
// --data when given, else asked on the terminal when standard input is one;
// otherwise locating it is cancelled.
class TerminalJobUi : public JobUi
{
public:
    TerminalJobUi(TextLookup text, std::optional<std::string> dataPath, bool interactive,
                  std::FILE* in = stdin, std::FILE* out = stderr);

    void setDataFrom(const std::string& name) override;
    void setDataTo(const std::string& name) override;
    void setState(int textId) override;
    void setProgress(int percent) override;
    void showError(const JobMessage& message) override;
    void showNotice(const JobMessage& message) override;
    std::optional<std::string> locateFile(int titleText, const std::string& folder) override;

private:
    void endProgressLine();

    TextLookup m_text;
    std::optional<std::string> m_dataPath;  // used for the first locate only
    bool m_interactive;
    bool m_showProgress;
    bool m_progressShown = false;
    std::FILE* m_in;
    std::FILE* m_out;
};

}  // namespace tessaly::cli
