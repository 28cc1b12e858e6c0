#pragma once

#include <QDialog>
#include <QMenuBar>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "copier/copier_commands.h"
#include "copier/copier_dialogs.h"
#include "copier/copier_fields.h"
#include "copier/copier_run.h"
#include "copier/detail_pane.h"
#include "copier/run_report_view.h"
#include "ui/window_gone_filter.h"
#include "engine/copy_engine.h"
#include "settings/profile_settings.h"
#include "settings/window_settings.h"
#include "ui/ending_dialog.h"
#include "ui/file_list_control.h"
#include "ui/modal_prompts.h"
#include "ui/owner_draw_menu.h"

class QVBoxLayout;

namespace tessaly {

class BlockMapControl;
class LanguageTable;

// The copier's window: the list of files to copy, the output folder, two progress bars,
// the remaining times and the speed, and the commands that fill the list and start and
// stop the run, with the detail view (the block map of the current file) at their right.
// Its size is fixed at 418 x 226 dialog units of its font below its menu bar; with the
// detail view hidden, the window ends at the view's left edge. The copy run, its workers
// and their counters are the CopierRun's. Every way of closing goes through requestExit(),
// which asks the workers to stop and ends the window only once they have left; the event
// loop keeps running meanwhile, so that a worker waiting for an answer gets it.
class CopierWindow : public EndingDialog
{
    Q_OBJECT
public:
    struct Setup
    {
        // Where the language files and help pages are when the profile's "Path" holds
        // none; empty: this program's folder.
        std::filesystem::path programFolder;
        FileSystem* fileSystem = nullptr;  // the system's when null
        bool quickStart = true;            // run the quick start of the settings
        ListCopyDriver::Timing driverTiming;
    };

    CopierWindow(LanguageTable& language, ModalPrompts& prompts, Setup setup,
                 QWidget* parent = nullptr);
    // Saves the settings. The run should have ended (finished()) before: a worker still
    // running then gets no more answers from the window.
    ~CopierWindow() override;

    // Loads the settings and the language, applies the texts and fixes the size. False
    // when no language file could be loaded: the user has been told and the run is over.
    bool initialize();
    // Rebuilds the menu bar and sets every text; false after the message when no
    // language file can be found or loaded.
    bool applyTexts();

    // The File commands.
    void addFiles();
    void addFolder();
    // Asks for an image file or a device (a path may be typed) and lists every file of
    // it, read without mounting, with the log beside it.
    void addFromVolume();
    void chooseOutputFolder();
    void startCopying();
    void stopCopying();
    // Exit, close and Escape: the first call stops the run and ends the window once
    // every worker has left; later calls do nothing.
    void requestExit();
    // From now on SIGINT, SIGTERM and SIGHUP end the window as Exit does, on its own
    // thread: the copy stops with its log whole, then the window closes.
    void watchStopSignals();
    // For a process that ends without the window's own exit (the toolkit leaves when the
    // display goes away): stops the copy and waits up to waitMs for it to end with its
    // log whole. Touches no widget, so it may run on any thread.
    void stopCopyForProcessEnd(std::uint32_t waitMs);
    void showAbout();
    // The Settings commands: the sheet at a page (0 General, 1 Algorithm, 2 Reserved
    // copies) and the miscellaneous dialog; accepted values act on the engine at once
    // and reach the profile when the window goes.
    void openSettingsSheet(int page);
    void openMiscDialog();
    // The help pages: at the window's context, or the contents.
    void openHelp(bool contents);
    // Picks language id - 44000 of the Language submenu, writes it to the profile at
    // once and re-texts the window; ends the window when no language loads.
    void chooseLanguage(quint32 id);
    // Show details: shows the detail view at the right by widening the window, or hides
    // it by narrowing the window to the view's left edge; position and height stay.
    void toggleDetails();
    void runCommand(quint32 id);

    // What follows an Add operation once its files are listed.
    enum class AfterAdd
    {
        Nothing,
        AutoStart,  // start copying when AutoStartCopying is set and there is an output folder
        Start,      // start copying (asking for an output folder when there is none)
    };
    // Lists files as Add files does (one base folder for all of them) and folders as
    // Add folder does, each folder on a scan thread of its own.
    void addPaths(const QStringList& paths, AfterAdd after);
    // Sets the output folder for this run only: the profile keeps the stored one.
    void useOutputFolderForThisRun(const std::string& folder);

    // The engine's questions, from the driver's or the engine's thread: asked on the
    // window's thread while the asking thread waits. Once the window is closing, nothing
    // is asked and the answer is no.
    bool answerQuery(EngineQuery& query);

    // What the copy driver has the window show, on the window's thread (the list's
    // lines are the run's, the bars and the detail view are shown by the host itself).
    void showRunMessage(const RunMessage& message);
    void showRunEnded();

    // The fields, set on the window's thread.
    void showOutputFolder();
    // The total size and the whole list's bar, after every change of the list or its lines.
    void showTotals();
    // Speed and times, at most once a second while a run goes on.
    void updateTimes();
    void updateCommandStates();

    QString text(int id) const;
    FileListControl& fileList() { return *m_list; }
    RunCounters& counters() { return m_run->counters(); }
    const RunCounters& counters() const { return m_run->counters(); }
    const WindowSettings& settings() const { return m_settings; }
    CopyEngine& engine() { return m_run->engine(); }
    QMenuBar* menuBar() const { return m_commands->menuBar(); }
    CopierCommands& commands() { return *m_commands; }
    BlockMapControl& detailView() { return *m_details->view(); }
    DetailPane& details() { return *m_details; }
    CopierFields& fields() { return *m_fields; }
    RunReportView& report() { return *m_report; }
    int workerCount() const { return m_run->workerCount(); }
    bool exiting() const { return m_run->exiting(); }

signals:
    // The workers have left after requestExit() and the window has ended its run.
    void exited();

protected:
    void requestEnd() override { requestExit(); }
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControls();
    CopierDialogs dialogs();
    // The window's fixed size with the detail view shown: the template's, or wider where
    // the fields need it for the texts of the language in use.
    QSize fixedWindowSize() const;
    // Fixes the window's size anew for the language's texts, the detail view as it is.
    void fitToTexts();
    void setTexts();
    void runQuickStart();
    // Checks the output folder once before a run; false after a message that says why
    // it cannot take the copies.
    bool outputFolderUsable();
    void appendEntries(std::vector<FileEntry> entries);
    void afterAdd(AfterAdd after);
    // What the run's Add hands to the window, and after the Add what after asks for.
    CopierRun::AddResults addResults(AfterAdd after);
    // The message of the entries a volume could not list, each with why.
    QString notListedText(const std::vector<std::pair<std::string, std::string>>& unlisted) const;

    LanguageTable& m_language;
    ModalPrompts& m_prompts;
    Setup m_setup;
    FileSystem& m_fs;
    ProfileSettings m_profile;
    WindowSettings m_settings;
    std::optional<std::string> m_storedOutputFolder;  // kept while this run uses another
    bool m_painted = false;
    bool m_quickStartPending = false;
    bool m_columnsSized = false;
    bool m_texted = false;  // the first size is fixed: a language switch fixes it anew

    QVBoxLayout* m_layout = nullptr;
    CopierCommands* m_commands = nullptr;
    FileListControl* m_list = nullptr;
    std::unique_ptr<CopierFields> m_fields;
    RunReportView* m_report = nullptr;  // a child of the window
    std::unique_ptr<WindowGoneFilter> m_windowGone;

    std::unique_ptr<CopierRun> m_run;       // its workers leave before the members above go
    std::unique_ptr<DetailPane> m_details;  // reads the run's engine: goes first
};

}  // namespace tessaly
