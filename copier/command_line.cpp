#include "copier/command_line.h"

namespace tessaly {
namespace {

bool takeValue(const std::string& argument, const std::string& option, std::string& value)
{
    const std::string prefix = option + "=";
    if (argument.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    value = argument.substr(prefix.size());
    return true;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLine line;
    bool options = true;
    for (const std::string& argument : arguments) {
        if (!options || argument.empty() || argument[0] != '-' || argument == "-") {
            line.paths.push_back(argument);
        } else if (argument == "--") {
            options = false;
        } else if (isHelpOption(argument)) {
            line.help = true;
        } else if (argument == "--start") {
            line.start = true;
        } else if (takeValue(argument, "--output", line.outputFolder)) {
            if (line.outputFolder.empty()) {
                line.error = "--output needs a folder: --output=DIR";
            }
        } else if (takeValue(argument, "--screenshot", line.screenshot)) {
            if (line.screenshot.empty()) {
                line.error = "--screenshot needs a file: --screenshot=FILE";
            }
        } else {
            line.error = "unknown option " + argument;
        }
        if (!line.error.empty()) {
            break;
        }
    }
    return line;
}

bool isHelpOption(const std::string& argument)
{
    return argument == "--help" || argument == "-h";
}

std::string usageText()
{
    return "Usage: tessaly [--output=DIR] [--start] [PATH...]\n"
           "Copies files from damaged media and salvages every byte the medium still gives.\n"
           "\n"
           "  PATH          a file or a folder to put on the list; a folder gives every file\n"
           "                below it, copied below the output folder with its path from the\n"
           "                mount point of its volume, a file is copied straight into it,\n"
           "                a device (/dev/sdb) into an image named after it (sdb.img)\n"
           "  --output=DIR  the output folder of this run (the stored one stays as it is)\n"
           "  --start       start copying once the paths are listed\n"
           "  --help        show this text\n"
           "\n"
           "Without PATH the window opens with the quick start chosen in its settings.\n"
           "Closing the window during a copy stops it; the copy's log keeps its place, and\n"
           "the next run continues it.\n";
}

}  // namespace tessaly
