#include "tool/tool_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/destination.h"
#include "platform/program_folder.h"
#include "settings/profile_settings.h"
#include "texts/language_table.h"
#include "texts/text_ids.h"
#include "ui/about_dialog.h"
#include "ui/dialog_units.h"
#include "ui/language_menu.h"
#include "ui/menu_keys.h"
#include "ui/path_text.h"
#include "ui/ui_text.h"
#include "ui/window_parts.h"

// The icons are compiled into the static library; a program that links it has to
// register them itself.
static void initToolResources()
{
    Q_INIT_RESOURCE(velmora);
}

namespace tessaly {

namespace {

// The commands in the order of the menus, F1 last: it shows on no item.
const MenuCommand kCommands[] = {
    {tool_command::kGet, text::kGetCommand, "Ctrl+G"},
    {tool_command::kPut, text::kPutCommand, "Ctrl+P"},
    {tool_command::kExit, text::kExitCommand, "Alt+X"},
    {tool_command::kHelp, text::kHelpMenu, ""},
    {tool_command::kAbout, text::kAboutCommand, ""},
    {tool_command::kHelp, MenuCommand::kNoText, "F1"},
};

}  // namespace

ToolWindow::ToolWindow(LanguageTable& language, ModalPrompts& prompts, Setup setup,
                       QWidget* parent)
    : EndingDialog(parent),
      m_language(language),
      m_prompts(prompts),
      m_setup(std::move(setup)),
      m_jobUi(*this),
      m_worker(m_queue, [this](const TransferJob& job) { runTransferJob(job, m_files, m_jobUi); },
               m_setup.timing)
{
    initToolResources();
    m_lastLogFolder = pathText(m_setup.startFolder.string());
    buildControls();

    addCommandKeys(this, kCommands, this, [this](quint32 id) { runCommand(id); });
    connect(&m_workers, &WorkerGroup::emptied, this, [this] {
        if (m_worker.stopRequested()) {
            finish();
        }
    });
    // Some window managers and tools close a window by destroying it: the toolkit then
    // keeps the dialog running with nothing on the screen, so the run ends as Exit ends
    // it (the queued jobs first), instead of going on without a window.
    m_windowGone = std::make_unique<WindowGoneFilter>(
        this, [this] { QTimer::singleShot(0, this, [this] { stopSequence(); }); });
    QCoreApplication::instance()->installNativeEventFilter(m_windowGone.get());
}

ToolWindow::~ToolWindow()
{
    QCoreApplication::instance()->removeNativeEventFilter(m_windowGone.get());
    storeLanguage();
    // The worker leaves once the queue is empty; the group waits for it as it goes.
    m_worker.requestStop();
    m_menu.detach();
}

void ToolWindow::buildControls()
{
    setWindowIcon(QIcon(QStringLiteral(":/icons/velmora.png")));
    setWindowTitle(QStringLiteral("Velmora"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    m_dataFromLabel = fieldLabel(this, "dataFromLabel", "Data from");
    m_dataToLabel = fieldLabel(this, "dataToLabel", "Data to");
    m_stateLabel = fieldLabel(this, "stateLabel", "State");
    m_dataFrom = valueField(this, "dataFrom");
    m_dataTo = valueField(this, "dataTo");
    m_state = valueField(this, "state");
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);

    auto* fields = new QGridLayout;
    fields->setColumnMinimumWidth(0, 70);
    fields->setColumnStretch(1, 1);
    fields->addWidget(m_dataFromLabel, 0, 0);
    fields->addWidget(m_dataFrom, 0, 1);
    fields->addWidget(m_dataToLabel, 1, 0);
    fields->addWidget(m_dataTo, 1, 1);

    auto* stateRow = new QHBoxLayout;
    stateRow->addWidget(m_stateLabel);
    stateRow->addSpacing(12);
    stateRow->addWidget(m_state, 1);

    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(10, 6, 10, 8);
    m_layout->addWidget(etchedLine(this));
    m_layout->addLayout(fields);
    m_layout->addWidget(etchedLine(this));
    m_layout->addWidget(m_progress);
    m_layout->addWidget(etchedLine(this));
    m_layout->addLayout(stateRow);
    m_layout->addWidget(etchedLine(this));
}

QSize ToolWindow::fixedWindowSize() const
{
    // The window measures 213 x 95 dialog units of its font below its menu bar: a
    // unit is a quarter of the font's average character width across and an eighth
    // of its height down. Never smaller than what its contents need.
    const int menuHeight = m_menuBar ? m_menuBar->sizeHint().height() : 0;
    return (dialogUnits(font(), 213, 95) + QSize(0, menuHeight)).expandedTo(sizeHint());
}

bool ToolWindow::initialize()
{
    const ProfileSettings profile;
    const std::string path = profile.path();
    m_languageFolder = chooseProgramFolder(path, m_setup.programFolder);
    m_languageFile = profile.language();
    if (!applyTexts()) {
        endRun(0);
        return false;
    }
    setFixedSize(fixedWindowSize());
    m_workers.start([this] { m_worker.run(); });
    return true;
}

void ToolWindow::buildMenuBar()
{
    m_menu.detach();
    if (m_menuBar) {
        // The bar may be the one whose item is being handled right now.
        m_menuBar->hide();
        m_menuBar->deleteLater();
    }
    auto* bar = new QMenuBar(this);
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    addCommand(file, "&Get", tool_command::kGet);
    addCommand(file, "&Put", tool_command::kPut);
    file->addSeparator();
    addCommand(file, "E&xit", tool_command::kExit);
    QMenu* settingsMenu = bar->addMenu(QStringLiteral("&Settings"));
    QMenu* language = settingsMenu->addMenu(QStringLiteral("Language"));
    addCommand(language, "English", tool_command::kLanguageFirst);
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    addCommand(help, "&Help", tool_command::kHelp);
    help->addSeparator();
    addCommand(help, "&About...", tool_command::kAbout);

    connect(bar, &QMenuBar::triggered, this, [this](QAction* action) {
        if (action->data().isValid()) {
            runCommand(action->data().toUInt());
        }
    });
    m_menuBar = bar;
    m_layout->setMenuBar(bar);
    m_menu.attach(bar);
}

bool ToolWindow::buildLanguagePopup()
{
    m_languageMenu = nullptr;
    const LanguageLoad load =
        loadProgramLanguage(m_language, m_languageFolder, m_languageFile, m_languageFile);
    if (load != LanguageLoad::Loaded) {
        m_prompts.message(this, ModalPrompts::Icon::Error, QStringLiteral("Error"),
                          load == LanguageLoad::NoFiles
                              ? QStringLiteral("Sorry, I can't find language file")
                              : QStringLiteral("Sorry, I can't find language file."));
        return false;
    }

    m_languageMenu =
        fillLanguageMenu(m_menu, m_language, m_languageFile, tool_command::kLanguageFirst,
                         tool_command::kLanguageLast - tool_command::kLanguageFirst + 1);
    return m_languageMenu != nullptr;
}

void ToolWindow::setMenuTexts()
{
    m_menu.setItemTextAt(0, text(text::kFileMenu));
    m_menu.setItemTextAt(1, text(text::kSettingsMenu));
    m_menu.setItemTextAt(2, text(text::kHelpMenu));
    if (auto settingsMenu = m_menu.subMenu(1)) {
        settingsMenu->setItemTextAt(0, text(text::kLanguageMenu) + u'\t');
    }
    for (const MenuCommand& command : kCommands) {
        if (command.textId != MenuCommand::kNoText) {
            m_menu.setCommandText(command.id, commandText(text(command.textId), command));
        }
    }
}

bool ToolWindow::applyTexts()
{
    buildMenuBar();
    if (!buildLanguagePopup()) {
        return false;
    }
    setMenuTexts();
    m_menuBar->update();
    m_dataFromLabel->setText(text(text::kDataFromLabel));
    m_dataToLabel->setText(text(text::kDataToLabel));
    m_stateLabel->setText(text(text::kStateLabel));
    setWindowTitle(QStringLiteral("Velmora"));
    return true;
}

void ToolWindow::switchLanguage(int index)
{
    const std::optional<std::string> file = m_language.languageFile(static_cast<std::size_t>(index));
    if (!file) {
        return;
    }
    if (m_languageMenu && index < m_languageMenu->actions().size()) {
        m_languageMenu->actions().at(index)->setChecked(true);
    }
    m_languageFile = *file;
    m_language.loadLanguage(m_languageFolder, m_languageFile);
    storeLanguage();
    if (!applyTexts()) {
        stopSequence();
    }
}

bool ToolWindow::chooseLog(TransferKind kind)
{
    // Once the tool is closing, no new job is taken: the worker may be gone already.
    if (m_worker.stopRequested()) {
        return false;
    }
    const QString suffix = QString::fromLatin1(kLogSuffix.data(), kLogSuffix.size());
    const QString chosen = m_prompts.openFile(this, text(text::kChooseLogTitle), m_lastLogFolder,
                                              QStringLiteral("Tessaly log files (*%1)").arg(suffix),
                                              suffix.mid(1));
    if (chosen.isEmpty()) {
        return false;
    }
    const QFileInfo log(chosen);
    m_lastLogFolder = log.absolutePath();
    queueJob({pathBytes(log.fileName()),
              pathBytes(log.absolutePath()), kind});
    return true;
}

void ToolWindow::queueJob(TransferJob job)
{
    m_queue.append(std::move(job));
}

void ToolWindow::stopSequence()
{
    if (!m_worker.requestStop()) {
        return;
    }
    if (m_workers.empty()) {
        // No worker (it never started): the run ends all the same, after this call.
        QTimer::singleShot(0, this, [this] { finish(); });
    }
}

void ToolWindow::finish()
{
    if (finished()) {
        return;
    }
    endRun(1);
    emit stopped();
}

void ToolWindow::openHelp()
{
    m_prompts.openHelp(helpPage(pathText(m_languageFolder.string()), kToolHelpContext));
}

void ToolWindow::showAbout()
{
    AboutDialog about({text(text::kAboutCommand), QStringLiteral("Velmora 2.1"),
                       QStringLiteral(":/icons/velmora-about.png"), QUrl()},
                      this);
    about.exec();
}

void ToolWindow::runCommand(quint32 id)
{
    switch (id) {
        case tool_command::kGet: chooseLog(TransferKind::Get); return;
        case tool_command::kPut: chooseLog(TransferKind::Put); return;
        case tool_command::kExit: stopSequence(); return;
        case tool_command::kHelp: openHelp(); return;
        case tool_command::kAbout: showAbout(); return;
        default: break;
    }
    if (id >= tool_command::kLanguageFirst && id <= tool_command::kLanguageLast) {
        switchLanguage(static_cast<int>(id - tool_command::kLanguageFirst));
    }
}

void ToolWindow::showDataFrom(const QString& name)
{
    m_dataFrom->setText(name);
}

void ToolWindow::showDataTo(const QString& name)
{
    m_dataTo->setText(name);
}

void ToolWindow::showState(int textId)
{
    m_state->setText(text(textId));
}

void ToolWindow::showProgress(int percent)
{
    m_progress->setValue(percent);
}

void ToolWindow::showJobMessage(ModalPrompts::Icon icon, const JobMessage& message)
{
    // The texts and the name are decoded each by itself: a name that is no UTF-8 must
    // not turn the language's texts around it into the wrong characters.
    JobMessage shown = message;
    shown.name = pathText(message.name).toStdString();
    const std::string composed = composeMessage(shown, [this](int id) {
        return textToUtf8(m_language.text(static_cast<std::uint32_t>(id)));
    });
    m_prompts.message(this, icon, text(text::kCaption), QString::fromStdString(composed));
}

std::optional<std::string> ToolWindow::locateDataFile(int titleText, const std::string& folder)
{
    const QString chosen =
        m_prompts.openFile(this, text(titleText), pathText(folder),
                           QStringLiteral("All Files (*)"), QString());
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return pathBytes(chosen);
}

QString ToolWindow::text(int id) const
{
    return uiText(m_language, static_cast<std::uint32_t>(id));
}

void ToolWindow::storeLanguage() const
{
    if (m_languageFile.empty()) {
        return;
    }
    ProfileSettings().setLanguage(m_languageFile);
}

}  // namespace tessaly
