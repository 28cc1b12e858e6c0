// tessaly-cli languages: the language files that the programs would offer.
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/escaped_name.h"
#include "platform/program_folder.h"
#include "texts/language_table.h"
#include "texts/text_encoding.h"

namespace tessaly::cli {

int runLanguages(int argc, char** argv)
{
    if (argc > 1) {
        const std::string_view arg = argv[1];
        const bool help = arg == "--help" || arg == "-h";
        std::fprintf(help ? stdout : stderr,
                     "Usage: tessaly-cli languages\n\n"
                     "Lists the language files in the program folder: file name, then the\n"
                     "name the Language menu shows.\n");
        return help ? 0 : kExitUsage;
    }
    const std::filesystem::path folder = programFolder();
    std::printf("Program folder: %s\n", escapedName(folder.string()).c_str());
    LanguageTable table;
    const std::size_t count = table.enumerateLanguages(folder);
    for (std::size_t i = 0; i < count; ++i) {
        std::printf("%-20s %s\n", escapedName(*table.languageFile(i)).c_str(),
                    textToUtf8(*table.languageName(i)).c_str());
    }
    if (count == 0) {
        std::fprintf(stderr, "tessaly-cli: no language files (*.lng) in %s\n",
                     escapedName(folder.string()).c_str());
        return 1;
    }
    return 0;
}

}  // namespace tessaly::cli
