#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "cli/terminal_copy_driver.h"

namespace tessaly::cli {

// The console of a run in a terminal: questions on standard error answered from
// standard input, messages on standard error, and a progress line that rewrites
// itself when standard error is a terminal. A raised stop flag ends a pending
// question with "no".
class TerminalConsole : public Console
{
public:
    TerminalConsole(bool quiet, const std::atomic<bool>& stop, CliTexts texts = CliTexts());

    bool interactive() const override { return m_interactive; }
    bool confirm(const std::string& question, bool defaultYes) override;
    std::string askLine(const std::string& question) override;
    void message(const std::string& text) override;
    void progress(const Progress& p) override;
    // Clears the progress line, so that what follows starts on a clean line.
    void finish();

private:
    // One line of standard input without its line break; false at the end of the
    // input or when the stop flag is raised.
    bool readLine(std::string* line);
    // Shows the question and reads the answer; false (after ending the line) when
    // none came.
    bool prompt(const std::string& question, std::string* answer);
    void clearLineLocked();

    const std::atomic<bool>& m_stop;
    const CliTexts m_texts;
    bool m_interactive = false;
    bool m_showProgress = false;
    std::mutex m_mutex;  // one writer on the terminal at a time
    bool m_lineShown = false;
    std::uint32_t m_lastTick = 0;
    int m_lastFilePercent = -1;
    std::size_t m_lastIndex = 0;
    std::size_t m_lastTrimRegions = 0;
    std::uint32_t m_lastRetryPass = 0;
};

// The progress line before the file's name: the file's and the run's percent with
// the speed and the time left, or with the speed and the pass at the end of the file
// (the trim or a retry pass, in the language file's words) and the regions it has
// still to read.
std::string progressHead(const Progress& p, const CliTexts& texts = CliTexts());
// The whole progress line in at most width columns: the head, then the file's name
// (escaped, and cut at its start when it is too long).
std::string progressLine(const Progress& p, std::size_t width, const CliTexts& texts = CliTexts());

// Text of a byte count with three or four significant digits: "512 B", "1.5 KiB".
std::string formatBytes(std::uint64_t bytes);
// "hh:mm:ss", or "--:--:--" for a day or more.
std::string formatDuration(std::uint64_t seconds);

}  // namespace tessaly::cli
