#include "copier/copier_window.h"

#include <QCoreApplication>
#include <QFile>
#include <QIcon>
#include <QResizeEvent>
#include <QToolBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

#include "copier/copier_dialogs.h"
#include "copier/copier_run.h"
#include "copier/query_prompts.h"
#include "copier/volume_picker.h"
#include "platform/clock.h"
#include "run/output_check.h"
#include "texts/language_table.h"
#include "texts/text_ids.h"
#include "ui/block_map_control.h"
#include "ui/dialog_units.h"
#include "ui/path_text.h"
#include "ui/ui_text.h"

// The icons are compiled into the static library; a program that links it has to
// register them itself.
static void initCopierResources()
{
    Q_INIT_RESOURCE(tessaly);
}

namespace tessaly {

namespace {

const char* const kAllFiles = "All Files (*)";
// The most entries a message lists that a volume could not; the rest are counted.
constexpr std::size_t kNotListedShown = 30;

}  // namespace

CopierWindow::CopierWindow(LanguageTable& language, ModalPrompts& prompts, Setup setup,
                           QWidget* parent)
    : EndingDialog(parent),
      m_language(language),
      m_prompts(prompts),
      m_setup(std::move(setup)),
      m_fs(m_setup.fileSystem ? *m_setup.fileSystem : systemFileSystem()),
      m_run(std::make_unique<CopierRun>(*this, m_fs, m_setup.driverTiming))
{
    initCopierResources();
    engine().setQueryCallback([this](EngineQuery& query) { return answerQuery(query); });
    loadSettings(m_profile, m_settings, engine(), m_setup.programFolder);
    buildControls();
    m_run->setList(m_list);
    connect(m_run.get(), &CopierRun::ended, this, [this] {
        endNestedDialogs();  // a dialog's own loop would hold the window's open
        if (!finished()) {
            endRun(1);
            emit exited();
        }
    });

    m_commands = new CopierCommands(this);
    m_layout->insertWidget(0, m_commands->toolBar());
    connect(m_commands, &CopierCommands::triggered, this, [this](quint32 id) {
        runCommand(id);
        updateCommandStates();
    });
    // A window destroyed from outside (some window managers' and tools' close) ends
    // the program as Exit does, instead of leaving it copying with no window.
    m_windowGone = std::make_unique<WindowGoneFilter>(
        this, [this] { QTimer::singleShot(0, this, [this] { requestExit(); }); });
    QCoreApplication::instance()->installNativeEventFilter(m_windowGone.get());
}

CopierWindow::~CopierWindow()
{
    QCoreApplication::instance()->removeNativeEventFilter(m_windowGone.get());
    m_run->requestExit();
    WindowSettings saved = m_settings;
    if (m_storedOutputFolder) {
        saved.outputFolder = *m_storedOutputFolder;
    }
    saveSettings(m_profile, saved, engine());
    // The run's workers are all gone after the window's own exit; otherwise the run
    // waits for them as it goes, while the engine's questions still find it.
}

void CopierWindow::buildControls()
{
    setWindowIcon(QIcon(QStringLiteral(":/icons/tessaly.png")));
    setWindowTitle(QStringLiteral("Tessaly"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    m_list = new FileListControl(m_run->counters(), this);
    m_list->setObjectName(QStringLiteral("fileList"));
    connect(m_list, &FileListControl::continueRequested, this, [this] { startCopying(); });
    connect(m_list, &FileListControl::linesDeleted, this, [this] {
        showTotals();
        updateCommandStates();
    });
    connect(m_list, &FileListControl::pathsDropped, this,
            [this](const QStringList& paths) { addPaths(paths, AfterAdd::AutoStart); });

    m_fields = std::make_unique<CopierFields>(this);
    m_report = new RunReportView(this, *m_list, m_prompts, m_run->fileSystem(),
                                 [this] { return m_settings.outputFolder; });

    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(DetailPane::kMarginSide, DetailPane::kMarginTop,
                                 DetailPane::kMarginSide, DetailPane::kMarginSide);
    m_layout->addWidget(m_list, 1);
    m_layout->addWidget(m_report->summary());
    m_fields->addTo(m_layout);
    m_layout->addWidget(m_run->makeHoldLabel(this));  // shown while a file is held up

    m_details = std::make_unique<DetailPane>(this, m_layout, engine());
    BlockMapControl* map = m_details->view();
    map->setLanguage(&m_language);
    connect(map, &BlockMapControl::closeRequested, this, [this] { toggleDetails(); });
    connect(map, &BlockMapControl::helpRequested, this, [this](int context) {
        m_prompts.openHelp(helpPage(pathText(m_settings.programFolder), context));
    });
}

QSize CopierWindow::fixedWindowSize() const
{
    const int menuHeight = menuBar() ? menuBar()->sizeHint().height() : 0;
    QSize size = dialogUnits(font(), 418, 226) + QSize(0, menuHeight);
    size.setHeight(std::max(size.height(), sizeHint().height()));
    // Wider where the language's texts need it: the fields never cut a label or a value.
    size.setWidth(std::max(size.width(), m_details->fullWidthFor(m_fields->minimumWidth())));
    return size;
}

void CopierWindow::fitToTexts()
{
    m_details->setFullSize(fixedWindowSize());
    m_details->show(m_settings.showDetails != 0, menuBar());
}

bool CopierWindow::initialize()
{
    loadSettings(m_profile, m_settings, engine(), m_setup.programFolder);
    if (!applyTexts()) {
        endRun(0);
        return false;
    }
    m_details->setFullSize(fixedWindowSize());
    m_texted = true;
    // The stored flag is applied by toggling it back.
    m_settings.showDetails = m_settings.showDetails != 0 ? 0 : 1;
    toggleDetails();
    m_run->startDriver();
    m_quickStartPending = m_setup.quickStart;
    return true;
}

bool CopierWindow::applyTexts()
{
    m_layout->setMenuBar(m_commands->buildMenuBar());
    std::string loaded;
    const LanguageLoad load = loadProgramLanguage(
        m_language, std::filesystem::path(m_settings.programFolder), m_settings.language, loaded);
    if (load != LanguageLoad::Loaded || !m_commands->buildLanguageMenu(m_language, loaded)) {
        m_prompts.message(
            this, ModalPrompts::Icon::Error, QStringLiteral("Error"),
            QStringLiteral("Sorry, I can't find language file. Please reinstall application"));
        return false;
    }
    // The profile learns of another language only when the user picks one.
    m_settings.language = loaded;
    setTexts();
    return true;
}

void CopierWindow::setTexts()
{
    m_commands->setTexts([this](int id) { return text(id); });
    m_list->setTexts({text(text::kSourceFileColumn), text(text::kSizeColumn), text(text::kNotReadColumn)},
                     text(text::kDeleteFromList), text(text::kContinueCopying));
    // By ReportState; a line the run has not come to has no word.
    m_list->lines().setStateTexts({text(text::kLineComplete), text(text::kLineDamaged),
                                   text(text::kLineUnfinished), text(text::kLineFailed), QString(),
                                   text(text::kLineSkipped)});
    m_fields->setTexts([this](int id) { return text(id); });
    m_report->setTexts([this](int id) { return text(id); });
    m_run->showHoldText();
    showOutputFolder();
    setWindowTitle(QStringLiteral("Tessaly"));
    if (m_texted) {
        fitToTexts();  // another language: its texts may need another width
    }
}

void CopierWindow::runQuickStart()
{
    if (exiting() || m_settings.quickStart == 0) {
        showOutputFolder();
        return;
    }
    if (m_settings.outputFolder.empty()) {
        chooseOutputFolder();
    }
    if (!m_settings.outputFolder.empty() && !exiting()) {
        if (m_settings.quickStart == 2) {
            addFiles();
        } else {
            addFolder();
        }
    }
    showOutputFolder();
}

void CopierWindow::addFiles()
{
    const QStringList chosen =
        m_prompts.openFiles(this, text(text::kAddFilesCommand), QLatin1String(kAllFiles));
    if (chosen.isEmpty() || exiting()) {
        return;
    }
    addPaths(chosen, AfterAdd::AutoStart);
}

void CopierWindow::addFolder()
{
    const QString chosen = m_prompts.chooseFolder(this, text(text::kChooseFolderToAdd));
    if (chosen.isEmpty() || exiting()) {
        return;
    }
    m_run->startScan(pathBytes(chosen), m_settings.outputFolder, addResults(AfterAdd::AutoStart));
}

void CopierWindow::addFromVolume()
{
    const QString chosen = m_prompts.openFile(this, text(text::kAddFromVolume), QString(),
                                              QLatin1String(kAllFiles), QString());
    if (chosen.isEmpty() || exiting()) {
        return;
    }
    const auto pick = [this](OpenedVolume& opened) {
        VolumePicker picker(opened, m_language, this);
        return picker.exec() == QDialog::Accepted ? picker.picked() : std::vector<std::string>{};
    };
    m_run->addVolume(absolutePath(pathBytes(chosen)), pick, addResults(AfterAdd::AutoStart));
}

CopierRun::AddResults CopierWindow::addResults(AfterAdd after)
{
    const auto error = [this](const QString& message) {
        m_prompts.message(this, ModalPrompts::Icon::Error, text(text::kCaption), message);
    };
    return {[this](std::vector<FileEntry> lines) { appendEntries(std::move(lines)); },
            [this, after] { afterAdd(after); },
            [this, error](const std::string& name) {
                error(text(text::kFileWord) + u' ' + pathText(name) + u'\n' +
                      text(text::kCannotOpen));
            },
            [this, error](const std::string& path, const std::string& reason) {
                error(text(text::kVolumeUnreadable) + u'\n' + pathText(path) + u'\n' +
                      pathText(reason));
            },
            [this, error](const std::vector<std::pair<std::string, std::string>>& unlisted) {
                error(notListedText(unlisted));
            }};
}

QString CopierWindow::notListedText(const std::vector<std::pair<std::string, std::string>>& unlisted) const
{
    QString message = text(text::kNotListed);
    const std::size_t shown = std::min(unlisted.size(), kNotListedShown);
    for (std::size_t i = 0; i < shown; ++i) {
        const auto& [path, reason] = unlisted[i];
        message += u'\n' + pathText(path) + QStringLiteral(": ") +
                   (reason.empty() ? text(text::kFolderUnreadable) : pathText(reason));
    }
    if (shown < unlisted.size()) {
        message += QStringLiteral("\n... +") + QString::number(unlisted.size() - shown);
    }
    return message;
}

void CopierWindow::addPaths(const QStringList& paths, AfterAdd after)
{
    std::vector<std::string> names;
    for (const QString& path : paths) {
        names.push_back(pathBytes(path));
    }
    m_run->addPaths(names, m_settings.outputFolder, addResults(after));
}

void CopierWindow::appendEntries(std::vector<FileEntry> entries)
{
    if (!entries.empty()) {
        m_list->lines().append(std::move(entries));
        showTotals();
    }
    updateCommandStates();
}

void CopierWindow::afterAdd(AfterAdd after)
{
    if (after == AfterAdd::Start ||
        (after == AfterAdd::AutoStart && m_settings.autoStartCopying != 0 &&
         !m_settings.outputFolder.empty())) {
        startCopying();
    }
}

void CopierWindow::useOutputFolderForThisRun(const std::string& folder)
{
    if (!m_storedOutputFolder) {
        m_storedOutputFolder = m_settings.outputFolder;
    }
    m_settings.outputFolder = folder;
    showOutputFolder();
}

void CopierWindow::chooseOutputFolder()
{
    const QString chosen = m_prompts.chooseFolder(this, text(text::kChooseOutputFolder));
    if (chosen.isEmpty() || exiting()) {
        return;
    }
    m_settings.outputFolder = pathBytes(chosen);
    m_storedOutputFolder.reset();  // chosen by the user: kept as the settings say
    showOutputFolder();
    if (m_settings.autoStartCopying != 0) {
        startCopying();
    }
}

void CopierWindow::startCopying()
{
    if (!exiting() && m_settings.outputFolder.empty()) {
        chooseOutputFolder();
    }
    if (m_settings.outputFolder.empty() || exiting() || !outputFolderUsable()) {
        return;
    }
    m_run->start();
    updateCommandStates();
}

bool CopierWindow::outputFolderUsable()
{
    // The folders the list was scanned from, each once (its lines share one string).
    std::set<const std::string*> seen;
    std::vector<std::string> scanned;
    const FileListModel& lines = m_list->lines();
    for (int row = 0; row < lines.rowCount(); ++row) {
        const std::string* folder = lines.entry(row).scannedFolder.get();
        if (folder != nullptr && seen.insert(folder).second) scanned.push_back(*folder);
    }
    const OutputProblem problem = checkOutputFolder(m_fs, m_settings.outputFolder, scanned);
    if (problem == OutputProblem::None) return true;
    showRunMessage(outputProblemMessage(problem, m_settings.outputFolder));
    return false;
}

void CopierWindow::stopCopying()
{
    m_run->stop();
    updateCommandStates();
}

void CopierWindow::requestExit()
{
    if (m_run->requestExit()) {
        endNestedDialogs();
    }
}

void CopierWindow::stopCopyForProcessEnd(std::uint32_t waitMs)
{
    m_run->stopForProcessEnd(waitMs);
}

void CopierWindow::watchStopSignals()
{
    m_run->watchStopSignals([this] { requestExit(); });
}

CopierDialogs CopierWindow::dialogs()
{
    return {this, m_language, m_prompts, pathText(m_settings.programFolder)};
}

void CopierWindow::showAbout()
{
    dialogs().about(text(text::kAboutCommand));
}

void CopierWindow::openSettingsSheet(int page)
{
    dialogs().copyingSettings(page, engine(), m_settings);
}

void CopierWindow::openMiscDialog()
{
    dialogs().miscSettings(m_settings);
}

void CopierWindow::openHelp(bool contents)
{
    m_prompts.openHelp(helpPage(pathText(m_settings.programFolder), contents ? 0 : 4));
}

void CopierWindow::chooseLanguage(quint32 id)
{
    const std::optional<std::string> file = m_language.languageFile(id - copier_command::kLanguageFirst);
    if (!file || exiting()) {
        return;
    }
    m_settings.language = *file;
    m_profile.setLanguage(*file);
    // The list, the bars and a running copy stay as they are; only texts change.
    if (!applyTexts()) {
        requestExit();
        return;
    }
    updateCommandStates();
}

void CopierWindow::runCommand(quint32 id)
{
    switch (id) {
        case copier_command::kAddFiles: addFiles(); return;
        case copier_command::kAddFolder: addFolder(); return;
        case copier_command::kAddFromVolume: addFromVolume(); return;
        case copier_command::kSetOutputFolder: chooseOutputFolder(); return;
        case copier_command::kStartCopying:
            // The toolbar's Start stays enabled during a run; pressed again it does nothing.
            if (!counters().copying.load()) {
                startCopying();
            }
            return;
        case copier_command::kStopCopying: stopCopying(); return;
        case copier_command::kExit: requestExit(); return;
        case copier_command::kAbout: showAbout(); return;
        case copier_command::kGeneralSettings:
        case copier_command::kAlgorithmSettings:
        case copier_command::kReservedSettings:
            openSettingsSheet(static_cast<int>(id - copier_command::kGeneralSettings));
            return;
        case copier_command::kMiscSettings: openMiscDialog(); return;
        case copier_command::kShowDetails: toggleDetails(); return;
        case copier_command::kShowDamagedOnly: m_report->toggleDamagedOnly(); return;
        case copier_command::kSaveReport: m_report->save(); return;
        case copier_command::kHelpContents: openHelp(true); return;
        case copier_command::kHelpContext: openHelp(false); return;
        default: break;
    }
    if (id >= copier_command::kLanguageFirst && id <= copier_command::kLanguageLast) {
        chooseLanguage(id);
    }
}

bool CopierWindow::answerQuery(EngineQuery& query)
{
    const EngineStatus status = engine().status();
    return m_run->workers().call([&] {
        if (exiting()) {
            return false;
        }
        return askEngineQuery(query, status, m_settings, m_prompts, this,
                              [this](int id) { return text(id); }, m_run->exitingFlag());
    });
}

void CopierWindow::toggleDetails()
{
    m_settings.showDetails = m_settings.showDetails != 0 ? 0 : 1;
    updateCommandStates();
    m_details->show(m_settings.showDetails != 0, menuBar());
}

void CopierWindow::showRunMessage(const RunMessage& message)
{
    if (exiting()) {
        return;  // the window is closing: nobody is left to read it
    }
    RunMessage shown = message;
    shown.name = pathText(message.name).toStdString();
    const std::string composed = composeRunMessage(
        shown, [this](int id) { return textToUtf8(m_language.text(static_cast<std::uint32_t>(id))); });
    m_prompts.message(this, ModalPrompts::Icon::Error, text(text::kCaption),
                      QString::fromStdString(composed));
}

void CopierWindow::showRunEnded()
{
    m_report->showSummary();
    updateCommandStates();
    showTotals();
    updateTimes();
}

void CopierWindow::showOutputFolder()
{
    m_fields->showOutputFolder(m_settings.outputFolder.empty() ? text(text::kNotChosen)
                                                               : pathText(m_settings.outputFolder));
}

void CopierWindow::showTotals()
{
    m_fields->showTotalSize(counters().totalSize.load());
    m_fields->showTotalProgress(m_run->figures().totalPercent);
}

void CopierWindow::updateTimes()
{
    m_fields->showTimes(m_run->figures(), tickCount(), [this](int id) { return text(id); },
                        m_language.text(text::kUnknown));
}

void CopierWindow::updateCommandStates()
{
    const bool copying = counters().copying.load();
    const bool left = counters().currentIndex.load() < counters().entryCount.load();
    m_commands->updateCommandStates({copying, left, m_settings.showDetails != 0, m_report->damagedOnly()});
}

QString CopierWindow::text(int id) const
{
    return uiText(m_language, static_cast<std::uint32_t>(id));
}

void CopierWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_columnsSized) {
        // The list has its final width once the window is laid out for showing.
        m_columnsSized = true;
        m_list->setColumnWidths(m_list->viewport()->width());
    }
}

void CopierWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    m_details->follow(menuBar());
}

void CopierWindow::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    if (!m_painted && !isMinimized()) {
        m_painted = true;
        if (m_quickStartPending) {
            m_quickStartPending = false;
            // After this paint: the dialogs of the quick start belong above the window.
            QTimer::singleShot(0, this, [this] { runQuickStart(); });
        }
    }
}

}  // namespace tessaly
