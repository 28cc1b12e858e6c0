#pragma once

#include <string>
#include <vector>

namespace tessaly {

// What `tessaly` was asked on its command line.
struct CommandLine
{
    std::string outputFolder;  // --output=DIR: the output folder of this run; empty: none given
    bool start = false;        // --start: copy once the paths are listed
    bool help = false;         // --help
    std::string screenshot;    // --screenshot=FILE: render the window into FILE and end
    std::vector<std::string> paths;  // files and folders to list, in their order
    std::string error;               // not empty: the arguments make no sense, say this
};

// Reads the arguments after the program's name. "--" ends the options.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// True for --help and -h, which need no display and are answered before anything else.
bool isHelpOption(const std::string& argument);

// The text of --help.
std::string usageText();

}  // namespace tessaly
