#include "cli/terminal_texts.h"

#include <cstdio>
#include <memory>
#include <string>

#include "platform/program_folder.h"
#include "ui/language_table.h"

namespace tessaly::cli {

TextLookup terminalTexts()
{
    auto table = std::make_shared<LanguageTable>();
    const std::filesystem::path folder = programFolder();
    if (folder.empty() || !table->loadLanguage(folder, "english.lng")) {
        std::fprintf(stderr, "tessaly-cli: cannot load english.lng from '%s'\n",
                     folder.string().c_str());
        return [](int id) { return "[text " + std::to_string(id) + "]"; };
    }
    return [table](int id) { return table->text(static_cast<std::uint32_t>(id)); };
}

}  // namespace tessaly::cli
