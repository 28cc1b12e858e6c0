// tessaly-cli map LOG [--size=N]: a copy log as a GNU ddrescue mapfile.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/escaped_name.h"
#include "cli/terminal_texts.h"
#include "engine/copy_log.h"
#include "engine/plain_file.h"
#include "texts/text_ids.h"
#include "tool/job_ui.h"
#include "tool/rescue_map.h"

namespace tessaly::cli {
namespace {

void printMapUsage(std::FILE* out)
{
    std::fprintf(out,
                 "Usage: tessaly-cli map LOG [--size=N]\n\n"
                 "Writes the copy log LOG as a GNU ddrescue mapfile on standard output: the\n"
                 "filled regions as bad sectors '-' (non-trimmed '*' where the trim pass\n"
                 "has not read their edges yet), the rest of what the copy reached as\n"
                 "finished '+', and with --size the rest of a file of N bytes as non-tried\n"
                 "'?'; so are the areas that a copy reading the easy data first has not\n"
                 "tried yet. N is decimal, or hexadecimal with 0x.\n\n"
                 "Exit status: 0 written, 2 the log cannot be read, 64 usage error.\n");
}

std::optional<std::uint64_t> parseSize(std::string_view text)
{
    if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
    const std::string s(text);
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(s.c_str(), &end, 0);
    if (errno != 0 || end == s.c_str() || *end != '\0') return std::nullopt;
    return value;
}

}  // namespace

int runMapCommand(int argc, char** argv)
{
    std::optional<std::string> logPath;
    std::optional<std::uint64_t> size;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printMapUsage(stdout);
            return 0;
        }
        if (arg.starts_with("--size=") && !size) {
            size = parseSize(arg.substr(7));
            if (!size) {
                std::fprintf(stderr, "tessaly-cli map: '%s' is not a size in bytes\n", argv[i]);
                return kExitUsage;
            }
        } else if (!arg.starts_with("-") && !logPath) {
            logPath = std::string(arg);
        } else {
            printMapUsage(stderr);
            return kExitUsage;
        }
    }
    if (!logPath) {
        printMapUsage(stderr);
        return kExitUsage;
    }

    PlainFile file;
    CopyLog log;
    std::vector<BadRegion> records;
    if (!file.openExisting(*logPath, Access::Read)) {
        const TextLookup text = terminalTexts();
        std::fprintf(stderr, "%s\n",
                     composeMessage({text::kFileWord, escapedName(*logPath), text::kCannotOpen}, text).c_str());
        return 2;
    }
    log.bind(&file);
    if (log.readRegions(records) < 0) {
        std::fprintf(stderr, "%s\n", terminalTexts()(text::kNoFileName).c_str());
        return 2;
    }
    const std::optional<std::vector<MapBlock>> blocks =
        logMapBlocks(records, log.readAnnotations().value_or(std::vector<LogAnnotation>{}), size);
    if (!blocks) {
        std::fprintf(stderr, "tessaly-cli map: the log covers more than --size bytes\n");
        return kExitUsage;
    }
    const std::string map =
        formatRescueMap(*blocks, "Mapfile. Created by tessaly-cli map\nCopy log: " + *logPath);
    if (std::fwrite(map.data(), 1, map.size(), stdout) != map.size() || std::fflush(stdout) != 0) {
        std::perror("tessaly-cli map");
        return 2;
    }
    return 0;
}

}  // namespace tessaly::cli
