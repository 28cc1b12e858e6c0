#include "ui/entry_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

#include <array>

namespace tessaly {
namespace {

// The colours of the program icons.
const QColor kRim(0x1b, 0x2f, 0x4a);
const QColor kBlue(0x2c, 0x6f, 0xbf);
const QColor kTeal(0x1f, 0x9a, 0x94);
const QColor kGreen(0x32, 0x96, 0x32);
const QColor kDarkRed(0x9a, 0x1f, 0x1f);
const QColor kRed(0xd9, 0x4a, 0x3a);
const QColor kAmber(0xe8, 0xa0, 0x1c);

void drawWaiting(QPainter& p)
{
    p.setPen(QPen(kRim, 1.2));
    p.setBrush(kBlue);
    p.drawEllipse(QRectF(3.5, 3.5, 9, 9));
}

void drawCopying(QPainter& p)
{
    const QPolygonF arrow({{2, 6}, {8, 6}, {8, 2.5}, {14, 8}, {8, 13.5}, {8, 10}, {2, 10}});
    p.setPen(QPen(kRim, 1.0));
    p.setBrush(kTeal);
    p.drawPolygon(arrow);
}

void drawTick(QPainter& p, const QColor& colour)
{
    QPainterPath tick;
    tick.moveTo(2.5, 8.5);
    tick.lineTo(6.5, 12.5);
    tick.lineTo(13.5, 3.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kRim, 4.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
    p.setPen(QPen(colour, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
}

void drawCopied(QPainter& p)
{
    drawTick(p, kGreen);
}

// The tick of a copy that reached its end, in amber, with a red block for the sectors
// it lacks (the block map's colour of unread cells).
void drawDamaged(QPainter& p)
{
    drawTick(p, kAmber);
    p.setPen(QPen(kRim, 1.0));
    p.setBrush(kRed);
    p.drawRect(QRectF(10.5, 9.5, 5, 5));
}

void drawInterrupted(QPainter& p)
{
    p.setPen(QPen(kRim, 1.0));
    p.setBrush(kDarkRed);
    p.drawRoundedRect(QRectF(6.5, 1.5, 3, 9), 1.2, 1.2);
    p.drawEllipse(QRectF(6.3, 11.5, 3.4, 3.4));
}

void drawFailed(QPainter& p)
{
    for (const auto& [colour, width] : {std::pair{kRim, 4.4}, std::pair{kRed, 2.6}}) {
        p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    }
}

QIcon draw(void (*paint)(QPainter&))
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter);
    painter.end();
    return QIcon(pixmap);
}

}  // namespace

QIcon entryIcon(int index)
{
    // Drawn once, on first use (a QPixmap needs the application object).
    static const std::array<QIcon, kEntryIconCount> icons = {
        draw(drawWaiting), draw(drawCopying), draw(drawCopied), draw(drawInterrupted),
        draw(drawFailed), draw(drawDamaged)};
    if (index < 0 || index >= kEntryIconCount) {
        return {};
    }
    return icons[static_cast<std::size_t>(index)];
}

}  // namespace tessaly
