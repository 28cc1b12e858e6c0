#include "copier/copier_commands.h"

#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

#include "texts/text_ids.h"
#include "ui/language_menu.h"
#include "ui/window_parts.h"

namespace tessaly {

namespace {

constexpr int kToolBarHeight = 40;
const QSize kToolImageSize(30, 25);

// The commands in the order of the menus, F1 last: it shows on no item.
const MenuCommand kCommands[] = {
    {copier_command::kAddFiles, text::kAddFilesCommand, "Ctrl+O"},
    {copier_command::kAddFolder, text::kAddFolderCommand, "Ctrl+F"},
    {copier_command::kAddFromVolume, text::kAddFromVolume, "Ctrl+I"},
    {copier_command::kSetOutputFolder, text::kSetOutputFolderCommand, "Ctrl+D"},
    {copier_command::kStartCopying, text::kStartCommand, "Ctrl+S"},
    {copier_command::kStopCopying, text::kStopCommand, "Ctrl+A"},
    {copier_command::kSaveReport, text::kSaveReport, "Ctrl+E"},
    {copier_command::kExit, text::kExitCommand, "Alt+X"},
    {copier_command::kGeneralSettings, text::kGeneralPage, "Ctrl+G"},
    {copier_command::kAlgorithmSettings, text::kAlgorithmCommand, "Ctrl+L"},
    {copier_command::kReservedSettings, text::kReservedCopiesCommand, "Ctrl+R"},
    {copier_command::kMiscSettings, text::kMiscellaneousCommand, "Ctrl+M"},
    {copier_command::kShowDetails, text::kShowDetails, "Ctrl+H"},
    {copier_command::kShowDamagedOnly, text::kShowDamagedOnly, "Ctrl+U"},
    {copier_command::kHelpContents, text::kHelpMenu, ""},
    {copier_command::kAbout, text::kAboutCommand, ""},
    {copier_command::kHelpContext, MenuCommand::kNoText, "F1"},
};

// A toolbar button: command, image and the text of its tip; command 0 is a separator.
struct ToolSlot
{
    quint32 command;
    const char* image;
    int tipId;
};

const ToolSlot kToolSlots[] = {
    {copier_command::kAddFiles, "add-files", text::kAddFilesCommand},
    {copier_command::kAddFolder, "add-folder", text::kAddFolderCommand},
    {copier_command::kSetOutputFolder, "output-folder", text::kSetOutputFolderCommand},
    {0, nullptr, 0},
    {copier_command::kStartCopying, "start", text::kStartCommand},
    {0, nullptr, 0},
    {copier_command::kStopCopying, "stop", text::kStopCommand},
    {0, nullptr, 0},
    {copier_command::kGeneralSettings, "settings", text::kCopyingSettings},
    {copier_command::kMiscSettings, "miscellaneous", text::kMiscellaneousCommand},
    {0, nullptr, 0},
    {copier_command::kShowDetails, "details", text::kShowDetails},
};

QAction* findCommand(const QList<QAction*>& actions, quint32 id)
{
    for (QAction* action : actions) {
        if (QMenu* popup = action->menu()) {
            if (QAction* found = findCommand(popup->actions(), id)) {
                return found;
            }
        } else if (!action->isSeparator() && action->data().isValid() &&
                   action->data().toUInt() == id) {
            return action;
        }
    }
    return nullptr;
}

}  // namespace

std::span<const MenuCommand> CopierCommands::commands()
{
    return kCommands;
}

CopierCommands::CopierCommands(QWidget* window) : QObject(window), m_window(window)
{
    buildToolBar();
    buildKeys();
}

CopierCommands::~CopierCommands()
{
    m_menu.detach();
}

void CopierCommands::buildToolBar()
{
    m_toolBar = new QToolBar(m_window);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setIconSize(kToolImageSize);
    m_toolBar->setFixedHeight(kToolBarHeight);
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (const ToolSlot& slot : kToolSlots) {
        if (slot.command == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        QAction* action = m_toolBar->addAction(
            QIcon(QStringLiteral(":/icons/toolbar/%1.png").arg(QLatin1String(slot.image))), QString());
        action->setData(slot.command);
        action->setObjectName(QLatin1String(slot.image));
        // Start and Show details are shown pressed; updateCommandStates() says when.
        action->setCheckable(slot.command == copier_command::kStartCopying ||
                             slot.command == copier_command::kShowDetails);
        connect(action, &QAction::triggered, this, [this, action] {
            emit triggered(action->data().toUInt());
        });
    }
}

void CopierCommands::buildKeys()
{
    addCommandKeys(m_window, commands(), this, [this](quint32 id) { runKey(id); });
}

void CopierCommands::runKey(quint32 id)
{
    // A key does what its menu item does, and nothing while that item is grayed.
    if (const QAction* item = menuAction(id); item != nullptr && !item->isEnabled()) {
        return;
    }
    emit triggered(id);
}

QMenuBar* CopierCommands::buildMenuBar()
{
    m_menu.detach();
    if (m_menuBar) {
        // The bar may be the one whose item is being handled right now.
        m_menuBar->hide();
        m_menuBar->deleteLater();
    }
    auto* bar = new QMenuBar(m_window);
    QMenu* file = bar->addMenu(QStringLiteral("File"));
    addCommand(file, "Add files to list", copier_command::kAddFiles);
    addCommand(file, "Add folder to list", copier_command::kAddFolder);
    addCommand(file, "Add from image or device...", copier_command::kAddFromVolume);
    file->addSeparator();
    addCommand(file, "Set output directory", copier_command::kSetOutputFolder);
    file->addSeparator();
    addCommand(file, "Start copying", copier_command::kStartCopying);
    addCommand(file, "Stop copying", copier_command::kStopCopying);
    file->addSeparator();
    addCommand(file, "Save report...", copier_command::kSaveReport);
    file->addSeparator();
    addCommand(file, "Exit", copier_command::kExit);
    QMenu* settings = bar->addMenu(QStringLiteral("Settings"));
    addCommand(settings, "General", copier_command::kGeneralSettings);
    addCommand(settings, "Algorithm", copier_command::kAlgorithmSettings);
    addCommand(settings, "Reserved copies", copier_command::kReservedSettings);
    settings->addSeparator();
    addCommand(settings, "Miscellaneous", copier_command::kMiscSettings);
    settings->addSeparator();
    settings->addMenu(QStringLiteral("Language"))->addAction(QString());
    QMenu* view = bar->addMenu(QStringLiteral("View"));
    addCommand(view, "Show details", copier_command::kShowDetails)->setCheckable(true);
    addCommand(view, "Show only damaged files", copier_command::kShowDamagedOnly)->setCheckable(true);
    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    addCommand(help, "Help", copier_command::kHelpContents);
    help->addSeparator();
    addCommand(help, "About...", copier_command::kAbout);

    connect(bar, &QMenuBar::triggered, this, [this](QAction* action) {
        if (action->data().isValid()) {
            emit triggered(action->data().toUInt());
        }
    });
    m_menuBar = bar;
    m_languageMenu = nullptr;
    m_menu.attach(bar);
    return bar;
}

bool CopierCommands::buildLanguageMenu(const LanguageTable& table, const std::string& currentFile)
{
    m_languageMenu = fillLanguageMenu(
        m_menu, table, currentFile, copier_command::kLanguageFirst,
        copier_command::kLanguageLast - copier_command::kLanguageFirst + 1);
    return m_languageMenu != nullptr;
}

void CopierCommands::setTexts(const TextOf& text)
{
    const int topTexts[] = {text::kFileMenu, text::kSettingsMenu, text::kViewMenu, text::kHelpMenu};
    for (quint32 position = 0; position < 4; ++position) {
        m_menu.setItemTextAt(position, text(topTexts[position]));
    }
    for (const MenuCommand& command : commands()) {
        if (command.textId != MenuCommand::kNoText) {
            m_menu.setCommandText(command.id, commandText(text(command.textId), command));
        }
    }
    if (auto settings = m_menu.subMenu(1)) {
        settings->setItemTextAt(6, text(text::kLanguageMenu) + u'\t');
    }
    for (QAction* action : m_toolBar->actions()) {
        for (const ToolSlot& slot : kToolSlots) {
            if (slot.command != 0 && action->data().toUInt() == slot.command) {
                action->setToolTip(text(slot.tipId));
                action->setText(text(slot.tipId));
            }
        }
    }
    if (m_menuBar) {
        m_menuBar->update();
    }
}

void CopierCommands::updateCommandStates(const CommandStates& states)
{
    if (QAction* details = toolAction(copier_command::kShowDetails)) {
        details->setChecked(states.showDetails);
    }
    if (QAction* start = toolAction(copier_command::kStartCopying)) {
        start->setChecked(states.copying);
        start->setEnabled(states.entriesLeft);
    }
    if (QAction* stop = toolAction(copier_command::kStopCopying)) {
        stop->setEnabled(states.copying);
    }
    if (m_menuBar) {
        m_menu.check(copier_command::kShowDetails, false, states.showDetails);
        m_menu.check(copier_command::kShowDamagedOnly, false, states.damagedOnly);
        m_menu.enable(copier_command::kStartCopying, false, !states.copying && states.entriesLeft);
        m_menu.enable(copier_command::kStopCopying, false, states.copying);
        m_menuBar->update();
    }
}

QAction* CopierCommands::menuAction(quint32 id) const
{
    return m_menuBar ? findCommand(m_menuBar->actions(), id) : nullptr;
}

QAction* CopierCommands::toolAction(quint32 id) const
{
    return findCommand(m_toolBar->actions(), id);
}

}  // namespace tessaly
