#pragma once

#include <QString>

#include <cstdint>

#include "texts/language_table.h"
#include "texts/text_encoding.h"

namespace tessaly {

// A text of the loaded language as the widgets show it (language files are bytes:
// UTF-8, or Windows-1252 in older files).
inline QString uiText(const LanguageTable& language, std::uint32_t id)
{
    return QString::fromStdString(textToUtf8(language.text(id)));
}

}  // namespace tessaly
