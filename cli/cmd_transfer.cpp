// tessaly-cli get|put LOG [--data=PATH]: the companion tool's transfer jobs.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/escaped_name.h"
#include "cli/terminal_job_ui.h"
#include "cli/terminal_texts.h"
#include "platform/terminal.h"
#include "tool/transfer_jobs.h"

namespace tessaly::cli {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitReadFailed = 1;
constexpr int kExitFailed = 2;

void printTransferUsage(std::FILE* out, const char* name)
{
    std::fprintf(out,
                 "Usage: tessaly-cli %s LOG [--data=PATH]\n\n"
                 "%s\n\n"
                 "  LOG          the copy log (\"NAME.log\" beside the damaged copy)\n"
                 "  --data=PATH  the data file to use when the one the log names is not\n"
                 "               found; without it the file is asked for on the terminal\n\n"
                 "Exit status: 0 done, 1 a region could not be read, 2 a region could not\n"
                 "be written or the job ended on an error, 64 usage error.\n",
                 name,
                 std::strcmp(name, "get") == 0
                     ? "Reads the regions the log lists out of a readable instance of the\n"
                       "file into the transfer file NAME.mrd beside it."
                     : "Writes the transfer file NAME.mrd into the damaged copy at the\n"
                       "regions the log lists.");
}

int exitStatus(TransferOutcome outcome)
{
    switch (outcome) {
        case TransferOutcome::Done:
            return kExitDone;
        case TransferOutcome::ReadFailed:
            return kExitReadFailed;
        default:
            return kExitFailed;
    }
}

int runTransfer(int argc, char** argv, TransferKind kind)
{
    std::optional<std::string> log;
    std::optional<std::string> data;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printTransferUsage(stdout, argv[0]);
            return 0;
        }
        if (arg.starts_with("--data=") && arg.size() > 7 && !data) {
            // Relative to where the command was given, as a shell user expects.
            data = std::filesystem::absolute(std::string(arg.substr(7))).string();
        } else if (!arg.starts_with("-") && !log) {
            log = std::string(arg);
        } else {
            printTransferUsage(stderr, argv[0]);
            return kExitUsage;
        }
    }
    if (!log) {
        printTransferUsage(stderr, argv[0]);
        return kExitUsage;
    }
    const std::filesystem::path logPath(*log);
    const std::filesystem::path parent = logPath.parent_path();
    const std::string folder = parent.empty() ? std::string(1, '.') : parent.string();
    const TransferJob job{logPath.filename().string(), folder, kind};

    TerminalJobUi ui(terminalTexts(), data, isTerminal(stdin));
    TransferFiles files;
    const TransferOutcome outcome = runTransferJob(job, files, ui);
    if (outcome == TransferOutcome::Ignored) {
        std::fprintf(stderr, "tessaly-cli: '%s' is too short a name for a copy log\n",
                     escapedName(*log).c_str());
    }
    return exitStatus(outcome);
}

}  // namespace

int runGetCommand(int argc, char** argv)
{
    return runTransfer(argc, argv, TransferKind::Get);
}

int runPutCommand(int argc, char** argv)
{
    return runTransfer(argc, argv, TransferKind::Put);
}

}  // namespace tessaly::cli
