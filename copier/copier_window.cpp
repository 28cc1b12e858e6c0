#include "copier/copier_window.h"

#include <QCloseEvent>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QResizeEvent>
#include <QSocketNotifier>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "copier/copier_run.h"
#include "copier/query_prompts.h"
#include "copier/run_times.h"
#include "platform/clock.h"
#include "platform/stop_signals.h"
#include "settings/copying_settings_sheet.h"
#include "settings/misc_dialog.h"
#include "ui/about_dialog.h"
#include "ui/block_map_control.h"
#include "ui/dialog_units.h"
#include "ui/entry_icons.h"
#include "ui/gui_thread.h"
#include "ui/language_table.h"
#include "ui/size_format.h"
#include "ui/text_ids.h"
#include "ui/ui_text.h"
#include "ui/window_parts.h"

// The icons are compiled into the static library; a program that links it has to
// register them itself.
static void initCopierResources()
{
    Q_INIT_RESOURCE(tessaly);
}

namespace tessaly {

namespace {

constexpr int kPercentWidth = 36;
// The margins of the controls, in pixels; the detail view keeps kDetailsRight pixels
// to the window's right edge.
constexpr int kMarginTop = 6;
constexpr int kMarginSide = 8;
constexpr int kDetailsRight = 10;
// The detail view's frame, in dialog units.
constexpr int kDetailsWidthDu = 171;
constexpr int kDetailsHeightDu = 182;
constexpr std::uint32_t kTimesInterval = 1000;  // ms between two refreshes of speed and times
const char* const kAllFiles = "All Files (*)";

QString pathText(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string pathBytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QProgressBar* progressBar(QWidget* parent, const char* name)
{
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

QLabel* percentLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(QStringLiteral("0%"), parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFixedWidth(kPercentWidth);
    return label;
}

}  // namespace

CopierWindow::CopierWindow(LanguageTable& language, ModalPrompts& prompts, Setup setup,
                           QWidget* parent)
    : EndingDialog(parent),
      m_language(language),
      m_prompts(prompts),
      m_setup(std::move(setup)),
      m_fs(m_setup.fileSystem ? *m_setup.fileSystem : systemFileSystem()),
      m_run(std::make_unique<CopierRun>(*this, m_fs, m_setup.driverTiming)),
      m_mapSource(m_run->engine())
{
    initCopierResources();
    engine().setQueryCallback([this](EngineQuery& query) { return answerQuery(query); });
    loadSettings(m_profile, m_settings, engine(), m_setup.programFolder);
    buildControls();
    m_run->setList(m_list);
    connect(m_run.get(), &CopierRun::ended, this, [this] {
        closeNestedDialogs();  // a dialog's own loop would hold the window's open
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
    // Ends the run's workers before the window's parts go (they are all gone already
    // after the window's own exit).
    m_run.reset();
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
        showTotalSize();
        updateCommandStates();
    });
    connect(m_list, &FileListControl::pathsDropped, this,
            [this](const QStringList& paths) { addPaths(paths, AfterAdd::AutoStart); });

    m_fileBar = progressBar(this, "fileBar");
    m_totalBar = progressBar(this, "totalBar");
    m_filePercent = percentLabel(this, "filePercent");
    m_totalPercent = percentLabel(this, "totalPercent");
    m_totalSizeLabel = fieldLabel(this, "totalSizeLabel", "Total files size");
    m_totalSize = valueField(this, "totalSize");
    m_totalSize->setText(QStringLiteral("0"));
    m_outputFolderLabel = fieldLabel(this, "outputFolderLabel", "Output directory");
    m_outputFolder = valueField(this, "outputFolder");
    m_timeThisFileLabel = fieldLabel(this, "timeThisFileLabel", "Time this file");
    m_timeAllFilesLabel = fieldLabel(this, "timeAllFilesLabel", "Time all files");
    m_speedLabel = fieldLabel(this, "speedLabel", "Speed");
    m_timeThisFile = valueField(this, "timeThisFile");
    m_timeAllFiles = valueField(this, "timeAllFiles");
    m_speed = valueField(this, "speed");
    m_timeThisFile->setText(QStringLiteral("00:00:00"));
    m_timeAllFiles->setText(QStringLiteral("00:00:00"));
    m_speed->setText(QStringLiteral("0"));

    auto* bars = new QGridLayout;
    bars->addWidget(m_fileBar, 0, 0);
    bars->addWidget(m_filePercent, 0, 1);
    bars->addWidget(m_totalBar, 1, 0);
    bars->addWidget(m_totalPercent, 1, 1);

    auto* folder = new QGridLayout;
    folder->setColumnStretch(1, 1);
    folder->addWidget(m_totalSizeLabel, 0, 0);
    folder->addWidget(m_totalSize, 0, 1);
    folder->addWidget(m_outputFolderLabel, 1, 0);
    folder->addWidget(m_outputFolder, 1, 1);

    auto* times = new QGridLayout;
    times->setColumnStretch(1, 1);
    times->setColumnStretch(3, 1);
    times->setColumnStretch(5, 1);
    times->addWidget(m_timeThisFileLabel, 0, 0);
    times->addWidget(m_timeThisFile, 0, 1);
    times->addWidget(m_timeAllFilesLabel, 0, 2);
    times->addWidget(m_timeAllFiles, 0, 3);
    times->addWidget(m_speedLabel, 0, 4);
    times->addWidget(m_speed, 0, 5);

    m_map = new BlockMapControl(this);
    m_map->setObjectName(QStringLiteral("detailView"));
    m_map->setSource(&m_mapSource);
    m_map->setLanguage(&m_language);
    connect(m_map, &BlockMapControl::closeRequested, this, [this] { toggleDetails(); });
    connect(m_map, &BlockMapControl::helpRequested, this, [this](int context) {
        m_prompts.openHelp(helpPage(pathText(m_settings.programFolder), context));
    });

    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(kMarginSide, kMarginTop, kMarginSide, kMarginSide);
    m_layout->addWidget(m_list, 1);
    m_layout->addWidget(etchedLine(this));
    m_layout->addLayout(bars);
    m_layout->addWidget(etchedLine(this));
    m_layout->addLayout(folder);
    m_layout->addWidget(etchedLine(this));
    m_layout->addLayout(times);
    m_layout->addWidget(etchedLine(this));
}

QSize CopierWindow::fixedWindowSize() const
{
    const int menuHeight = menuBar() ? menuBar()->sizeHint().height() : 0;
    return (dialogUnits(font(), 418, 226) + QSize(0, menuHeight)).expandedTo(sizeHint());
}

bool CopierWindow::initialize()
{
    loadSettings(m_profile, m_settings, engine(), m_setup.programFolder);
    if (!applyTexts()) {
        endRun(0);
        return false;
    }
    m_fullSize = fixedWindowSize();
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
    m_totalSizeLabel->setText(text(text::kTotalSizeLabel));
    m_outputFolderLabel->setText(text(text::kOutputFolderLabel));
    m_timeThisFileLabel->setText(text(text::kTimeThisFile));
    m_timeAllFilesLabel->setText(text(text::kTimeAllFiles));
    m_speedLabel->setText(text(text::kSpeedLabel));
    showOutputFolder();
    setWindowTitle(QStringLiteral("Tessaly"));
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
    startScan(pathBytes(chosen), AfterAdd::AutoStart);
}

void CopierWindow::startScan(const std::string& folder, AfterAdd after)
{
    m_run->startScan(folder, m_settings.outputFolder,
                     {[this](std::vector<FileEntry> lines) { appendEntries(std::move(lines)); },
                      [this, after] { afterAdd(after); }});
}

void CopierWindow::addPaths(const QStringList& paths, AfterAdd after)
{
    // The files of one call share one base folder: none, so they land straight in the
    // output folder.
    const auto noBase = std::make_shared<const std::string>();
    std::vector<FileEntry> entries;
    bool scanning = false;
    for (const QString& path : paths) {
        const std::string name = pathBytes(path);
        if (m_fs.isDirectory(name)) {
            startScan(name, after);
            scanning = true;
            continue;
        }
        SysError error = 0;
        const std::unique_ptr<File> file =
            m_fs.open(name, Disposition::OpenExisting, Access::Read, &error);
        const std::int64_t size = file ? file->size() : -1;
        if (size < 0) {
            m_prompts.message(this, ModalPrompts::Icon::Error, text(text::kCaption),
                              text(text::kFileWord) + u' ' + path + u'\n' + text(text::kCannotOpen));
            continue;
        }
        entries.push_back({noBase, name, static_cast<std::uint64_t>(size), 0, EntryState::Fresh});
    }
    appendEntries(std::move(entries));
    if (!scanning) {
        afterAdd(after);  // a scan does this when it has listed its files
    }
}

void CopierWindow::appendEntries(std::vector<FileEntry> entries)
{
    if (!entries.empty()) {
        m_list->lines().append(std::move(entries));
        showTotalSize();
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
    if (exiting()) {
        return;
    }
    if (m_settings.outputFolder.empty()) {
        chooseOutputFolder();
    }
    if (m_settings.outputFolder.empty() || exiting()) {
        return;
    }
    m_run->start();
    updateCommandStates();
}

void CopierWindow::stopCopying()
{
    m_run->stop();
    updateCommandStates();
}

void CopierWindow::requestExit()
{
    if (m_run->requestExit()) {
        closeNestedDialogs();
    }
}

void CopierWindow::stopCopyForProcessEnd(std::uint32_t waitMs)
{
    m_run->stopForProcessEnd(waitMs);
}

void CopierWindow::watchStopSignals()
{
    const int fd = stopSignalDescriptor();
    if (fd < 0 || m_stopSignals != nullptr) {
        return;
    }
    m_stopSignals = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_stopSignals, &QSocketNotifier::activated, this, [this, fd] {
        takeStopSignals(fd);
        requestExit();
    });
}

void CopierWindow::closeNestedDialogs()
{
    // A dialog's own loop runs inside the window's: while one is open, the window's
    // run cannot end, and a worker waiting for its answer cannot leave.
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
    }
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog == nullptr || dialog == this || !dialog->isVisible()) {
            continue;
        }
        for (QObject* owner = dialog->parent(); owner != nullptr; owner = owner->parent()) {
            if (owner == this) {
                dialog->done(QDialog::Rejected);
                break;
            }
        }
    }
}

void CopierWindow::showAbout()
{
    AboutDialog about({text(text::kAboutCommand), QStringLiteral("Tessaly 2.1"),
                       QStringLiteral(":/icons/tessaly.png"),
                       helpPage(pathText(m_settings.programFolder), 0)},
                      this);
    connect(&about, &AboutDialog::webRequested, this,
            [this](const QUrl& page) { m_prompts.openHelp(page); });
    about.exec();
}

void CopierWindow::openSettingsSheet(int page)
{
    const SettingsDialogContext context{m_language, m_prompts, pathText(m_settings.programFolder)};
    CopyingSettingsSheet sheet(context, sheetSettingsOf(engine(), m_settings),
                               static_cast<CopyingSettingsSheet::Page>(page), this);
    if (sheet.exec() == QDialog::Accepted) {
        applySheetSettings(sheet.values(), engine(), m_settings);
    }
}

void CopierWindow::openMiscDialog()
{
    const SettingsDialogContext context{m_language, m_prompts, pathText(m_settings.programFolder)};
    MiscDialog misc(context, m_settings, this);
    if (misc.exec() == QDialog::Accepted) {
        misc.applyTo(m_settings);
    }
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
    if (exiting()) {
        return false;
    }
    const EngineStatus status = engine().status();
    return callOnGui(this, [&] {
        if (exiting()) {
            return false;
        }
        PromptFlags flags{m_settings.dontAskForAddReserveds, m_settings.dontAskForLog,
                          m_settings.dontAskConfirmForExistings};
        const bool answer = askEngineQuery(query, status, flags, m_prompts, this,
                                           [this](int id) { return text(id); }, m_run->exitingFlag());
        m_settings.dontAskForAddReserveds = flags.dontAskForAddReserveds;
        m_settings.dontAskForLog = flags.dontAskForLog;
        m_settings.dontAskConfirmForExistings = flags.dontAskConfirmForExistings;
        return answer;
    });
}

std::optional<NextEntry> CopierWindow::takeNextEntry(bool& skip)
{
    return m_run->takeNextEntry(skip, m_settings.outputFolder);
}

void CopierWindow::showEntryStarted()
{
    m_fileRunning = true;
    m_map->resetForNewFile();
    const int row = static_cast<int>(counters().currentIndex.load());
    if (row < m_list->lines().rowCount()) {
        m_list->lines().setIcon(row, static_cast<int>(EntryIcon::Copying));
    }
}

void CopierWindow::toggleDetails()
{
    m_settings.showDetails = m_settings.showDetails != 0 ? 0 : 1;
    updateCommandStates();
    applyDetails();
    if (m_settings.showDetails != 0 && m_fileRunning) {
        m_map->refresh();  // what the file gained while the view was hidden
    }
}

QRect CopierWindow::detailViewRect() const
{
    const QSize size = dialogUnits(font(), kDetailsWidthDu, kDetailsHeightDu);
    const int menuHeight = menuBar() ? menuBar()->sizeHint().height() : 0;
    return QRect(QPoint(m_fullSize.width() - kDetailsRight - size.width(), menuHeight + kMarginTop),
                 size);
}

void CopierWindow::applyDetails()
{
    // The controls keep their place either way: shown, the view takes the room at their
    // right; hidden, the window ends where the view begins.
    const QRect view = detailViewRect();
    const bool shown = m_settings.showDetails != 0;
    const int controlsRight = view.left() - kMarginSide;
    const int rightMargin = (shown ? m_fullSize.width() : view.left()) - controlsRight;
    m_layout->setContentsMargins(kMarginSide, kMarginTop, rightMargin, kMarginSide);
    m_map->setGeometry(view);
    m_map->setVisible(shown);
    setFixedSize(shown ? m_fullSize.width() : view.left(), m_fullSize.height());
}

void CopierWindow::showProgress(int filePercent, int totalPercent)
{
    m_fileBar->setValue(filePercent);
    m_totalBar->setValue(totalPercent);
    m_filePercent->setText(QString::number(filePercent) + u'%');
    m_totalPercent->setText(QString::number(totalPercent) + u'%');
}

void CopierWindow::showFilled(std::uint64_t bytes)
{
    const int row = static_cast<int>(counters().currentIndex.load());
    if (row < m_list->lines().rowCount()) {
        m_list->lines().setFilled(row, bytes);
    }
}

void CopierWindow::refreshDetails()
{
    if (m_settings.showDetails != 0 && m_fileRunning) {
        m_map->refresh();
    }
}

void CopierWindow::endEntry(const EntryEnd& end)
{
    if (m_fileRunning) {
        // The view shows the finished file, as it ended, until the next one begins.
        m_fileRunning = false;
        m_map->refresh();
    }
    m_run->endEntry(end);
    updateCommandStates();
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
    updateCommandStates();
    updateTimes();
}

void CopierWindow::showOutputFolder()
{
    m_outputFolder->setText(m_settings.outputFolder.empty()
                                ? text(text::kNotChosen)
                                : pathText(m_settings.outputFolder));
}

void CopierWindow::showTotalSize()
{
    m_totalSize->setText(QString::fromStdString(formatSize(counters().totalSize.load())));
}

void CopierWindow::updateTimes()
{
    const bool copying = counters().copying.load();
    const std::uint32_t current = counters().currentIndex.load();
    const std::uint32_t count = counters().entryCount.load();
    const std::uint32_t now = tickCount();
    if (m_timesRefreshed && now - m_lastTimesRefresh < kTimesInterval && copying &&
        current < count) {
        return;
    }
    const RunTimes times = computeRunTimes(
        {copying, current, count, engine().shortRate(), engine().longRate(),
         engine().destinationEnd(), engine().destinationPosition(), counters().totalSize.load(),
         counters().doneSize.load()});
    switch (times.speed) {
        case RunTimes::Speed::Idle: m_speed->setText(QStringLiteral("0")); break;
        case RunTimes::Speed::Unknown: m_speed->setText(text(text::kUnknown)); break;
        case RunTimes::Speed::Measured:
            m_speed->setText(QString::fromStdString(formatSize(times.rate)) + u'/' +
                             text(text::kSecondsUnit));
            break;
    }
    const std::string unknown = m_language.text(text::kUnknown);
    const auto shown = [&](std::uint32_t seconds) {
        return times.running ? QString::fromStdString(textToUtf8(formatDuration(seconds, unknown)))
                             : QStringLiteral("00:00:00");
    };
    m_timeThisFile->setText(shown(times.thisFileSeconds));
    m_timeAllFiles->setText(shown(times.allFilesSeconds));
    m_lastTimesRefresh = now;
    m_timesRefreshed = true;
}

void CopierWindow::updateCommandStates()
{
    const bool copying = counters().copying.load();
    const bool left = counters().currentIndex.load() < counters().entryCount.load();
    m_commands->updateCommandStates({copying, left, m_settings.showDetails != 0});
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
    if (m_fullSize.isValid()) {
        m_map->setGeometry(detailViewRect());  // below the menu bar, which may have grown
    }
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
