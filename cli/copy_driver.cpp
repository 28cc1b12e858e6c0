#include "cli/copy_driver.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/clock.h"

namespace tessaly::cli {

namespace {

constexpr std::uint32_t kPollMs = 20;

const char* policyWords(std::int32_t policy)
{
    switch (policy) {
        case 0: return "Replace it (its content is lost)";
        case 1: return "Append the source after its content";
        case 2: return "Continue it";
        default: return "Leave it unchanged";
    }
}

std::string failureText(EngineStatus status, const std::string& source)
{
    switch (status) {
        case EngineStatus::SourceOpenFailed:
            return "Cannot open " + source + "\nThe file cannot be read.";
        case EngineStatus::DestinationOpenFailed:
            return "Cannot open the copy of " + source +
                   "\nThe existing copy cannot be opened for writing.";
        case EngineStatus::DestinationCreateFailed:
            return "Cannot create the copy of " + source +
                   "\nThe output folder cannot receive the file.";
        case EngineStatus::LogOpenFailed:
            return "Cannot open the copy log of " + source + "\nThe log cannot be opened.";
        case EngineStatus::LogCreateFailed:
            return "Cannot create the copy log of " + source + "\nThe log cannot be created.";
        case EngineStatus::DiskFull:
            return "Not enough free space in the output folder for " + source;
        case EngineStatus::WriteFailed:
            return "Writing the copy of " + source + " failed; the copy is incomplete.";
        case EngineStatus::NoLogRefused:
            return "The copy of " + source +
                   " exists without a usable copy log; not continued (--yes continues it after "
                   "its last byte).";
        case EngineStatus::NotReady:
            return "The medium of " + source +
                   " is not ready (removed?); run the same command again to continue.";
        case EngineStatus::SourceTooLarge:
            return "Cannot copy " + source + "\nFiles of 4 GiB or more cannot be copied.";
        case EngineStatus::FreeSpaceUnknown:
            return "Cannot copy " + source + "\nThe output volume cannot report its free space.";
        case EngineStatus::WorkerStartFailed:
            return "Cannot copy " + source + "\nThe copy thread could not be started.";
        default:
            return {};
    }
}

}  // namespace

int exitStatusFor(const RunReport& report, bool listComplete)
{
    if (report.notReady) return 3;
    const bool allComplete = std::all_of(report.files.begin(), report.files.end(),
                                         [](const FileResult& f) { return f.complete; });
    if (report.stopped || !listComplete || !allComplete) return 2;
    const bool anyFilled = std::any_of(report.files.begin(), report.files.end(),
                                       [](const FileResult& f) { return f.filled > 0; });
    return anyFilled ? 1 : 0;
}

CopyDriver::CopyDriver(CopyEngine& engine, const CopyOptions& options, Console& console,
                       const std::atomic<bool>& stop)
    : m_engine(engine), m_options(options), m_console(console), m_stop(stop)
{
    m_engine.setQueryCallback(
        [this](EngineQuery& query, void*) { return answerQuery(query); }, nullptr);
}

CopyDriver::~CopyDriver() { m_engine.setQueryCallback(nullptr, nullptr); }

RunReport CopyDriver::run(const CopyList& list)
{
    RunReport report;
    m_count = list.items.size();
    m_totalSize = list.totalSize;
    m_doneSize = 0;
    for (std::size_t i = 0; i < list.items.size(); ++i) {
        const CopyItem& item = list.items[i];
        if (m_stop.load()) report.stopped = true;
        if (report.stopped || report.notReady) {
            report.files.push_back({item.source, "NotStarted", false, 0, 0});
            continue;
        }
        m_index = i;
        FileResult result = copyOne(item);
        if (result.status == statusName(EngineStatus::NotReady)) report.notReady = true;
        m_doneSize += item.size;
        report.files.push_back(std::move(result));
    }
    if (m_stop.load()) report.stopped = true;
    return report;
}

FileResult CopyDriver::copyOne(const CopyItem& item)
{
    FileResult result{item.source, {}, false, 0, 0};
    m_source = item.source;
    m_destination = destinationFor(item, m_options.outputFolder);
    // Replace would empty the source itself, and Resume or Append would read what
    // they write; a copy onto its own source is never started.
    std::error_code ec;
    if (std::filesystem::equivalent(item.source, m_destination, ec)) {
        result.status = "SameFile";
        m_console.message("Not copied: " + item.source + " would be its own copy.");
        return result;
    }
    if (!m_engine.startFile(item.source, m_options.outputFolder, item.baseFolder)) {
        const EngineStatus status = m_engine.status();
        result.status = statusName(status);
        reportFailure(status, item.source);
        return result;
    }
    const std::uint32_t startPosition = m_engine.position();
    const std::int32_t startFilled = m_engine.filledBytes();
    pollUntilIdle(item);

    const EngineStatus status = m_engine.status();
    result.status = statusName(status);
    result.complete = status == EngineStatus::Ok;
    const std::int64_t filled = std::max<std::int32_t>(m_engine.filledBytes(), 0);
    const std::int64_t covered = std::int64_t{m_engine.position()} - startPosition;
    const std::int64_t filledNow = filled - std::max<std::int32_t>(startFilled, 0);
    result.copied = static_cast<std::uint64_t>(std::max<std::int64_t>(covered - filledNow, 0));
    result.filled = static_cast<std::uint64_t>(filled);
    if (!result.complete) reportFailure(status, item.source);
    return result;
}

void CopyDriver::pollUntilIdle(const CopyItem& item)
{
    bool stopSent = false;
    for (bool more = true; more;) {
        // Busy is read first: once it is clear the worker's final counters are in place.
        more = m_engine.busy();
        if (more && !stopSent && m_stop.load()) {
            m_engine.requestStop(false);
            stopSent = true;
        }
        Progress p;
        p.index = m_index;
        p.count = m_count;
        p.source = &item.source;
        p.filePercent = static_cast<int>(m_engine.progress() * 100.0f);
        const std::uint64_t done = m_doneSize + m_engine.position();
        p.totalPercent = m_totalSize == 0
                             ? 100
                             : static_cast<int>(std::min<std::uint64_t>(done, m_totalSize) * 100 /
                                                m_totalSize);
        const std::uint32_t shortRate = m_engine.shortRate();
        p.bytesPerSecond = shortRate > 1 ? shortRate : 0;
        const std::uint32_t end = m_engine.destinationEnd();
        const std::uint32_t at = m_engine.destinationPosition();
        p.secondsLeft = (end > at ? end - at : 0) / std::max<std::uint32_t>(m_engine.longRate(), 1);
        m_console.progress(p);
        if (more) sleepMs(kPollMs);
    }
}

void CopyDriver::reportFailure(EngineStatus status, const std::string& source)
{
    const std::string text = failureText(status, source);
    if (!text.empty()) m_console.message(text);
}

std::int32_t CopyDriver::answerQuery(EngineQuery& query)
{
    switch (query.kind) {
        case 0:
        case 1:
            return askForCopy(query);
        case 2:
            if (m_options.yes) return 1;
            if (!m_console.interactive() || m_stop.load()) return 0;
            return m_console.confirm(m_destination +
                                         " exists, but its copy log is missing or unusable.\n"
                                         "Continue after its last byte without the log?",
                                     false)
                       ? 1
                       : 0;
        case 3:
            if (m_options.yes || !m_console.interactive()) return 1;
            if (m_stop.load()) return 0;
            return m_console.confirm(m_destination + " exists. " +
                                         policyWords(m_options.existingPolicy) + "?",
                                     true)
                       ? 1
                       : 0;
        default:
            return 1;
    }
}

std::int32_t CopyDriver::askForCopy(EngineQuery& query)
{
    if (!m_console.interactive() || m_stop.load() || !query.buffer || query.bufferSize <= 0) {
        return 0;
    }
    std::string question;
    switch (m_engine.status()) {
        case EngineStatus::CopyAlreadyUsed:
            question = "That copy is already in use.\n";
            break;
        case EngineStatus::CopyOpenFailed:
            question = "That copy cannot be opened.\n";
            break;
        default:
            question = "A part of " + m_source + " cannot be read.\n";
            break;
    }
    question += "Path of another copy of the file (empty: none):";
    const std::string path = m_console.askLine(question);
    if (path.empty()) return 0;
    if (path.size() >= static_cast<std::size_t>(query.bufferSize)) {
        m_console.message("The path is too long; no other copy is used.");
        return 0;
    }
    std::memcpy(query.buffer, path.c_str(), path.size() + 1);
    return 1;
}

}  // namespace tessaly::cli
