#include "cli/terminal_texts.h"

#include <string>

#include "cli/cli_texts.h"

namespace tessaly::cli {

TextLookup terminalTexts()
{
    return [texts = CliTexts::fromProgramFolder()](int id) {
        std::string text = texts.text(id);
        return text.empty() ? "[text " + std::to_string(id) + "]" : text;
    };
}

}  // namespace tessaly::cli
