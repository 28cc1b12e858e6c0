#include "cli/copy_driver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/clock.h"

namespace tessaly::cli {

namespace {

constexpr std::uint32_t kPollMs = 20;
// The first 20 ms of a file are watched more closely, so that a run of small files
// does not wait a whole poll for each of them.
constexpr std::uint32_t kQuickPolls = 200;
constexpr std::chrono::microseconds kQuickPollInterval{100};

// The longest path of another copy the run takes.
constexpr std::size_t kLongestCopyPath = 259;

const char* policyName(ExistingPolicy policy)
{
    switch (policy) {
        case ExistingPolicy::Replace:
            return "replace";
        case ExistingPolicy::Append:
            return "append";
        case ExistingPolicy::Resume:
            return "resume";
        default:
            return "skip";
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
                       const std::atomic<bool>& stop, const CliTexts& texts)
    : m_engine(engine), m_options(options), m_console(console), m_stop(stop), m_texts(texts)
{
    m_engine.setQueryCallback([this](EngineQuery& query) { return answerQuery(query); });
}

CopyDriver::~CopyDriver()
{
    m_engine.setQueryCallback(nullptr);
}

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
    // Two sources with one destination (files of the same name from different
    // folders) would end as one file made of both; the later one is not copied.
    // A copy log lies beside its copy under the copy's name with ".log" appended: a
    // file of that name copied in the same run would be overwritten by the log, or
    // taken for the copy to continue.
    const std::string logOfThis = m_destination + ".log";
    const bool clashesWithALog =
        m_destinations.contains(logOfThis) ||
        (m_destination.ends_with(".log") &&
         m_destinations.contains(m_destination.substr(0, m_destination.size() - 4)));
    if (clashesWithALog || !m_destinations.insert(m_destination).second) {
        result.status = "SameDestination";
        if (clashesWithALog) {
            m_console.message("Not copied: " + item.source + " and a file copied before it in " +
                              "this run would share " + m_destination + " or " + logOfThis +
                              " as a copy and a copy log.");
        } else {
            m_console.message("Not copied: " + item.source + " has the same copy " + m_destination +
                              " as a file copied before it in this run.");
        }
        return result;
    }
    if (!m_engine.startFile(item.source, m_options.outputFolder, item.baseFolder)) {
        const EngineStatus status = m_engine.status();
        result.status = statusName(status);
        reportFailure(status, item.source);
        return result;
    }
    pollUntilIdle(item);

    // Both counts describe the copy as it stands, earlier runs included: a poll after
    // startFile may already see this run's progress, so where it began is not known.
    const EngineStatus status = m_engine.status();
    result.status = statusName(status);
    result.complete = status == EngineStatus::Ok;
    if (result.complete && m_engine.skippedExisting()) {
        // The copy was left as it is: nothing was copied, and its state is its own.
        result.status = "Skipped";
        return result;
    }
    // The engine keeps the filled bytes in a signed 32-bit count; fills of 2 GiB or
    // more of a file below 4 GiB show there as negative, so the count is read unsigned.
    const std::int64_t filled = static_cast<std::uint32_t>(m_engine.filledBytes());
    const std::int64_t covered = m_engine.position();
    result.copied = static_cast<std::uint64_t>(std::max<std::int64_t>(covered - filled, 0));
    result.filled = static_cast<std::uint64_t>(filled);
    if (!result.complete) reportFailure(status, item.source);
    return result;
}

void CopyDriver::pollUntilIdle(const CopyItem& item)
{
    bool stopSent = false;
    std::uint32_t polls = 0;
    for (bool more = true; more; ++polls) {
        // Busy is read first: once it is clear the worker's final counters are in place.
        more = m_engine.busy();
        if (more && !stopSent && m_stop.load()) {
            m_engine.requestStop(false);
            stopSent = true;
        }
        if (!more || polls == 0 || polls >= kQuickPolls) showProgress(item);
        if (!more) break;
        if (polls < kQuickPolls) {
            std::this_thread::sleep_for(kQuickPollInterval);
        } else {
            sleepMs(kPollMs);
        }
    }
}

void CopyDriver::showProgress(const CopyItem& item)
{
    Progress p;
    p.index = m_index;
    p.count = m_count;
    p.source = &item.source;
    p.filePercent = static_cast<int>(m_engine.progress() * 100.0f);
    const std::uint64_t done = std::min(m_doneSize + m_engine.position(), m_totalSize);
    p.totalPercent = m_totalSize == 0 ? 100 : static_cast<int>(done * 100 / m_totalSize);
    const std::uint32_t shortRate = m_engine.shortRate();
    p.bytesPerSecond = shortRate > 1 ? shortRate : 0;
    const std::uint32_t end = m_engine.destinationEnd();
    const std::uint32_t at = m_engine.destinationPosition();
    p.secondsLeft = (end > at ? end - at : 0) / std::max<std::uint32_t>(m_engine.longRate(), 1);
    p.trimRegions = m_engine.trimmingRegions();
    m_console.progress(p);
}

std::string CopyDriver::failureText(EngineStatus status, const std::string& source) const
{
    const auto t = [this](std::uint32_t id) { return m_texts.text(id); };
    const std::string file = t(kTextFile) + " " + source + "\n";
    switch (status) {
        case EngineStatus::SourceOpenFailed:
            return file + t(kTextCannotBeOpened);
        case EngineStatus::DestinationOpenFailed:
            return file + t(kTextCannotBeOpened) + "\n\n" + t(kTextProblemWithCopy);
        case EngineStatus::DestinationCreateFailed:
            return t(kTextCannotCreate) + " " + source + "\n" + t(kTextCheckFolder) + "\n\n" +
                   t(kTextProblemWithCopy);
        case EngineStatus::LogOpenFailed:
            return file + t(kTextCannotBeOpened) + "\n\n" + t(kTextProblemWithLog);
        case EngineStatus::LogCreateFailed:
            return t(kTextCannotCreate) + " " + source + "\n" + t(kTextCheckFolder) + "\n\n" +
                   t(kTextProblemWithLog);
        case EngineStatus::DiskFull:
            return t(kTextNoFreeSpace) + " " + source;
        case EngineStatus::WriteFailed:
            return t(kTextWriteFailed) + "\n" + file;
        case EngineStatus::SourceTooLarge:
            return file + t(kTextSourceTooLarge);
        case EngineStatus::FreeSpaceUnknown:
            return file + t(kTextFreeSpaceUnknown);
        case EngineStatus::WorkerStartFailed:
            return file + t(kTextWorkerStartFailed);
        // The window shows nothing for these; a terminal user needs the reason and the way on.
        case EngineStatus::NoLogRefused:
            return file +
                   "exists in the output folder without a usable copy log and was left "
                   "unchanged; --yes continues it after its last byte.";
        case EngineStatus::NotReady:
            return file +
                   "The medium is not ready (removed?); the same command continues the copy.";
        default:
            return {};
    }
}

void CopyDriver::reportFailure(EngineStatus status, const std::string& source)
{
    std::string text = failureText(status, source);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty()) m_console.message(text);
}

bool CopyDriver::answerQuery(EngineQuery& query)
{
    switch (query.kind) {
        case QueryKind::AddReserved:
        case QueryKind::AskReserved:
            return askForCopy(query);
        case QueryKind::NoLog:
            if (m_options.yes) return true;
            if (!m_console.interactive() || m_stop.load()) return false;
            return m_console.confirm(m_texts.text(kTextFile) + " " + m_destination + "\n" +
                                         m_texts.text(kTextLogMissing),
                                     false);
        case QueryKind::Existing:
            if (m_options.yes || !m_console.interactive()) return true;
            if (m_stop.load()) return false;
            return m_console.confirm(m_texts.text(kTextFile) + " " + m_destination + "\n" +
                                         m_texts.text(kTextDestinationExists) + " (" +
                                         policyName(m_options.engine.existingPolicy) + ")",
                                     true);
    }
    return true;
}

bool CopyDriver::askForCopy(EngineQuery& query)
{
    if (!m_console.interactive() || m_stop.load()) return false;
    std::string question;
    const std::string file = m_texts.text(kTextFile) + " " + m_source + "\n";
    switch (m_engine.status()) {
        case EngineStatus::CopyAlreadyUsed:
            question =
                file + m_texts.text(kTextCopyInUse) + "\n" + m_texts.text(kTextChooseAnotherCopy);
            break;
        case EngineStatus::CopyOpenFailed:
            question = file + m_texts.text(kTextCannotBeOpened) + "\n" +
                       m_texts.text(kTextChooseAnotherCopy);
            break;
        default:
            question = file + m_texts.text(kTextSectorsUnreadable);
            break;
    }
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
