#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <span>
#include <string>

#include "ui/menu_keys.h"
#include "ui/owner_draw_menu.h"

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;
class QToolBar;
class QWidget;

namespace tessaly {

class LanguageTable;

// Command ids of the copier, kept as each QAction's data.
namespace copier_command {
inline constexpr quint32 kExit = 32771;
inline constexpr quint32 kAbout = 32772;
inline constexpr quint32 kAddFiles = 32773;
inline constexpr quint32 kStartCopying = 32775;
inline constexpr quint32 kSetOutputFolder = 32780;
inline constexpr quint32 kAddFolder = 32782;
inline constexpr quint32 kStopCopying = 32788;
inline constexpr quint32 kGeneralSettings = 32784;  // the sheet's page is id - kGeneralSettings
inline constexpr quint32 kAlgorithmSettings = 32785;
inline constexpr quint32 kReservedSettings = 32786;
inline constexpr quint32 kMiscSettings = 32787;
inline constexpr quint32 kShowDetails = 32789;
inline constexpr quint32 kSaveReport = 32796;
inline constexpr quint32 kShowDamagedOnly = 32797;
inline constexpr quint32 kAddFromVolume = 32798;
inline constexpr quint32 kHelpContents = 32790;
inline constexpr quint32 kHelpContext = 1;  // F1: the help page of the window
inline constexpr quint32 kLanguageFirst = 44000;
inline constexpr quint32 kLanguageLast = 45000;
}  // namespace copier_command

// What decides which commands are enabled and shown pressed.
struct CommandStates
{
    bool copying = false;
    bool entriesLeft = false;  // currentIndex < entryCount
    bool showDetails = false;
    bool damagedOnly = false;  // the list shows only the lines with unread parts or failures
};

// The copier's menu bar, toolbar and keys. The menu bar is built anew from its template
// on every language change; the toolbar and the keys live as long as the window. Every
// command arrives as triggered(id), on the window's thread.
class CopierCommands : public QObject
{
    Q_OBJECT
public:
    using TextOf = std::function<QString(int)>;

    // Makes the toolbar and the keys of window; the menu bar comes with buildMenuBar().
    explicit CopierCommands(QWidget* window);
    ~CopierCommands() override;

    // Replaces the menu bar by a fresh one in the template's texts, owner-drawn.
    QMenuBar* buildMenuBar();
    // Fills the Language submenu with the languages of table, marking the one whose file
    // name equals currentFile (ignoring case). False when the submenu is missing.
    bool buildLanguageMenu(const LanguageTable& table, const std::string& currentFile);
    // Puts the language's texts on the menus (with the key labels) and the toolbar tips.
    void setTexts(const TextOf& text);
    // Enables, checks and presses the commands of the menu and the toolbar.
    void updateCommandStates(const CommandStates& states);

    QMenuBar* menuBar() const { return m_menuBar; }
    QToolBar* toolBar() const { return m_toolBar; }
    QMenu* languageMenu() const { return m_languageMenu; }
    OwnerDrawMenu& menu() { return m_menu; }
    // The item of the menu bar, or the toolbar button, with command id; null if none.
    QAction* menuAction(quint32 id) const;
    QAction* toolAction(quint32 id) const;
    // The commands of the menus and the keys, in the order of the menus.
    static std::span<const MenuCommand> commands();

signals:
    void triggered(quint32 id);

private:
    void buildToolBar();
    void buildKeys();
    void runKey(quint32 id);

    QWidget* m_window;
    QPointer<QMenuBar> m_menuBar;
    QPointer<QMenu> m_languageMenu;
    QToolBar* m_toolBar = nullptr;
    OwnerDrawMenu m_menu;
};

}  // namespace tessaly
