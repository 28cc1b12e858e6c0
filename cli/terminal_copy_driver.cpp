#include "cli/terminal_copy_driver.h"

#include <algorithm>
#include <cstring>

#include "cli/escaped_name.h"
#include "cli/terminal_console.h"
#include "run/failure_message.h"

namespace tessaly::cli {

namespace {

// The longest path of another copy the run takes.
constexpr std::size_t kLongestCopyPath = 259;

}  // namespace

std::string FileResult::status() const
{
    if (!reached) return "NotStarted";
    if (step.outcome == FileOutcome::Refused) {
        return step.verdict == GuardVerdict::SameFile ? "SameFile" : "SameDestination";
    }
    if (step.figures.skippedExisting) return "Skipped";
    return statusName(step.status);
}

std::string runSummary(const RunReport& report)
{
    std::size_t complete = 0;
    std::size_t damaged = 0;
    std::uint64_t copied = 0;
    std::uint64_t filled = 0;
    std::uint64_t notRead = 0;
    for (const FileResult& f : report.files) {
        if (f.reached && f.step.damaged()) {
            ++damaged;
            notRead += f.filled();
        } else if (f.complete()) {
            ++complete;
        }
        copied += f.copied();
        filled += f.filled();
    }
    std::string line = std::to_string(report.files.size()) + " file(s): " +
                       std::to_string(complete) + " complete, " + std::to_string(damaged) +
                       " damaged (" + formatBytes(notRead) + " not read), " +
                       std::to_string(report.files.size() - complete - damaged) +
                       " failed or incomplete; " + formatBytes(copied) + " copied, " +
                       formatBytes(filled) + " filled";
    if (report.notReady) return line + "; stopped: the medium was removed";
    if (report.stopped) return line + "; stopped on request";
    return line;
}

int exitStatusFor(const RunReport& report, bool listComplete)
{
    if (report.notReady) return 3;
    const bool allComplete = std::all_of(report.files.begin(), report.files.end(),
                                         [](const FileResult& f) { return f.complete(); });
    if (report.stopped || !listComplete || !allComplete) return 2;
    const bool anyFilled = std::any_of(report.files.begin(), report.files.end(),
                                       [](const FileResult& f) { return f.filled() > 0; });
    return anyFilled ? 1 : 0;
}

TerminalCopyDriver::TerminalCopyDriver(CopyEngine& engine, FileSystem& fs,
                                       const CopyOptions& options, Console& console,
                                       const std::atomic<bool>& stop, const CliTexts& texts)
    : m_engine(engine),
      m_options(options),
      m_console(console),
      m_stop(stop),
      m_texts(texts),
      m_step(engine, fs)
{
    m_engine.setQueryCallback([this](EngineQuery& query) { return answerQuery(query); });
    if (m_options.waitForMedium) {
        m_step.setMediumWait({true, m_options.waitSeconds * 1000u, 1000},
                             [this](const WaitStatus& status) { reportWait(status); });
    }
}

TerminalCopyDriver::~TerminalCopyDriver()
{
    m_engine.setQueryCallback(nullptr);
}

RunReport TerminalCopyDriver::run(const CopyList& list)
{
    RunReport report;
    m_count = list.entries.size();
    m_totalSize = list.totalSize;
    m_doneSize = 0;
    m_step.beginRun();
    for (std::size_t i = 0; i < list.entries.size(); ++i) {
        const FileEntry& entry = list.entries[i];
        if (m_stop.load()) report.stopped = true;
        if (report.stopped || report.notReady) {
            report.files.push_back({entry.name, false, {}});
            continue;
        }
        m_index = i;
        FileResult result = copyOne(entry);
        if (result.step.status == EngineStatus::NotReady) report.notReady = true;
        m_doneSize += entry.size;
        report.files.push_back(std::move(result));
    }
    m_step.endRun();
    if (m_stop.load()) report.stopped = true;
    return report;
}

FileResult TerminalCopyDriver::copyOne(const FileEntry& entry)
{
    m_source = entry.name;
    m_sawOtherMedium = false;
    FileResult result{entry.name, true, {}};
    result.step = m_step.copy(
        entry, m_options.outputFolder, [&](const EngineSnapshot& engine) { showProgress(entry, engine); }, &m_stop);
    if (result.step.outcome == FileOutcome::Refused) {
        reportRefusal(result.step, entry.name);
    } else if (!result.complete()) {
        reportFailure(result.step, entry.name);
    }
    if (result.step.figures.withoutLog) {
        m_console.message(composeRunMessage(withoutLogMessage(entry.name),
                                            [this](int id) { return m_texts.text(id); }));
    }
    return result;
}

void TerminalCopyDriver::showProgress(const FileEntry& entry, const EngineSnapshot& engine)
{
    ListPlace place;
    place.copying = true;
    place.index = static_cast<std::uint32_t>(m_index);
    place.count = static_cast<std::uint32_t>(m_count);
    place.totalSize = m_totalSize;
    place.doneSize = m_doneSize;
    place.onLine = true;
    const RunFigures figures = runFigures(engine, place);
    Progress p;
    p.index = m_index;
    p.count = m_count;
    p.source = &entry.name;
    p.filePercent = figures.filePercent;
    p.totalPercent = figures.totalPercent;
    p.bytesPerSecond = figures.times.speed == RunTimes::Speed::Measured ? figures.times.rate : 0;
    p.secondsLeft = figures.times.thisFileSeconds;
    p.trimRegions = figures.passRegions;
    p.retryPass = figures.retryPass;
    p.retryPasses = figures.retryPasses;
    p.again = figures.again;
    p.phase = figures.phase;
    p.silentSeconds = figures.silentSeconds;
    m_console.progress(p);
}

void TerminalCopyDriver::reportWait(const WaitStatus& status)
{
    // A line when the wait begins and whenever what stands at the source's place
    // changes; the seconds waited are not worth a line each.
    const bool begins = status.waitedMs == 0 && !status.otherMedium;
    if (!begins && status.otherMedium == m_sawOtherMedium) return;
    m_sawOtherMedium = status.otherMedium;
    const std::string name = escapedName(m_source);
    if (status.otherMedium) {
        m_console.message("The medium now in the drive holds another file under the name " +
                          name + ", not the one its copy was made from; nothing was written to "
                          "the copy. Waiting for the medium of the copy (Ctrl-C ends the wait).");
        return;
    }
    std::string limit = "until interrupted (Ctrl-C)";
    if (m_options.waitSeconds != 0) {
        limit = "for at most " + std::to_string(m_options.waitSeconds) + " s (Ctrl-C ends it sooner)";
    }
    m_console.message("The medium of " + name +
                      " went away. Waiting for it to come back, " + limit +
                      "; the copy goes on once the same medium is back.");
}

void TerminalCopyDriver::reportRefusal(const StepResult& step, const std::string& source)
{
    m_console.message(composeRunMessage(refusalMessage(step.verdict, escapedName(source)),
                                        [this](int id) { return m_texts.text(id); }));
}

void TerminalCopyDriver::reportFailure(const StepResult& step, const std::string& source)
{
    const EngineStatus status = step.status;
    const std::string name = escapedName(source);
    const std::string file = m_texts.text(text::kFileWord) + " " + name;
    std::string text;
    if (const std::optional<RunMessage> message = failureMessage(
            status, name, step.destination.empty() ? std::string() : escapedName(step.destination),
            step.deviceAccessDenied)) {
        text = composeRunMessage(*message, [this](int id) { return m_texts.text(id); });
        // No list line beside the terminal names the file of a message that names none,
        // or only its copy.
        if (message->name != name) text += "\n" + file;
    } else if (status == EngineStatus::NoLogRefused) {
        // The window shows nothing for these; a terminal user needs the reason and the way on.
        text = file +
               "\nexists in the output folder without a usable copy log and was left "
               "unchanged; --yes continues it after its last byte.";
    } else if (status == EngineStatus::NotReady) {
        text = file + "\nThe medium is not ready (removed?); the same command continues the copy.";
        if (m_options.waitForMedium) text += "\nThe wait for it has ended.";
    }
    if (!text.empty()) m_console.message(text);
}

bool TerminalCopyDriver::answerQuery(EngineQuery& query)
{
    switch (query.kind) {
        case QueryKind::AddReserved:
        case QueryKind::AskReserved:
            return askForCopy(query);
        case QueryKind::NoLog:
            if (m_options.yes) return true;
            if (!m_console.interactive() || m_stop.load()) return false;
            return m_console.confirm(m_texts.text(text::kFileWord) + " " +
                                         escapedName(m_engine.destinationPath()) + "\n" +
                                         m_texts.text(text::kLogMissing),
                                     false);
        case QueryKind::Existing:
            if (m_options.yes || !m_console.interactive()) return true;
            if (m_stop.load()) return false;
            return m_console.confirm(m_texts.text(text::kFileWord) + " " +
                                         escapedName(m_engine.destinationPath()) + "\n" +
                                         m_texts.text(text::kDestinationExists) + " (" +
                                         std::string(policyName(m_engine.settings().existingPolicy)) + ")",
                                     true);
    }
    return true;
}

bool TerminalCopyDriver::askForCopy(EngineQuery& query)
{
    if (!m_console.interactive() || m_stop.load()) return false;
    // No list line beside the terminal names the file the question is about.
    std::string question = m_texts.text(text::kFileWord) + " " + escapedName(m_source) + "\n" +
                           composeRunMessage(otherCopyQuestion(m_engine.status(),
                                                               escapedName(query.path)),
                                             [this](int id) { return m_texts.text(id); });
    question += "\nPath of the other copy (an empty line: none):";
    const std::string path = m_console.askLine(question);
    if (path.empty()) return false;
    if (path.size() > kLongestCopyPath) {
        m_console.message("The path is too long; no other copy is used.");
        return false;
    }
    query.path = path;
    return true;
}

}  // namespace tessaly::cli
