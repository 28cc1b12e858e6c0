#include "cli/terminal_console.h"

#include <algorithm>
#include <cstdio>

#include "cli/escaped_name.h"
#include "platform/clock.h"
#include "platform/terminal.h"
#include "run/failure_message.h"

namespace tessaly::cli {

namespace {

constexpr std::uint32_t kProgressIntervalMs = 250;

std::size_t terminalWidth()
{
    const std::size_t columns = terminalColumns(stderr);
    return columns > 20 ? columns : 80;
}

}  // namespace

std::string formatBytes(std::uint64_t bytes)
{
    static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    } else {
        std::snprintf(text, sizeof text, "%.*g %s", value >= 1000.0 ? 4 : 3, value, kUnits[unit]);
    }
    return text;
}

std::string formatDuration(std::uint64_t seconds)
{
    if (seconds >= 86400) return "--:--:--";
    const auto s = static_cast<unsigned>(seconds);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
    return text;
}

TerminalConsole::TerminalConsole(bool quiet, const std::atomic<bool>& stop, CliTexts texts)
    : m_stop(stop),
      m_texts(std::move(texts)),
      m_interactive(isTerminal(stdin)), m_showProgress(!quiet && isTerminal(stderr))
{
}

bool TerminalConsole::readLine(std::string* line)
{
    line->clear();
    for (;;) {
        if (m_stop.load()) return false;
        // Short waits, so that a stop raised on another thread ends the question.
        const InputWait wait = waitForInput(100);
        if (wait == InputWait::Failed) return false;
        if (wait == InputWait::TimedOut) continue;
        const int c = readInputByte();
        if (c < 0) return !line->empty();
        if (c == '\n') return true;
        *line += static_cast<char>(c);
    }
}

bool TerminalConsole::prompt(const std::string& question, std::string* answer)
{
    std::lock_guard lock(m_mutex);
    clearLineLocked();
    std::fprintf(stderr, "%s ", question.c_str());
    std::fflush(stderr);
    if (readLine(answer)) return true;
    std::fputc('\n', stderr);
    return false;
}

bool TerminalConsole::confirm(const std::string& question, bool defaultYes)
{
    std::string answer;
    if (!prompt(question + (defaultYes ? " [Y/n]" : " [y/N]"), &answer)) return false;
    if (answer.empty()) return defaultYes;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

std::string TerminalConsole::askLine(const std::string& question)
{
    std::string answer;
    return prompt(question, &answer) ? answer : std::string();
}

void TerminalConsole::message(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    clearLineLocked();
    std::fprintf(stderr, "tessaly-cli: %s\n", text.c_str());
    std::fflush(stderr);
}

std::string progressHead(const Progress& p, const CliTexts& texts)
{
    char head[160];
    const std::string speed = p.bytesPerSecond ? formatBytes(p.bytesPerSecond) + "/s" : "--";
    if (p.trimRegions > 0) {
        // The file is covered: its time left no longer applies, the speed of the pass does.
        std::snprintf(head, sizeof head, "[%zu/%zu] %3d%% file %3d%% all  %s  ", p.index + 1,
                      p.count, p.filePercent, p.totalPercent, speed.c_str());
        return head + passText(p.retryPass, p.retryPasses, p.again, p.trimRegions,
                               [&texts](int id) { return texts.text(id); }) +
               "  ";
    }
    if (p.silentSeconds > 0) {
        // A read stuck in the drive: the speed and the time left say nothing now.
        std::snprintf(head, sizeof head, "[%zu/%zu] %3d%% file %3d%% all  drive not answering for %s  ",
                      p.index + 1, p.count, p.filePercent, p.totalPercent,
                      formatDuration(p.silentSeconds).c_str());
        return head;
    }
    std::snprintf(head, sizeof head, "[%zu/%zu] %3d%% file %3d%% all  %s  %s left  ", p.index + 1,
                  p.count, p.filePercent, p.totalPercent, speed.c_str(),
                  formatDuration(p.secondsLeft).c_str());
    const std::string phase = phaseText(p.phase, [&texts](int id) { return texts.text(id); });
    return phase.empty() ? std::string(head) : head + phase + "  ";
}

std::string progressLine(const Progress& p, std::size_t width, const CliTexts& texts)
{
    std::string line = progressHead(p, texts);
    const std::string name = p.source ? escapedName(*p.source) : std::string();
    if (line.size() + name.size() <= width) {
        line += name;
    } else if (line.size() + 4 < width) {
        line += "..." + name.substr(name.size() - (width - line.size() - 3));
    }
    return line;
}

void TerminalConsole::progress(const Progress& p)
{
    if (!m_showProgress) return;
    // A question on another thread owns the terminal; progress waits for the next poll.
    std::unique_lock lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock()) return;
    const std::uint32_t now = tickCount();
    if (p.index == m_lastIndex && p.filePercent == m_lastFilePercent &&
        p.trimRegions == m_lastTrimRegions && p.retryPass == m_lastRetryPass &&
        now - m_lastTick < kProgressIntervalMs) {
        return;
    }
    m_lastIndex = p.index;
    m_lastFilePercent = p.filePercent;
    m_lastTrimRegions = p.trimRegions;
    m_lastRetryPass = p.retryPass;
    m_lastTick = now;
    const std::string line = progressLine(p, terminalWidth() - 1, m_texts);
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    m_lineShown = true;
}

void TerminalConsole::finish()
{
    std::lock_guard lock(m_mutex);
    clearLineLocked();
}

void TerminalConsole::clearLineLocked()
{
    if (!m_lineShown) return;
    std::fputs("\r\033[K", stderr);
    m_lineShown = false;
}

}  // namespace tessaly::cli
