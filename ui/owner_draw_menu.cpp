#include "ui/owner_draw_menu.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>

#include "ui/menu_keys.h"

#include <algorithm>
#include <cstdint>

namespace tessaly {

int mulDivRound(int a, int b, int c)
{
    if (c == 0) {
        return -1;
    }
    const std::int64_t product = std::int64_t{a} * b;
    const std::int64_t half = (c > 0 ? c : -c) / 2;
    const bool negative = (product < 0) != (c < 0);
    const std::int64_t magnitude = ((product < 0 ? -product : product) + half) / (c > 0 ? c : -c);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

namespace {

template <typename Channel>
QColor perChannel(const QColor& a, const QColor& b, Channel channel)
{
    return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()),
                  channel(a.blue(), b.blue()));
}

}  // namespace

QColor blend86(const QColor& a, const QColor& b)
{
    return perChannel(a, b, [](int x, int y) { return mulDivRound(x, 86, 100) + mulDivRound(y, 14, 100); });
}

QColor blend70(const QColor& a, const QColor& b)
{
    return perChannel(a, b, [](int x, int y) { return mulDivRound(x, 7, 10) + mulDivRound(y, 3, 10); });
}

QColor darken(int k, const QColor& c)
{
    return perChannel(c, c, [k](int x, int) { return mulDivRound(x, 255 - k, 255); });
}

QColor lighten(int k, const QColor& c)
{
    return perChannel(c, c, [k](int x, int) { return x + mulDivRound(255 - x, k, 255); });
}

MenuItemRecord::MenuItemRecord(QAction* action) : QObject(action) {}

// ---------------------------------------------------------------------------------------------
// OwnerDrawStyle

namespace {

// Space to the right of a popup item's text: the submenu arrow lives there.
constexpr int kRightGap = 15;
constexpr int kTabExtra = 15;


QString labelOf(const QString& text)
{
    const qsizetype tab = text.indexOf(u'\t');
    return tab < 0 ? text : text.left(tab);
}

QString acceleratorOf(const QString& text)
{
    const qsizetype tab = text.lastIndexOf(u'\t');
    return tab < 0 ? QString() : text.mid(tab + 1);
}

QColor grayTextColor(const QPalette& palette)
{
    return palette.color(QPalette::Disabled, QPalette::WindowText);
}

}  // namespace

OwnerDrawStyle::OwnerDrawStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{
    m_font = QApplication::font("QMenu");
    // A one-line menu bar is the menu font's height plus three pixels above and below.
    m_menuBarHeight = QFontMetrics(m_font).height() + 6;
}

int OwnerDrawStyle::textWidth(const QString& text) const
{
    QString shown = text;
    shown.replace(u'\t', u' ');
    return QFontMetrics(m_font).size(Qt::TextSingleLine | Qt::TextShowMnemonic, shown).width();
}

int OwnerDrawStyle::itemHeight(const QString& text) const
{
    const int height =
        m_imageHeight + 8 >= m_menuBarHeight ? m_imageHeight + 7 : m_menuBarHeight;
    const int textHeight =
        QFontMetrics(m_font).size(Qt::TextSingleLine | Qt::TextShowMnemonic, labelOf(text)).height();
    return std::max(height, textHeight);
}

QSize OwnerDrawStyle::measureItem(const QString& text, bool separator, bool menuBarItem) const
{
    if (separator) {
        return {0, 5};
    }
    int width = textWidth(text);
    if (menuBarItem) {
        width -= 6;
    } else {
        width += 2 * m_imageWidth + 2;
        if (text.contains(u'\t')) {
            width += kTabExtra;
        }
    }
    return {width, itemHeight(text)};
}

void OwnerDrawStyle::fillGradient(QPainter* painter, const QRect& rect, const QColor& from,
                                  const QColor& to, Qt::Orientation orientation) const
{
    if (!m_gradients) {
        painter->fillRect(rect, to);
        return;
    }
    const QPointF end = orientation == Qt::Horizontal ? QPointF(rect.right() + 1, rect.top())
                                                      : QPointF(rect.left(), rect.bottom() + 1);
    QLinearGradient gradient(rect.topLeft(), end);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    painter->fillRect(rect, gradient);
}

void OwnerDrawStyle::drawCheckBox(QPainter* painter, const QRect& band, const ItemState& state,
                                  const QPalette& palette) const
{
    const QColor highlight = palette.color(QPalette::Highlight);
    const QColor bandColor =
        blend86(palette.color(QPalette::Window), palette.color(QPalette::Base));
    const QColor selection = blend70(palette.color(QPalette::Base), highlight);
    const QRect box(band.left() + 1, band.top() + 1, band.width() - 3, band.height() - 2);
    if (!state.checked) {
        if (!state.uncheckedImage.isNull()) {
            const QPixmap image = state.uncheckedImage.pixmap(
                box.size(), state.grayed ? QIcon::Disabled : QIcon::Normal);
            painter->drawPixmap(box.topLeft(), image);
        }
        return;
    }
    const QColor base = blend86(state.selected ? selection : bandColor, highlight);
    fillGradient(painter, box, lighten(128, base), base, Qt::Vertical);
    painter->setPen(QPen(highlight, 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(box.adjusted(0, 0, -1, -1));

    // The mark fills the box shrunk by 2 pixels, centred; the default item's is bolder.
    const QRect inner = box.adjusted(2, 2, -2, -2);
    const qreal side = std::min(inner.width(), inner.height());
    const QRectF glyph(inner.center().x() + 0.5 - side / 2, inner.center().y() + 0.5 - side / 2,
                       side, side);
    const QColor ink =
        state.grayed ? grayTextColor(palette) : palette.color(QPalette::WindowText);
    painter->setRenderHint(QPainter::Antialiasing, true);
    if (state.bullet) {
        const qreal radius = side * (state.isDefault ? 0.22 : 0.18);
        painter->setPen(Qt::NoPen);
        painter->setBrush(ink);
        painter->drawEllipse(glyph.center(), radius, radius);
    } else {
        QPainterPath mark;
        mark.moveTo(glyph.left() + side * 0.15, glyph.top() + side * 0.50);
        mark.lineTo(glyph.left() + side * 0.40, glyph.top() + side * 0.78);
        mark.lineTo(glyph.left() + side * 0.85, glyph.top() + side * 0.22);
        painter->setPen(QPen(ink, state.isDefault ? 2.5 : 1.8, Qt::SolidLine, Qt::RoundCap,
                             Qt::RoundJoin));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(mark);
    }
    painter->setRenderHint(QPainter::Antialiasing, false);
}

void OwnerDrawStyle::drawItem(QPainter* painter, const QRect& rect, const QString& text,
                              const QFont& font, const ItemState& state,
                              const QPalette& palette) const
{
    const QColor menuColor = palette.color(QPalette::Window);
    const QColor windowColor = palette.color(QPalette::Base);
    const QColor highlight = palette.color(QPalette::Highlight);
    const QColor band = blend86(menuColor, windowColor);
    const QColor bandEnd = darken(64, band);
    const QColor selection = blend70(windowColor, highlight);
    const QColor selectionTop = lighten(128, selection);

    painter->save();
    painter->fillRect(rect, menuColor);

    QRect bandRect;
    QRect textRect;
    if (state.menuBarItem) {
        textRect = rect.adjusted(0, 2, -2, 0);
    } else {
        bandRect = QRect(rect.left(), rect.top(), m_imageWidth + 8, rect.height());
        fillGradient(painter, bandRect, band, bandEnd, Qt::Horizontal);
        textRect = rect;
        textRect.setLeft(bandRect.left() + bandRect.width() + 4);
        textRect.setRight(rect.right() - kRightGap);
    }

    if (state.separator) {
        const int y = rect.top() + rect.height() / 2;
        painter->setPen(QPen(grayTextColor(palette), 1));
        painter->drawLine(textRect.left(), y, rect.right(), y);
        painter->restore();
        return;
    }

    if (state.selected) {
        const QRect selected = state.menuBarItem ? textRect : rect;
        if (state.menuBarItem) {
            painter->fillRect(selected, selection);
        } else {
            fillGradient(painter, selected, selectionTop, selection, Qt::Vertical);
        }
        painter->setPen(QPen(highlight, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(selected.adjusted(0, 0, -1, -1));
    }

    const QColor ink = state.grayed ? grayTextColor(palette) : palette.color(QPalette::WindowText);
    if (!text.isEmpty()) {
        painter->setFont(font);
        painter->setPen(ink);
        const int flags = Qt::TextSingleLine | Qt::TextShowMnemonic;
        if (state.menuBarItem) {
            painter->drawText(textRect, flags | Qt::AlignCenter, markedLabel(labelOf(text)));
        } else {
            painter->drawText(textRect, flags | Qt::AlignLeft | Qt::AlignVCenter,
                              markedLabel(labelOf(text)));
            const QString accelerator = acceleratorOf(text);
            if (!accelerator.isEmpty()) {
                painter->drawText(textRect, flags | Qt::AlignRight | Qt::AlignVCenter, accelerator);
            }
        }
    }

    if (state.popupArrow && !state.menuBarItem) {
        const int cx = rect.right() - kRightGap / 2;
        const int cy = rect.top() + rect.height() / 2;
        const QPoint arrow[3] = {QPoint(cx - 2, cy - 4), QPoint(cx + 2, cy), QPoint(cx - 2, cy + 4)};
        painter->setPen(Qt::NoPen);
        painter->setBrush(ink);
        painter->drawPolygon(arrow, 3);
    }

    if (!state.menuBarItem) {
        drawCheckBox(painter, bandRect, state, palette);
    }
    painter->restore();
}

int OwnerDrawStyle::shortcutColumnWidth(const QWidget* menu) const
{
    // The popup adds the widest accelerator to the widest item on its own; the item
    // sizes handed to it leave that part out so the popup ends up as wide as the
    // widest measured item.
    const auto* popup = qobject_cast<const QMenu*>(menu);
    if (popup == nullptr) {
        return 0;
    }
    const QFontMetrics metrics = popup->fontMetrics();
    int widest = 0;
    for (const QAction* action : popup->actions()) {
        if (!action->isVisible() || action->isSeparator()) {
            continue;
        }
        const QString text = action->text();
        const qsizetype tab = text.indexOf(u'\t');
        if (tab >= 0) {
            widest = std::max(widest, metrics.horizontalAdvance(text.mid(tab + 1)));
        } else if (!action->shortcut().isEmpty()) {
            widest = std::max(widest, metrics.horizontalAdvance(
                                          action->shortcut().toString(QKeySequence::NativeText)));
        }
    }
    return widest;
}

QSize OwnerDrawStyle::sizeFromContents(ContentsType type, const QStyleOption* option,
                                       const QSize& size, const QWidget* widget) const
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (item != nullptr && type == CT_MenuItem) {
        const bool separator = item->menuItemType == QStyleOptionMenuItem::Separator;
        const QSize measured = measureItem(item->text, separator, false);
        // An empty size would hide the item, so a separator reports one pixel of width;
        // every item is stretched to the popup's width anyway.
        const int width = std::max(
            1, measured.width() + kPopupItemPadding - shortcutColumnWidth(widget));
        return {width, measured.height()};
    }
    if (item != nullptr && type == CT_MenuBarItem) {
        const QSize measured = measureItem(item->text, false, true);
        return {std::max(1, measured.width() + kBarItemPadding), measured.height()};
    }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

void OwnerDrawStyle::drawControl(ControlElement element, const QStyleOption* option,
                                 QPainter* painter, const QWidget* widget) const
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (item == nullptr) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    switch (element) {
        case CE_MenuItem:
        case CE_MenuBarItem: {
            ItemState state;
            state.menuBarItem = element == CE_MenuBarItem;
            state.separator = item->menuItemType == QStyleOptionMenuItem::Separator;
            state.popupArrow = item->menuItemType == QStyleOptionMenuItem::SubMenu;
            state.selected = (item->state & State_Selected) != 0;
            state.grayed = (item->state & State_Enabled) == 0;
            state.checked =
                item->checkType != QStyleOptionMenuItem::NotCheckable && item->checked;
            state.bullet = item->checkType == QStyleOptionMenuItem::Exclusive;
            state.isDefault = item->menuItemType == QStyleOptionMenuItem::DefaultItem;
            state.uncheckedImage = item->icon;
            QFont font = m_font;
            const QAction* action = nullptr;
            if (const auto* popup = qobject_cast<const QMenu*>(widget)) {
                action = popup->actionAt(item->rect.center());
            } else if (const auto* bar = qobject_cast<const QMenuBar*>(widget)) {
                action = bar->actionAt(item->rect.center());
            }
            if (const MenuItemRecord* record = OwnerDrawMenu::record(action)) {
                if (record->font) {
                    font = *record->font;
                }
            }
            drawItem(painter, item->rect, item->text, font, state, item->palette);
            return;
        }
        case CE_MenuEmptyArea:
        case CE_MenuBarEmptyArea:
            painter->fillRect(option->rect, option->palette.color(QPalette::Window));
            return;
        default:
            QProxyStyle::drawControl(element, option, painter, widget);
    }
}

void OwnerDrawStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                   QPainter* painter, const QWidget* widget) const
{
    switch (element) {
        case PE_PanelMenu:
        case PE_PanelMenuBar:
            painter->fillRect(option->rect, option->palette.color(QPalette::Window));
            return;
        case PE_FrameMenu:
            painter->save();
            painter->setPen(option->palette.color(QPalette::Dark));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
            painter->restore();
            return;
        default:
            QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
}

int OwnerDrawStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                const QWidget* widget) const
{
    switch (metric) {
        case PM_MenuPanelWidth:
            return 1;
        case PM_MenuVMargin:
            return 2;
        case PM_MenuHMargin:
        case PM_MenuBarPanelWidth:
        case PM_MenuBarHMargin:
        case PM_MenuBarVMargin:
        case PM_MenuBarItemSpacing:
            return 0;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

int OwnerDrawStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                              QStyleHintReturn* returnData) const
{
    switch (hint) {
        case SH_MenuBar_AltKeyNavigation:
            return 1;
        case SH_Menu_KeyboardSearch:
            return 0;
        default:
            return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
}

// ---------------------------------------------------------------------------------------------
// OwnerDrawMenu

namespace {

bool isMenu(const QWidget* widget)
{
    return qobject_cast<const QMenuBar*>(widget) != nullptr ||
           qobject_cast<const QMenu*>(widget) != nullptr;
}

void restoreStyle(QWidget* menu)
{
    if (menu == nullptr) {
        return;
    }
    for (QAction* action : menu->actions()) {
        delete OwnerDrawMenu::record(action);
        restoreStyle(action->menu());
    }
    menu->setStyle(nullptr);
    menu->setFont(QFont());
}

QAction* findCommand(const QWidget* menu, quint32 id)
{
    for (QAction* action : menu->actions()) {
        if (QMenu* popup = action->menu()) {
            if (QAction* found = findCommand(popup, id)) {
                return found;
            }
        } else if (!action->isSeparator() && action->data().isValid() &&
                   action->data().toUInt() == id) {
            return action;
        }
    }
    return nullptr;
}

std::optional<OwnerDrawMenu::Location> findText(QWidget* menu, const QString& text)
{
    const QList<QAction*> actions = menu->actions();
    for (int position = 0; position < actions.size(); ++position) {
        const MenuItemRecord* record = OwnerDrawMenu::record(actions[position]);
        const QString itemText = record != nullptr ? record->text : actions[position]->text();
        if (itemText.left(1000) == text) {
            return OwnerDrawMenu::Location{menu, position};
        }
        if (QMenu* popup = actions[position]->menu()) {
            if (auto found = findText(popup, text)) {
                return found;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

OwnerDrawMenu::OwnerDrawMenu(QWidget* menu) : m_style(std::make_shared<OwnerDrawStyle>())
{
    if (menu != nullptr) {
        attach(menu);
    }
}

OwnerDrawMenu::OwnerDrawMenu(QWidget* menu, QWidget* parent,
                             std::shared_ptr<OwnerDrawStyle> style)
    : m_menu(menu), m_parent(parent), m_style(std::move(style))
{
}

OwnerDrawMenu::~OwnerDrawMenu()
{
    if (m_parent.isNull()) {
        detach();
    }
}

MenuItemRecord* OwnerDrawMenu::record(const QAction* action)
{
    if (action == nullptr) {
        return nullptr;
    }
    return action->findChild<MenuItemRecord*>(QString(), Qt::FindDirectChildrenOnly);
}

bool OwnerDrawMenu::attach(QWidget* menu)
{
    if (!isMenu(menu)) {
        return false;
    }
    // The same menu again keeps its records; another one releases the previous menu.
    if (m_menu != menu) {
        detach();
    }
    m_menu = menu;
    return convertWithKeys();
}

bool OwnerDrawMenu::refresh()
{
    return isAttached() && convertWithKeys();
}

bool OwnerDrawMenu::convertWithKeys()
{
    const bool converted = convert(m_menu, !m_parent.isNull());
    // A popup view shares the keys of the menu it belongs to.
    if (m_parent.isNull()) {
        MenuKeys::install(m_menu);
    }
    return converted;
}

void OwnerDrawMenu::detach()
{
    if (m_parent.isNull()) {
        MenuKeys::uninstall(m_menu);
    }
    restoreStyle(m_menu);
    m_menu = nullptr;
}

bool OwnerDrawMenu::convert(QWidget* menu, bool hasParent)
{
    menu->setStyle(m_style.get());
    menu->setFont(m_style->menuFont());
    const bool isBar = qobject_cast<QMenuBar*>(menu) != nullptr;
    for (QAction* action : menu->actions()) {
        MenuItemRecord* item = record(action);
        if (item == nullptr) {
            item = new MenuItemRecord(action);
            item->text = action->text();
            if (action->menu() != nullptr) {
                item->kind = MenuItemRecord::Kind::Popup;
                item->popup = action->menu();
                // A context menu's submenu items are drawn as popup items; only the
                // items of a real menu bar are menu-bar items.
                item->menuBarItem = !hasParent && isBar;
            } else if (action->isSeparator()) {
                item->kind = MenuItemRecord::Kind::Separator;
                item->text.clear();
            } else {
                item->id = action->data().toUInt();
            }
        }
        if (QMenu* popup = action->menu()) {
            if (!convert(popup, true)) {
                return false;
            }
        }
    }
    return true;
}

QAction* OwnerDrawMenu::actionByKey(quint32 key, bool byPosition) const
{
    if (!isAttached()) {
        return nullptr;
    }
    if (byPosition) {
        const QList<QAction*> actions = m_menu->actions();
        return key < static_cast<quint32>(actions.size()) ? actions[static_cast<int>(key)]
                                                          : nullptr;
    }
    return findCommand(m_menu, key);
}

bool OwnerDrawMenu::setItemTextAt(quint32 position, const QString& text)
{
    return setActionText(actionByKey(position, true), text);
}

bool OwnerDrawMenu::setCommandText(quint32 command, const QString& text)
{
    return setActionText(actionByKey(command, false), text);
}

bool OwnerDrawMenu::setActionText(QAction* action, const QString& text)
{
    if (action == nullptr) {
        return false;
    }
    if (MenuItemRecord* item = record(action)) {
        item->text = text;
    }
    // The widget measures from the action's text, so both stay the same.
    action->setText(text);
    return true;
}

std::optional<OwnerDrawMenu::Location> OwnerDrawMenu::findByText(const QString& text) const
{
    if (!isAttached()) {
        return std::nullopt;
    }
    return findText(m_menu, text);
}

std::unique_ptr<OwnerDrawMenu> OwnerDrawMenu::subMenu(int position) const
{
    if (!isAttached() || position < 0 || position >= m_menu->actions().size()) {
        return nullptr;
    }
    QMenu* popup = m_menu->actions()[position]->menu();
    if (popup == nullptr) {
        return nullptr;
    }
    return std::make_unique<OwnerDrawMenu>(popup, m_menu, m_style);
}

bool OwnerDrawMenu::check(quint32 key, bool byPosition, bool checked)
{
    QAction* action = actionByKey(key, byPosition);
    if (action == nullptr) {
        return false;
    }
    action->setCheckable(true);
    action->setChecked(checked);
    return true;
}

bool OwnerDrawMenu::enable(quint32 key, bool byPosition, bool enabled)
{
    QAction* action = actionByKey(key, byPosition);
    if (action == nullptr) {
        return false;
    }
    action->setEnabled(enabled);
    return true;
}

QSize OwnerDrawMenu::measure(const QAction* action) const
{
    const MenuItemRecord* item = record(action);
    if (item == nullptr) {
        return {};
    }
    return m_style->measureItem(item->text, item->kind == MenuItemRecord::Kind::Separator,
                                item->menuBarItem);
}

}  // namespace tessaly
