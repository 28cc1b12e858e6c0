#pragma once

#include <QtGlobal>

#include <string>

class QMenu;

namespace tessaly {

class LanguageTable;
class OwnerDrawMenu;

// Fills the Language submenu of menu (the popup whose item still reads "Language"):
// drops its placeholder item and lists the languages of table as radio items with the
// command ids firstId + i, marking the first whose file name equals currentFile,
// ignoring case. At most idCount items. Returns the submenu; null when there is none.
QMenu* fillLanguageMenu(OwnerDrawMenu& menu, const LanguageTable& table,
                        const std::string& currentFile, quint32 firstId, std::size_t idCount);

}  // namespace tessaly
