#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "texts/language_table.h"
#include "texts/text_ids.h"

namespace tessaly::cli {

// The texts of the loaded language file, with the English texts built in for a
// program that finds no language file or an id the file lacks.
class CliTexts
{
public:
    explicit CliTexts(std::shared_ptr<const LanguageTexts> texts = nullptr)
        : m_texts(std::move(texts))
    {
    }
    // english.lng from the program folder; the built-in texts when it cannot be read.
    static CliTexts fromProgramFolder();

    std::string text(int id) const;
    // The built-in English text of id; empty for an id the command line does not use.
    static const char* builtIn(int id);

private:
    std::shared_ptr<const LanguageTexts> m_texts;
};

}  // namespace tessaly::cli
