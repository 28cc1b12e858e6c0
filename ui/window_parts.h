#pragma once

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QString>

namespace tessaly {

// Small pieces the programs' windows are built from.

// An etched horizontal line between groups of fields.
inline QFrame* etchedLine(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// A field that shows a value; a long value is cut at the window's edge instead of
// widening the window.
inline QLabel* valueField(QWidget* parent, const char* name)
{
    auto* field = new QLabel(parent);
    field->setObjectName(QLatin1String(name));
    field->setWordWrap(false);
    field->setTextFormat(Qt::PlainText);
    field->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return field;
}

// A label with its template text, until the language's text replaces it.
inline QLabel* fieldLabel(QWidget* parent, const char* name, const char* templateText)
{
    auto* text = new QLabel(QLatin1String(templateText), parent);
    text->setObjectName(QLatin1String(name));
    return text;
}

// A menu item that carries its command id as its data.
inline QAction* addCommand(QMenu* menu, const char* text, quint32 id)
{
    QAction* action = menu->addAction(QString::fromLatin1(text));
    action->setData(id);
    return action;
}

}  // namespace tessaly
