#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QWidget>
#include <QRect>
#include <QString>

#include <memory>
#include <optional>

class QAction;
class QMenu;
class QPainter;

namespace tessaly {

// Colour arithmetic of the menu drawing. Each product is rounded to the nearest
// integer the way a multiply-then-divide with rounding does (half away from zero).
int mulDivRound(int a, int b, int c);
QColor blend86(const QColor& a, const QColor& b);  // a * 86% + b * 14%
QColor blend70(const QColor& a, const QColor& b);  // a * 70% + b * 30%
QColor darken(int k, const QColor& c);             // c * (255 - k) / 255
QColor lighten(int k, const QColor& c);            // c + (255 - c) * k / 255

// What the owner-drawn menu keeps for each item it converted. It lives as a child
// object of the item's QAction, so every view of the same menu finds the same record;
// detaching deletes it.
class MenuItemRecord : public QObject
{
    Q_OBJECT
public:
    enum class Kind
    {
        Command,
        Separator,
        Popup
    };

    explicit MenuItemRecord(QAction* action);

    Kind kind = Kind::Command;
    quint32 id = 0;                  // command id (QAction data); 0 for separators and popups
    QPointer<QMenu> popup;           // the submenu of a popup item
    QString text;                    // label, optionally a tab and the accelerator name
    bool menuBarItem = false;        // a popup item of a menu without a parent menu
    std::optional<QFont> font;       // an item font of its own; else the menu's font
};

// The geometry and the colours of the owner-drawn menus, and the one place where they
// are measured and drawn. Menu widgets of an attached OwnerDrawMenu use this style.
class OwnerDrawStyle : public QProxyStyle
{
    Q_OBJECT
public:
    OwnerDrawStyle();

    // What a menu adds to the measured width of an owner-drawn item: a popup the
    // column of its check mark, a menu bar a margin on either side of the text.
    static constexpr int kPopupItemPadding = 12;
    static constexpr int kBarItemPadding = 16;

    struct ItemState
    {
        bool separator = false;
        bool menuBarItem = false;
        bool popupArrow = false;  // draws the submenu arrow of a popup item
        bool selected = false;
        bool grayed = false;
        bool checked = false;
        bool bullet = false;      // a radio-style mark instead of a check mark
        bool isDefault = false;
        QIcon uncheckedImage;     // drawn in the box when the item is not checked
    };

    // Size of an item: a separator is 0 x 5; a popup item is its text width plus
    // 2 * imageWidth + 2, plus 15 when the text holds a tab; a menu-bar item is
    // 6 pixels narrower than its text. The height follows the menu bar height.
    QSize measureItem(const QString& text, bool separator, bool menuBarItem) const;
    // Draws one item into rect with the given palette (system colours of the moment).
    void drawItem(QPainter* painter, const QRect& rect, const QString& text, const QFont& font,
                  const ItemState& state, const QPalette& palette) const;

    int itemHeight(const QString& text) const;
    int textWidth(const QString& text) const;

    const QFont& menuFont() const { return m_font; }
    void setMenuFont(const QFont& font) { m_font = font; }
    int imageWidth() const { return m_imageWidth; }
    // The height of a one-line menu bar, which sets the item height.
    void setMenuBarHeight(int height) { m_menuBarHeight = height; }
    // Without gradients every gradient is filled solid with its end colour.
    void setGradients(bool enabled) { m_gradients = enabled; }

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override;
    // Alt takes the focus to the menu bar; letters pick items by their mnemonic.
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override;

private:
    void fillGradient(QPainter* painter, const QRect& rect, const QColor& from, const QColor& to,
                      Qt::Orientation orientation) const;
    void drawCheckBox(QPainter* painter, const QRect& band, const ItemState& state,
                      const QPalette& palette) const;
    int shortcutColumnWidth(const QWidget* menu) const;

    QFont m_font;
    int m_imageWidth = 16;
    int m_imageHeight = 15;
    int m_menuBarHeight = 19;
    bool m_gradients = true;
};

// Turns a menu bar, a popup or a context menu (with all its submenus) into owner-drawn
// menus and offers small operations on it. Command ids are each QAction's data.
// Used on the GUI thread only.
class OwnerDrawMenu
{
public:
    // Attaches menu when one is given.
    explicit OwnerDrawMenu(QWidget* menu = nullptr);
    // A view of a popup of another OwnerDrawMenu, sharing its style.
    OwnerDrawMenu(QWidget* menu, QWidget* parent, std::shared_ptr<OwnerDrawStyle> style);
    // A top-level menu detaches on destruction; a popup view leaves its records alone.
    ~OwnerDrawMenu();
    OwnerDrawMenu(const OwnerDrawMenu&) = delete;
    OwnerDrawMenu& operator=(const OwnerDrawMenu&) = delete;

    // False when menu is neither a QMenuBar nor a QMenu (nothing changes then).
    // Otherwise detaches any previous menu, converts this one and its submenus, and
    // returns whether the conversion went through.
    bool attach(QWidget* menu);  // re-attaching the same menu keeps its records
    // Converts items added since the last conversion; existing records stay.
    bool refresh();
    // Frees every record of the attached menu, recursively, and restores its style.
    void detach();
    bool isAttached() const { return !m_menu.isNull(); }
    QWidget* menu() const { return m_menu; }

    // Sets the text of the item at position in the attached menu; false if there is none.
    bool setItemTextAt(quint32 position, const QString& text);
    // Sets the text of the item with the command id, searched depth-first through
    // every submenu; false if there is none.
    bool setCommandText(quint32 command, const QString& text);

    struct Location
    {
        QWidget* menu = nullptr;
        int position = -1;
    };
    // Depth-first, position by position, exact and case-sensitive on the item text.
    std::optional<Location> findByText(const QString& text) const;
    // A view of the popup at position, with this menu as parent; null if none.
    std::unique_ptr<OwnerDrawMenu> subMenu(int position) const;

    bool check(quint32 key, bool byPosition, bool checked);
    bool enable(quint32 key, bool byPosition, bool enabled);

    // The measured size of an item of an attached menu.
    QSize measure(const QAction* action) const;

    OwnerDrawStyle* style() const { return m_style.get(); }
    static MenuItemRecord* record(const QAction* action);

private:
    bool convert(QWidget* menu, bool hasParent);
    // Converts the attached menu and gives it keyboard access.
    bool convertWithKeys();
    QAction* actionByKey(quint32 key, bool byPosition) const;
    static bool setActionText(QAction* action, const QString& text);

    QPointer<QWidget> m_menu;
    QPointer<QWidget> m_parent;
    std::shared_ptr<OwnerDrawStyle> m_style;
};

}  // namespace tessaly
