#pragma once

#include <QChar>
#include <QObject>
#include <QString>

#include <functional>
#include <span>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace tessaly {

// The language texts carry no '&' marks, so every menu item takes the first letter or
// digit of its label (the text before a tab) as its mnemonic. A text that already holds
// a mark ('&' before anything but another '&') keeps it.

// The mnemonic of text, upper case; a null QChar when the label has no letter or digit.
QChar mnemonicOf(const QString& text);
// The label of text (up to the first tab) with the mark in place, for drawing.
QString markedLabel(const QString& label);

// Keyboard access to a menu bar and all its popups, as desktop users expect: Alt (and
// F10) take the focus to the bar, Alt+letter opens the top-level menu whose mnemonic is
// that letter, and inside an open menu a letter picks the item with that mnemonic: it
// runs (or opens) the only such item, and moves among several. Lives as a child of the
// menu it serves; install() is idempotent and takes up popups added later.
class MenuKeys : public QObject
{
    Q_OBJECT
public:
    // Gives menu (a QMenuBar or a QMenu) and its submenus keyboard access.
    static void install(QWidget* menu);
    // Removes it from menu and its submenus again.
    static void uninstall(QWidget* menu);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit MenuKeys(QWidget* menu);
    void rebuildBarShortcuts();
    void openTopLevel(QChar letter);

    QMenuBar* m_bar = nullptr;  // set when the served menu is a menu bar
};

// A command of a window's menus: its id (the item's data), its language text (kNoText
// for a command no item shows), and the key that runs it, as Qt spells it ("Ctrl+O"),
// which its item shows after a tab ("" for none).
struct MenuCommand
{
    static constexpr int kNoText = -1;

    quint32 id;
    int textId;
    const char* key;
};

// The item text of command: text, a tab, and the command's key.
QString commandText(const QString& text, const MenuCommand& command);

// A shortcut of window for every command that has a key; it calls run with the id, as
// long as context lives.
void addCommandKeys(QWidget* window, std::span<const MenuCommand> commands, QObject* context,
                    const std::function<void(quint32)>& run);

// Picks the item of menu whose mnemonic is letter: the only one is run (a submenu
// opens), among several the next after the active item becomes active. False when no
// visible, enabled item has that mnemonic.
bool pickMenuItem(QMenu* menu, QChar letter);

}  // namespace tessaly
