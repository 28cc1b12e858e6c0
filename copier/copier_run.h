#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "copier/list_copy_driver.h"
#include "run/run_figures.h"
#include "copier/window_driver_host.h"
#include "engine/copy_engine.h"
#include "run/file_entry.h"
#include "run/run_counters.h"
#include "ui/worker_group.h"
#include "volume/volume_set.h"

class QLabel;
class QSocketNotifier;

namespace tessaly {

class CopierWindow;
class FileListControl;

// The copier's run behind its window: the copy engine, the list driver on a worker of
// its own, the folder scans, the counters the window and the driver share, and the exit
// protocol. Its workers reach the window queued, on the window's thread; the window
// never waits for them but by its event loop.
class CopierRun : public QObject
{
    Q_OBJECT
public:
    // What an Add hands over, on the window's thread: its lines (a scan's in batches),
    // the end of each scan (of the Add when it started none), and a file that cannot be
    // opened, while the Add lists its files.
    struct AddResults
    {
        std::function<void(std::vector<FileEntry>)> lines;
        std::function<void()> done;
        std::function<void(const std::string&)> cannotOpen;
        // Of an image or a device: it cannot be read as a volume (path, why); and the
        // folders and entries it could not list (path, why; empty for a folder that
        // cannot be read), once after its scan.
        std::function<void(const std::string&, const std::string&)> volumeUnreadable;
        std::function<void(std::vector<std::pair<std::string, std::string>>)> notListed;
    };

    CopierRun(CopierWindow& window, FileSystem& fs, ListCopyDriver::Timing timing);
    // Raises the exit flags; a worker still running is waited for without the event loop
    // (see WorkerGroup), so the window lets the run end first.
    ~CopierRun() override;

    CopyEngine& engine() { return m_engine; }
    // The window's file system with the volumes whose files the list holds.
    FileSystem& fileSystem() { return m_fs; }
    const CopyEngine& engine() const { return m_engine; }
    RunCounters& counters() { return m_counters; }
    const RunCounters& counters() const { return m_counters; }
    // Driver and folder scans: what they hand to the window runs on its thread.
    WorkerGroup& workers() { return m_workers; }
    // Driver and folder scans that have not left yet.
    int workerCount() const { return m_workers.count(); }
    bool exiting() const { return m_exiting.load(); }
    const std::atomic<bool>& exitingFlag() const { return m_exiting; }
    // The run's figures at this moment (run/run_figures.h): the total percent, the
    // speed, the times and the pass that runs; on the window's thread.
    RunFigures figures() const;
    // The list whose lines the run takes; set once the window has built it.
    void setList(FileListControl* list) { m_list = list; }

    // Starts the driver: it idles until a run is wanted and leaves at exit.
    void startDriver();
    // Lists files, which share one base folder (none: they land straight in the output
    // folder), and folders, each with a scan of its own; on the window's thread.
    void addPaths(const std::vector<std::string>& paths, const std::string& outputFolder,
                  const AddResults& results);
    // Lists the files below folder on a worker of its own, leaving outputFolder out; a
    // folder that cannot be read adds nothing, and the scan ends early at exit.
    void startScan(const std::string& folder, const std::string& outputFolder, AddResults results);
    // Chooses what of an opened volume joins the list, on the window's thread: paths of
    // its file system, files or folders; none adds nothing.
    using VolumePick = std::function<std::vector<std::string>(OpenedVolume&)>;
    // Opens the image or device at path (absolute) as a volume, with its log beside it, and
    // lists the files pick chooses of it on a worker of its own, each below the volume's
    // root as its base folder (several file systems in folders p1, p2, ...). Its lines
    // keep the volume open; the engine reads them through it.
    void addVolume(const std::string& path, VolumePick pick, AddResults results);
    // Start: the driver copies from the current line on.
    void start();
    // Stop: the current file ends with its log whole and its line stays current. Never
    // waits: the worker may need the window's thread to answer a question first.
    void stop();
    // The first call stops the run and returns true; ended() follows, on the window's
    // thread, once every worker has left and the engine is idle. Later calls return false.
    bool requestExit();
    // From now on SIGINT, SIGTERM and SIGHUP call onSignal on the window's thread.
    void watchStopSignals(std::function<void()> onSignal);
    // For a process that ends without the window's exit: stops the copy and waits up to
    // waitMs for it to end with its log whole. Touches no widget, so any thread may call it.
    void stopForProcessEnd(std::uint32_t waitMs);

    // On the window's thread, for the driver: the line at the current index, which the
    // run then holds (InProgress); a Done line is passed over (skip).
    std::optional<NextEntry> takeNextEntry(bool& skip, const std::string& outputFolder);
    // On the window's thread: the current line's copy has started, its unread bytes, and
    // its end, which gives it the end's icon and state.
    void markEntryStarted();
    void showFilled(std::uint64_t bytes);
    void endEntry(const EntryEnd& end, const ReportLine& report);

    // The status line of what holds the current file up (a medium waited for, a drive
    // that does not answer), on the window's thread; hidden while nothing does.
    // makeHoldLabel makes it, a child of parent, for the window to lay out.
    QLabel* makeHoldLabel(QWidget* parent);
    void showHold(RunHold hold, std::uint32_t seconds);
    // Shows the hold again in the window's current language.
    void showHoldText();
    RunHold hold() const { return m_hold; }

signals:
    // The run has ended after requestExit(): no worker is left and the engine is idle.
    void ended();

private:
    void endWhenIdle();
    // On a worker: lists the files of paths of fs (see scanPaths) as lines like model,
    // handed to lines in batches; each folder that cannot be read goes to unreadable.
    void scanLines(FileSystem& fs, const std::vector<std::string>& paths,
                   const FileEntry& model, const std::string& excluded, const AddResults& results,
                   const std::function<void(const std::string&)>& unreadable);

    CopierWindow& m_window;
    VolumeSet m_volumes;  // over the window's file system
    FileSystem& m_fs;     // m_volumes
    FileListControl* m_list = nullptr;
    QLabel* m_holdLabel = nullptr;
    RunHold m_hold = RunHold::None;
    std::uint32_t m_holdSeconds = 0;
    RunCounters m_counters;
    std::atomic<bool> m_exiting{false};
    bool m_ended = false;
    QSocketNotifier* m_stopSignals = nullptr;
    CopyEngine m_engine;
    WindowDriverHost m_host;
    ListCopyDriver m_driver;
    WorkerGroup m_workers;  // last: its workers have left before the members above go
};

}  // namespace tessaly
