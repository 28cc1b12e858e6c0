#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QSize>
#include <QString>

namespace tessaly {

// The pixel size of width x height dialog units of font: a unit is a quarter of the
// font's average character width across and an eighth of its height down, which is
// how the windows' templates give their sizes.
inline QSize dialogUnits(const QFont& font, int width, int height)
{
    const QFontMetrics metrics(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int averageWidth = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    return QSize(width * averageWidth / 4, height * metrics.height() / 8);
}

}  // namespace tessaly
