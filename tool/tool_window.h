#pragma once

#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QString>

#include <filesystem>
#include <memory>
#include <string>

#include "tool/job_queue.h"
#include "tool/transfer_job.h"
#include "tool/transfer_jobs.h"
#include "tool/window_job_ui.h"
#include "ui/ending_dialog.h"
#include "ui/modal_prompts.h"
#include "ui/owner_draw_menu.h"
#include "ui/window_gone_filter.h"
#include "ui/worker_group.h"

class QLabel;
class QProgressBar;
class QVBoxLayout;

namespace tessaly {

class LanguageTable;

// Command ids of the tool's menu, kept as each QAction's data.
namespace tool_command {
inline constexpr quint32 kExit = 32771;
inline constexpr quint32 kAbout = 32772;
inline constexpr quint32 kGet = 32773;
inline constexpr quint32 kPut = 32774;
inline constexpr quint32 kHelp = 32775;
inline constexpr quint32 kLanguageFirst = 43000;  // + the index of the language file
inline constexpr quint32 kLanguageLast = 44000;
}  // namespace tool_command

// The help context of the tool.
inline constexpr int kToolHelpContext = 3;

// The window of the companion tool: which file data comes from and goes to, the
// progress and state of the running job, and the menu that queues Get and Put jobs.
// Jobs run on the worker, a thread of the window's worker group, and reach the window
// through WindowJobUi. Every way of closing goes through stopSequence(), which lets the
// queued jobs finish first; the window keeps painting and answering meanwhile and closes
// when the group has become empty.
class ToolWindow : public EndingDialog
{
    Q_OBJECT
public:
    struct Setup
    {
        // The program folder, used when the profile's "Path" is empty; the first log
        // dialog opens in startFolder.
        std::filesystem::path programFolder;
        std::filesystem::path startFolder;
        JobWorker::Timing timing;
    };

    ToolWindow(LanguageTable& language, ModalPrompts& prompts, Setup setup,
               QWidget* parent = nullptr);
    // Stores the language in the profile. The run should have ended (finished()) before:
    // a job still running then gets no more answers from the window (see WorkerGroup).
    ~ToolWindow() override;

    // Reads "Path" and "Language", applies the texts and starts the worker. False when
    // no language file could be found or loaded: the user has been told, the run is
    // over (result 0) and no worker was started.
    bool initialize();
    // Rebuilds the menu bar with the Language popup and sets every text of the
    // window. False (after the message) when no language file can be found or loaded.
    bool applyTexts();
    // Loads language file index, stores it in "Language" and applies the texts.
    void switchLanguage(int index);
    // Get and Put: asks for a copy log and queues a job for it. False when the user
    // cancelled or the window is stopping.
    bool chooseLog(TransferKind kind);
    void queueJob(TransferJob job);
    // Exit, close and cancel: the first call asks the worker to stop; the run ends
    // (result 1) once the worker has left; later calls do nothing.
    void stopSequence();
    void openHelp();
    void showAbout();
    // The menu commands and accelerators by command id.
    void runCommand(quint32 id);

    // The job fields, set on the window's thread.
    void showDataFrom(const QString& name);
    void showDataTo(const QString& name);
    void showState(int textId);
    void showProgress(int percent);
    void showJobMessage(ModalPrompts::Icon icon, const JobMessage& message);
    std::optional<std::string> locateDataFile(int titleText, const std::string& folder);

    QString text(int id) const;
    const std::string& currentLanguageFile() const { return m_languageFile; }
    QMenuBar* menuBar() const { return m_menuBar; }
    QMenu* languageMenu() const { return m_languageMenu; }
    JobQueue& queue() { return m_queue; }
    WorkerGroup& workers() { return m_workers; }

signals:
    // The worker has left after a stop request and the window has ended its run.
    void stopped();

protected:
    void requestEnd() override { stopSequence(); }

private:
    void buildControls();
    QSize fixedWindowSize() const;
    void buildMenuBar();
    bool buildLanguagePopup();
    void setMenuTexts();
    void finish();
    void storeLanguage() const;

    LanguageTable& m_language;
    ModalPrompts& m_prompts;
    Setup m_setup;
    std::filesystem::path m_languageFolder;
    std::string m_languageFile;
    QString m_lastLogFolder;

    QVBoxLayout* m_layout = nullptr;
    QPointer<QMenuBar> m_menuBar;
    QPointer<QMenu> m_languageMenu;
    OwnerDrawMenu m_menu;
    QLabel* m_dataFromLabel = nullptr;
    QLabel* m_dataToLabel = nullptr;
    QLabel* m_stateLabel = nullptr;
    QLabel* m_dataFrom = nullptr;
    QLabel* m_dataTo = nullptr;
    QLabel* m_state = nullptr;
    QProgressBar* m_progress = nullptr;

    // Touched by the worker only, while the window exists.
    TransferFiles m_files;
    WindowJobUi m_jobUi;
    JobQueue m_queue;
    // A window destroyed from outside ends the run as Exit does.
    std::unique_ptr<WindowGoneFilter> m_windowGone;
    JobWorker m_worker;
    WorkerGroup m_workers;  // last: its thread ends before the members above go
};

}  // namespace tessaly
