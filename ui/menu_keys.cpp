#include "ui/menu_keys.h"

#include <QAction>
#include <QActionEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QShortcut>

#include <vector>

namespace tessaly {
namespace {

const char* const kShortcutName = "tessaly-menu-key";

QString labelPart(const QString& text)
{
    const qsizetype tab = text.indexOf(u'\t');
    return tab < 0 ? text : text.left(tab);
}

// Position of the character an '&' marks; -1 when the label has no mark.
qsizetype markedPosition(const QString& label)
{
    for (qsizetype i = 0; i + 1 < label.size(); ++i) {
        if (label[i] != u'&') continue;
        if (label[i + 1] != u'&') return i + 1;
        ++i;  // "&&" is a plain ampersand
    }
    return -1;
}

qsizetype firstLetterOrDigit(const QString& label)
{
    for (qsizetype i = 0; i < label.size(); ++i) {
        if (label[i].isLetterOrNumber()) return i;
    }
    return -1;
}

// The items of menu that answer letter, in menu order.
std::vector<QAction*> itemsFor(const QWidget* menu, QChar letter)
{
    std::vector<QAction*> found;
    for (QAction* action : menu->actions()) {
        if (action->isVisible() && action->isEnabled() && !action->isSeparator() &&
            mnemonicOf(action->text()) == letter) {
            found.push_back(action);
        }
    }
    return found;
}

// The first of items after current, cyclically; the first one when current is none of them.
QAction* nextAfter(const std::vector<QAction*>& items, const QAction* current)
{
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i] == current) return items[(i + 1) % items.size()];
    }
    return items.front();
}

// Takes the bar's menu keys out of use. They are deleted later, because the one being
// handled may have led to this call (a menu that re-texts its bar when it opens).
void retireShortcuts(QWidget* menu)
{
    for (QShortcut* shortcut : menu->findChildren<QShortcut*>(QString::fromLatin1(kShortcutName),
                                                              Qt::FindDirectChildrenOnly)) {
        shortcut->setEnabled(false);
        shortcut->setObjectName(QString());
        shortcut->deleteLater();
    }
}

MenuKeys* keysOf(const QWidget* menu)
{
    return menu->findChild<MenuKeys*>(QString(), Qt::FindDirectChildrenOnly);
}

// The letter a key press stands for in a menu: a letter or digit typed alone, with
// Shift or with Alt; a null QChar otherwise.
QChar typedLetter(const QKeyEvent& key)
{
    const Qt::KeyboardModifiers allowed = Qt::ShiftModifier | Qt::AltModifier | Qt::KeypadModifier;
    if ((key.modifiers() & ~allowed) != 0 || key.text().size() != 1) return {};
    const QChar c = key.text().at(0);
    return c.isLetterOrNumber() ? c.toUpper() : QChar();
}

}  // namespace

QChar mnemonicOf(const QString& text)
{
    const QString label = labelPart(text);
    qsizetype at = markedPosition(label);
    if (at < 0) at = firstLetterOrDigit(label);
    return at < 0 ? QChar() : label[at].toUpper();
}

QString markedLabel(const QString& label)
{
    if (markedPosition(label) >= 0) return label;
    const qsizetype at = firstLetterOrDigit(label);
    if (at < 0) return label;
    QString marked = label;
    marked.insert(at, u'&');
    return marked;
}

QString commandText(const QString& text, const MenuCommand& command)
{
    return text + u'\t' + QLatin1String(command.key);
}

void addCommandKeys(QWidget* window, std::span<const MenuCommand> commands, QObject* context,
                    const std::function<void(quint32)>& run)
{
    for (const MenuCommand& command : commands) {
        if (*command.key == '\0') continue;
        auto* shortcut = new QShortcut(QKeySequence(QLatin1String(command.key)), window);
        QObject::connect(shortcut, &QShortcut::activated, context,
                         [run, id = command.id] { run(id); });
    }
}

bool pickMenuItem(QMenu* menu, QChar letter)
{
    const std::vector<QAction*> items = itemsFor(menu, letter);
    if (items.empty()) return false;
    if (items.size() > 1) {
        menu->setActiveAction(nextAfter(items, menu->activeAction()));
        return true;
    }
    // Return runs the active item, or opens it when it is a submenu.
    menu->setActiveAction(items.front());
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(menu, &enter);
    return true;
}

MenuKeys::MenuKeys(QWidget* menu) : QObject(menu), m_bar(qobject_cast<QMenuBar*>(menu))
{
    menu->installEventFilter(this);
    rebuildBarShortcuts();
}

void MenuKeys::install(QWidget* menu)
{
    if (menu == nullptr) return;
    if (keysOf(menu) == nullptr) new MenuKeys(menu);
    for (QAction* action : menu->actions()) {
        install(action->menu());
    }
}

void MenuKeys::uninstall(QWidget* menu)
{
    if (menu == nullptr) return;
    for (QAction* action : menu->actions()) {
        uninstall(action->menu());
    }
    retireShortcuts(menu);
    delete keysOf(menu);
}

// One Alt+letter shortcut per mnemonic of the bar, and F10, which opens the first menu.
void MenuKeys::rebuildBarShortcuts()
{
    if (m_bar == nullptr) return;
    retireShortcuts(m_bar);
    auto add = [this](const QKeySequence& keys, QChar letter) {
        auto* shortcut = new QShortcut(keys, m_bar);
        shortcut->setObjectName(QString::fromLatin1(kShortcutName));
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, letter] { openTopLevel(letter); });
        connect(shortcut, &QShortcut::activatedAmbiguously, this,
                [this, letter] { openTopLevel(letter); });
    };
    QString letters;
    for (const QAction* action : m_bar->actions()) {
        const QChar letter = mnemonicOf(action->text());
        if (letter.isNull() || letters.contains(letter)) continue;
        letters.append(letter);
        add(QKeySequence(QKeyCombination(Qt::AltModifier, static_cast<Qt::Key>(letter.unicode()))),
            letter);
    }
    add(QKeySequence(Qt::Key_F10), QChar());
}

// Opens the next top-level menu that answers letter; a null letter opens the first menu.
void MenuKeys::openTopLevel(QChar letter)
{
    std::vector<QAction*> items;
    if (letter.isNull()) {
        for (QAction* action : m_bar->actions()) {
            if (action->isVisible() && action->isEnabled() && !action->isSeparator()) {
                items.push_back(action);
                break;
            }
        }
    } else {
        items = itemsFor(m_bar, letter);
    }
    if (!items.empty()) m_bar->setActiveAction(nextAfter(items, m_bar->activeAction()));
}

bool MenuKeys::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
        case QEvent::ActionAdded:
            // A popup added later (the Language items) gets its keys too.
            install(static_cast<QActionEvent*>(event)->action()->menu());
            rebuildBarShortcuts();
            break;
        case QEvent::ActionChanged:
        case QEvent::ActionRemoved:
            rebuildBarShortcuts();
            break;
        case QEvent::KeyPress: {
            const QChar letter = typedLetter(*static_cast<QKeyEvent*>(event));
            if (letter.isNull()) break;
            if (auto* menu = qobject_cast<QMenu*>(watched)) return pickMenuItem(menu, letter);
            // A bar that has the focus (after Alt) opens the menu of the letter.
            if (m_bar != nullptr && !itemsFor(m_bar, letter).empty()) {
                openTopLevel(letter);
                return true;
            }
            break;
        }
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tessaly
