#include "ui/language_menu.h"

#include <QActionGroup>
#include <QFile>
#include <QMenu>

#include <algorithm>

#include "texts/language_table.h"
#include "texts/text_encoding.h"
#include "ui/owner_draw_menu.h"
#include "ui/path_text.h"

namespace tessaly {

QMenu* fillLanguageMenu(OwnerDrawMenu& menu, const LanguageTable& table,
                        const std::string& currentFile, quint32 firstId, std::size_t idCount)
{
    const auto location = menu.findByText(QStringLiteral("Language"));
    QMenu* popup = location ? location->menu->actions().at(location->position)->menu() : nullptr;
    if (popup == nullptr) {
        return nullptr;
    }
    if (!popup->actions().isEmpty()) {
        QAction* placeholder = popup->actions().constFirst();
        popup->removeAction(placeholder);
        delete placeholder;
    }
    auto* group = new QActionGroup(popup);
    group->setExclusive(true);
    bool marked = false;
    const QString current = pathText(currentFile);
    const std::size_t count = std::min(table.languageCount(), idCount);
    for (std::size_t i = 0; i < count; ++i) {
        QAction* item = popup->addAction(
            QString::fromStdString(textToUtf8(table.languageName(i).value_or(std::string()))));
        item->setData(firstId + static_cast<quint32>(i));
        item->setCheckable(true);
        group->addAction(item);
        const QString file =
            pathText(table.languageFile(i).value_or(""));
        // The first of several names that differ only in case takes the mark.
        if (!marked && file.compare(current, Qt::CaseInsensitive) == 0) {
            item->setChecked(true);
            marked = true;
        }
    }
    menu.refresh();
    return popup;
}

}  // namespace tessaly
