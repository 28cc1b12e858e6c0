// tessaly-cli: the copy engine and the transfer jobs for terminals and scripts.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "cli/commands.h"

namespace {

struct Command
{
    const char* name;
    int (*run)(int argc, char** argv);
    const char* summary;
};

// One line per subcommand; each lives in its own cmd_*.cpp.
constexpr Command kCommands[] = {
    {"copy", tessaly::cli::runCopy, "copy files from a damaged medium, salvaging what it gives"},
    {"files", tessaly::cli::runFiles, "list the files of an image or device, and which are damaged"},
    {"help", nullptr, "show this text"},
    {"get", tessaly::cli::runGetCommand, "read a copy log's regions into its transfer file"},
    {"put", tessaly::cli::runPutCommand, "write a transfer file into the damaged copy"},
    {"map", tessaly::cli::runMapCommand, "write a copy log as a GNU ddrescue mapfile"},
    {"languages", tessaly::cli::runLanguages, "list the language files of the program folder"},
};

void printUsage(std::FILE* out)
{
    std::fprintf(out, "Usage: tessaly-cli COMMAND [options] ...\n\nCommands:\n");
    for (const Command& c : kCommands) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
    std::fprintf(out, "\n'tessaly-cli COMMAND --help' describes one command.\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        printUsage(stderr);
        return tessaly::cli::kExitUsage;
    }
    const std::string_view name = argv[1];
    if (name == "help" || name == "--help" || name == "-h") {
        printUsage(stdout);
        return 0;
    }
    for (const Command& c : kCommands) {
        if (c.run && name == c.name) return c.run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "tessaly-cli: unknown command '%s'\n", argv[1]);
    printUsage(stderr);
    return tessaly::cli::kExitUsage;
}
