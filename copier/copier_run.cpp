#include "copier/copier_run.h"

#include <QLabel>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <memory>

#include "copier/copier_window.h"
#include "platform/clock.h"
#include "platform/stop_signals.h"
#include "run/copy_list.h"
#include "run/folder_scan.h"
#include "texts/text_ids.h"
#include "ui/entry_icons.h"
#include "ui/file_list_control.h"
#include "ui/size_format.h"

namespace tessaly {

namespace {

// A scan hands its lines to the window in batches: at most this many, at least this often.
constexpr std::size_t kScanBatch = 4096;
constexpr std::uint32_t kScanPostInterval = 50;  // ms
// How soon the exit looks again at an engine that runs with no driver left.
constexpr int kEngineRecheckMs = 10;

}  // namespace

CopierRun::CopierRun(CopierWindow& window, FileSystem& fs, ListCopyDriver::Timing timing)
    : m_window(window),
      m_volumes(fs),
      m_fs(m_volumes),
      m_engine(m_fs),
      m_host(window, *this),
      m_driver(m_engine, m_fs, m_counters, m_exiting, m_host, timing)
{
    connect(&m_workers, &WorkerGroup::emptied, this, [this] {
        if (m_exiting.load()) {
            endWhenIdle();
        }
    });
}

CopierRun::~CopierRun()
{
    m_exiting.store(true);
    m_counters.copying.store(false);
    m_driver.requestStop();
    m_engine.requestStop(false);
}

RunFigures CopierRun::figures() const
{
    ListPlace place = m_counters.place();
    // The line the run holds counts with what its copy has reached so far.
    place.onLine = m_list != nullptr && place.index < place.count &&
                   m_list->lines().entry(static_cast<int>(place.index)).state == EntryState::InProgress;
    return runFigures(m_engine.snapshot(), place);
}

void CopierRun::startDriver()
{
    m_workers.start([this] { m_driver.runDriver(); });
}

void CopierRun::addPaths(const std::vector<std::string>& paths, const std::string& outputFolder,
                         const AddResults& results)
{
    const auto noBase = std::make_shared<const std::string>();
    std::vector<FileEntry> entries;
    bool scanning = false;
    for (const std::string& name : paths) {
        if (m_fs.isDirectory(name)) {
            startScan(name, outputFolder, results);
            scanning = true;
            continue;
        }
        if (m_fs.isBlockDevice(name)) {
            // A whole medium, named on its own: its size needs no access to it, so a
            // user without that access learns how to get it when the copy starts.
            const std::optional<std::uint64_t> size = m_fs.fileSize(name);
            if (!size) {
                results.cannotOpen(name);
                continue;
            }
            entries.push_back({noBase, name, *size, EntryState::Fresh});
            continue;
        }
        SysError error = 0;
        const std::unique_ptr<File> file =
            m_fs.open(name, Disposition::OpenExisting, Access::Read, &error);
        const std::int64_t size = file ? file->size() : -1;
        if (size < 0) {
            results.cannotOpen(name);
            continue;
        }
        entries.push_back({noBase, name, static_cast<std::uint64_t>(size), EntryState::Fresh});
    }
    results.lines(std::move(entries));
    if (!scanning) {
        results.done();  // a scan does this when it has listed its files
    }
}

void CopierRun::scanLines(FileSystem& fs, const std::vector<std::string>& paths,
                          const FileEntry& model, const std::string& excluded,
                          const AddResults& results,
                          const std::function<void(const std::string&)>& unreadable)
{
    std::vector<FileEntry> batch;
    std::uint32_t lastPost = tickCount();
    const auto post = [&] {
        m_workers.post(
            [lines = std::move(batch), to = results.lines]() mutable { to(std::move(lines)); });
        batch.clear();
        lastPost = tickCount();
    };
    const ScanSink sink{[&](const std::string& path, std::uint64_t size) {
                            FileEntry& line = batch.emplace_back(model);
                            line.name = path;
                            line.size = size;
                            if (batch.size() >= kScanBatch ||
                                tickCount() - lastPost >= kScanPostInterval) {
                                post();
                            }
                        },
                        unreadable};
    scanPaths(fs, paths, excluded, m_exiting, sink);
    post();
}

void CopierRun::startScan(const std::string& folder, const std::string& outputFolder,
                          AddResults results)
{
    m_workers.start([this, folder, outputFolder, results = std::move(results)] {
        if (const std::optional<SourceFolder> source = resolveSourceFolder(m_fs, folder)) {
            const FileEntry model{source->base, {}, 0, EntryState::Fresh,
                                  std::make_shared<const std::string>(source->resolved)};
            scanLines(m_fs, {source->resolved}, model, excludedOutputFolder(m_fs, outputFolder),
                      results, [](const std::string&) {});
        } else {
            m_workers.post([to = results.lines] { to({}); });
        }
        m_workers.post(results.done);
    });
}

void CopierRun::addVolume(const std::string& path, VolumePick pick, AddResults results)
{
    m_workers.start([this, path, pick = std::move(pick), results = std::move(results)] {
        std::string error;
        const std::shared_ptr<OpenedVolume> opened = m_volumes.open(path, &error);
        if (!opened) {
            m_workers.post([path, error, to = results.volumeUnreadable] { to(path, error); });
            m_workers.post(results.done);
            return;
        }
        const std::vector<std::string> picked = m_workers.call([&] {
            return m_exiting.load() ? std::vector<std::string>{} : pick(*opened);
        });
        // No scanned folder: the volume's folders lie inside its image or device, never
        // around the output folder. The scan goes through the volume's own file system,
        // so that what it could not list is this scan's alone.
        const FileEntry model{VolumeSet::baseOf(opened), {}, 0, EntryState::Fresh};
        std::vector<std::pair<std::string, std::string>> unlisted;
        scanLines(*opened->files, picked, model, {}, results,
                  [&](const std::string& folder) { unlisted.emplace_back(folder, std::string()); });
        for (auto& entry : opened->files->takeUnlisted()) unlisted.push_back(std::move(entry));
        if (!unlisted.empty()) {
            m_workers.post([unlisted = std::move(unlisted), to = results.notListed]() mutable {
                to(std::move(unlisted));
            });
        }
        m_workers.post(results.done);
    });
}

void CopierRun::start()
{
    m_driver.clearStop();
    m_counters.copying.store(true);
}

void CopierRun::stop()
{
    m_counters.copying.store(false);
    // The driver keeps the line current and marks it when the engine's worker has left.
    m_driver.requestStop();
    m_engine.requestStop(false);
}

bool CopierRun::requestExit()
{
    if (m_exiting.exchange(true)) {
        return false;
    }
    stop();
    if (m_workers.empty()) {
        // Never at once: the caller finishes its own part of the exit first.
        QTimer::singleShot(0, this, [this] { endWhenIdle(); });
    }
    return true;
}

void CopierRun::watchStopSignals(std::function<void()> onSignal)
{
    const int fd = stopSignalDescriptor();
    if (fd < 0 || m_stopSignals != nullptr) {
        return;
    }
    m_stopSignals = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_stopSignals, &QSocketNotifier::activated, this, [fd, onSignal = std::move(onSignal)] {
        takeStopSignals(fd);
        onSignal();
    });
}

void CopierRun::stopForProcessEnd(std::uint32_t waitMs)
{
    // Once exiting is set, no question is put to a window that can no longer answer.
    m_exiting.store(true);
    stop();
    m_engine.waitUntilIdle(waitMs);
}

void CopierRun::endWhenIdle()
{
    if (m_ended || !m_workers.empty()) {
        return;
    }
    if (m_engine.busy()) {
        // A copy started by no worker of the run (the driver ends its own before it
        // leaves): it must end too before the window goes.
        m_engine.requestStop(false);
        QTimer::singleShot(kEngineRecheckMs, this, [this] { endWhenIdle(); });
        return;
    }
    m_ended = true;
    emit ended();
}

std::optional<NextEntry> CopierRun::takeNextEntry(bool& skip, const std::string& outputFolder)
{
    const std::uint32_t index = m_counters.currentIndex.load();
    if (m_list == nullptr || index >= m_counters.entryCount.load()) {
        return std::nullopt;
    }
    const int row = static_cast<int>(index);
    FileListModel& lines = m_list->lines();
    if (lines.entry(row).state == EntryState::Done) {
        m_counters.currentIndex.store(index + 1);  // copied already
        skip = true;
        return std::nullopt;
    }
    // From here on the line cannot be deleted: the run holds it.
    lines.setState(row, EntryState::InProgress);
    m_list->scrollTo(lines.index(row, 0));
    return NextEntry{lines.entry(row), outputFolder};
}

void CopierRun::markEntryStarted()
{
    const int row = static_cast<int>(m_counters.currentIndex.load());
    if (m_list != nullptr && row < m_list->lines().rowCount()) {
        m_list->lines().setIcon(row, static_cast<int>(EntryIcon::Copying));
    }
}

void CopierRun::showFilled(std::uint64_t bytes)
{
    const int row = static_cast<int>(m_counters.currentIndex.load());
    if (m_list != nullptr && row < m_list->lines().rowCount()) {
        m_list->lines().setFilled(row, bytes);
    }
}

void CopierRun::showHold(RunHold hold, std::uint32_t seconds)
{
    m_hold = hold;
    m_holdSeconds = seconds;
    showHoldText();
}

QLabel* CopierRun::makeHoldLabel(QWidget* parent)
{
    m_holdLabel = new QLabel(parent);
    m_holdLabel->setObjectName(QStringLiteral("runHold"));
    m_holdLabel->hide();
    return m_holdLabel;
}

void CopierRun::showHoldText()
{
    if (m_holdLabel == nullptr) {
        return;
    }
    int id = 0;
    switch (m_hold) {
        case RunHold::None:
            m_holdLabel->clear();
            m_holdLabel->hide();
            return;
        case RunHold::MediumGone:
            id = text::kMediumGone;
            break;
        case RunHold::OtherMedium:
            id = text::kOtherMedium;
            break;
        case RunHold::DriveSilent:
            id = text::kDriveSilent;
            break;
    }
    const std::string unknown = m_window.text(text::kUnknown).toStdString();
    m_holdLabel->setText(m_window.text(id) + u' ' +
                         QString::fromStdString(formatDuration(m_holdSeconds, unknown)));
    m_holdLabel->show();
}

void CopierRun::endEntry(const EntryEnd& end, const ReportLine& report)
{
    // The line the run holds is still the current one: lines before it move the index
    // along with it when they are deleted, and nothing else moves it meanwhile.
    const std::uint32_t index = m_counters.currentIndex.load();
    const int row = static_cast<int>(index);
    if (m_list != nullptr && row < m_list->lines().rowCount()) {
        m_list->lines().setIcon(row, end.icon);
        m_list->lines().setState(row, end.state);
        m_list->lines().setReport(row, report);
    }
    m_counters.doneSize += end.doneBytes;
    if (end.advance) {
        m_counters.currentIndex.store(index + 1);
    }
}

}  // namespace tessaly
