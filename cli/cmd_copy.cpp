// tessaly-cli copy: the copy engine over a list of files and folders.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "cli/copy_driver.h"
#include "cli/copy_list.h"
#include "cli/copy_options.h"
#include "cli/terminal_console.h"
#include "engine/copy_engine.h"

namespace tessaly::cli {

namespace {

std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void onStopSignal(int)
{
    g_stopRequested.store(true);
}

// SIGINT and SIGTERM raise the stop flag; the engine ends the current file as
// Stopped with its log closed properly. No SA_RESTART: a pending question ends.
void installStopHandlers()
{
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// A file name as one field of one report line: a backslash is doubled and every
// control byte (a tab, a line break, an escape sequence's start) becomes \xHH, which
// printf '%b' turns back into the name.
std::string reportField(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

void printReport(const RunReport& report, bool quiet)
{
    std::size_t complete = 0;
    std::size_t withFills = 0;
    std::uint64_t copied = 0;
    std::uint64_t filled = 0;
    for (const FileResult& f : report.files) {
        std::printf("%s\t%llu\t%llu\t%s\n", f.status.c_str(),
                    static_cast<unsigned long long>(f.copied),
                    static_cast<unsigned long long>(f.filled), reportField(f.source).c_str());
        if (f.complete) ++(f.filled > 0 ? withFills : complete);
        copied += f.copied;
        filled += f.filled;
    }
    if (!quiet) {
        std::printf(
            "%zu file(s): %zu complete, %zu with filled parts, %zu failed or incomplete; "
            "%s copied, %s filled%s\n",
            report.files.size(), complete, withFills, report.files.size() - complete - withFills,
            formatBytes(copied).c_str(), formatBytes(filled).c_str(),
            report.notReady  ? "; stopped: the medium was removed"
            : report.stopped ? "; stopped on request"
                             : "");
    }
    std::fflush(stdout);
}

}  // namespace

int runCopy(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParsedCopyOptions parsed = parseCopyOptions(args);
    if (!parsed.ok()) {
        std::fprintf(stderr, "tessaly-cli copy: %s\nTry 'tessaly-cli copy --help'.\n",
                     parsed.error.c_str());
        return kExitUsage;
    }
    const CopyOptions& options = parsed.options;
    if (options.help) {
        std::fputs(copyHelpText(), stdout);
        return 0;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(options.outputFolder, ec)) {
        std::fprintf(stderr, "tessaly-cli copy: the output folder %s is not a folder\n",
                     options.outputFolder.c_str());
        return kExitUsage;
    }

    installStopHandlers();
    TerminalConsole console(options.quiet, g_stopRequested);
    const CopyList list = buildCopyList(options.sources);
    for (const std::string& folder : list.unreadableFolders) {
        console.message("Cannot read the folder " + folder + "; its files are not copied.");
    }

    CopyOptions engineOptions = options;
    engineOptions.outputFolder =
        std::filesystem::absolute(options.outputFolder, ec).lexically_normal().string();
    CopyEngine engine;
    applyToEngine(engineOptions, engine);
    RunReport report;
    {
        CopyDriver driver(engine, engineOptions, console, g_stopRequested,
                          CliTexts::fromProgramFolder());
        report = driver.run(list);
    }
    console.finish();
    printReport(report, options.quiet);
    return exitStatusFor(report, list.unreadableFolders.empty());
}

}  // namespace tessaly::cli
