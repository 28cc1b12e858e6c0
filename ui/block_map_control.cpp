#include "ui/block_map_control.h"

#include <QCloseEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QToolTip>
#include <array>

#include "ui/ui_text.h"

namespace tessaly {

namespace {

constexpr QRgb kBorder = qRgb(0, 0, 0);

QRgb fillOf(CellState state)
{
    static constexpr std::array<QRgb, 5> kFill = {
        qRgb(255, 255, 255),  // NotReached
        qRgb(0, 0, 255),      // Read
        qRgb(255, 0, 0),      // Unread
        qRgb(0, 255, 0),      // Current
        qRgb(255, 255, 0),    // NotTried
    };
    return kFill[static_cast<std::size_t>(state)];
}

// One cell: a black square of kCellSize pixels around its colour, written straight
// into the image's lines (the map may draw tens of thousands at a full repaint).
void drawCell(QImage& image, int left, int top, QRgb fill)
{
    for (int y = 0; y < kCellSize; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(top + y)) + left;
        const bool edge = y == 0 || y == kCellSize - 1;
        line[0] = kBorder;
        for (int x = 1; x < kCellSize - 1; ++x) line[x] = edge ? kBorder : fill;
        line[kCellSize - 1] = kBorder;
    }
}

}  // namespace

BlockMapControl::BlockMapControl(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Sunken);  // the etched frame of the detail view
    setFocusPolicy(Qt::ClickFocus);               // so that F1 reaches the map
}

void BlockMapControl::resetForNewFile()
{
    m_layout.reset();
    repaintInFull();
}

void BlockMapControl::refresh()
{
    // A hidden widget gets its resize event only when it is shown.
    if (m_picture.size() != contentsRect().size().expandedTo(QSize(0, 0))) repaintInFull();
    if (m_source == nullptr) return;
    const std::uint32_t generation = m_source->generation();
    if (generation != m_generation) {
        // The regions were replaced (trimmed): read them all again and draw every cell.
        m_generation = generation;
        m_layout.reset();
        m_layout.requestFullRepaint();
    }
    const BlockMapProgress progress = m_source->progress();
    m_layout.update(progress, m_source->regionsFrom(m_layout.regionCount()));
    m_layout.setNotTried(m_source->notTried());
    draw(m_layout.walk());
}

void BlockMapControl::repaintInFull()
{
    const QSize client = contentsRect().size();
    if (m_picture.size() != client) {
        m_picture = QImage(client.expandedTo(QSize(0, 0)), QImage::Format_RGB32);
    }
    m_layout.setClientSize(m_picture.width(), m_picture.height());
    m_layout.requestFullRepaint();
    draw(m_layout.walk());
}

void BlockMapControl::draw(const BlockMapLayout::Walk& walk)
{
    m_lastDrawnCells = walk.cells.size();
    if (m_picture.isNull()) return;
    if (walk.full) {
        m_picture.fill(palette().color(backgroundRole()));
        update(contentsRect());
    }
    if (walk.cells.empty()) return;
    const BlockMapGrid& grid = m_layout.grid();
    for (const CellPaint& cell : walk.cells) {
        drawCell(m_picture, grid.cellLeft(cell.index), grid.cellTop(cell.index),
                 fillOf(cell.state));
    }
    // The cells of one walk follow one another: their rows bound what changed.
    const int top = grid.cellTop(walk.cells.front().index);
    const int bottom = grid.cellTop(walk.cells.back().index) + kCellSize;
    update(QRect(0, top, m_picture.width(), bottom - top).translated(contentsRect().topLeft()));
}

void BlockMapControl::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);  // the frame
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawImage(contentsRect().topLeft(), m_picture);
}

void BlockMapControl::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    repaintInFull();
}

void BlockMapControl::changeEvent(QEvent* event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) repaintInFull();
}

void BlockMapControl::closeEvent(QCloseEvent* event)
{
    // Closing the frame hides the detail view; the window decides, the map stays.
    event->ignore();
    emit closeRequested();
}

void BlockMapControl::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1) {
        emit helpRequested(kHelpContext);
        return;
    }
    QFrame::keyPressEvent(event);
}

bool BlockMapControl::event(QEvent* event)
{
    if (event->type() == QEvent::WhatsThis) {
        emit helpRequested(kHelpContext);
        return true;
    }
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = toolTipAt(help->pos());
        if (tip.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            const int cell = cellAt(help->pos());
            QToolTip::showText(help->globalPos(), tip, this,
                               QRect(cellOrigin(cell), QSize(kCellSize, kCellSize)));
        }
        return true;
    }
    return QFrame::event(event);
}

int BlockMapControl::cellAt(const QPoint& pos) const
{
    const QPoint inside = pos - contentsRect().topLeft();
    return m_layout.grid().cellAt(inside.x(), inside.y());
}

QPoint BlockMapControl::cellOrigin(int index) const
{
    const BlockMapGrid& grid = m_layout.grid();
    return QPoint(grid.cellLeft(index), grid.cellTop(index)) + contentsRect().topLeft();
}

QString BlockMapControl::text(std::uint32_t id) const
{
    return uiText(*m_language, id);
}

QString BlockMapControl::toolTipAt(const QPoint& pos) const
{
    const CellInfo info = m_layout.cellInfo(cellAt(pos));
    if (!info.shown || m_language == nullptr) return {};
    QStringList lines;
    if (info.end > info.first) {
        lines << QStringLiteral("%1 %2 \u2013 %3")
                     .arg(text(text::kMapBytes))
                     .arg(info.first)
                     .arg(info.end - 1);
    }
    switch (info.state) {
        case CellState::NotReached:
            lines << text(text::kMapNotReached);
            break;
        case CellState::Read:
            lines << text(text::kMapRead);
            break;
        case CellState::Current:
            lines << text(text::kMapCurrent);
            break;
        case CellState::NotTried:
            lines << text(text::kMapNotTried);
            break;
        case CellState::Unread:
            break;
    }
    // A cell past the position is white whatever it overlaps, and so is its tooltip.
    if (info.unreadBytes > 0 && info.state != CellState::NotReached) {
        lines << QStringLiteral("%1 %2").arg(text(text::kMapUnread)).arg(info.unreadBytes);
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace tessaly
