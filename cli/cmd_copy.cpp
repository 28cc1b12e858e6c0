// tessaly-cli copy: the copy engine over a list of files and folders.
#include <algorithm>
#include <atomic>
#include <memory>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "cli/terminal_copy_driver.h"
#include "cli/copy_options.h"
#include "cli/escaped_name.h"
#include "cli/terminal_console.h"
#include "cli/volume_source.h"
#include "engine/copy_engine.h"
#include "platform/terminal.h"
#include "run/copy_list.h"
#include "run/damage_report.h"
#include "run/output_check.h"
#include "volume/volume_log.h"

namespace tessaly::cli {

namespace {

// SIGINT, SIGTERM and SIGHUP raise it; the engine ends the current file as Stopped with
// its log closed properly, and a pending question ends.
std::atomic<bool> g_stopRequested{false};

void printReport(const RunReport& report, bool quiet)
{
    for (const FileResult& f : report.files) {
        std::printf("%s\t%llu\t%llu\t%s\n", f.status().c_str(),
                    static_cast<unsigned long long>(f.copied()),
                    static_cast<unsigned long long>(f.filled()), escapedName(f.source).c_str());
    }
    if (!quiet) std::printf("%s\n", runSummary(report).c_str());
    std::fflush(stdout);
}

std::string reasonOf(SysError error)
{
    return std::error_code(error, std::generic_category()).message();
}

// Checks the output folder before the list is built: it takes copies, and lies in no
// folder named as a source (the copies would be written onto the medium they come
// from). False after saying why.
bool outputFolderUsable(FileSystem& fs, const std::string& outputFolder,
                        const std::vector<std::string>& sources, const CliTexts& texts)
{
    std::vector<std::string> folders;
    for (const std::string& source : sources) {
        const std::string absolute = absolutePath(source);
        if (!fs.isDirectory(absolute)) continue;
        if (const std::optional<std::string> resolved = fs.canonicalPath(absolute)) {
            folders.push_back(*resolved);
        }
    }
    const OutputProblem problem = checkOutputFolder(fs, outputFolder, folders);
    if (problem == OutputProblem::None) return true;
    const std::string message =
        composeRunMessage(outputProblemMessage(problem, escapedName(outputFolder)),
                          [&texts](int id) { return texts.text(id); });
    std::fprintf(stderr, "tessaly-cli copy: %s\n", message.c_str());
    return false;
}

// Creates the report file before the run, so that a path that cannot take it is said
// before hours of copying; an existing file is emptied only at the end.
bool reportFileUsable(FileSystem& fs, const std::string& path)
{
    SysError error = 0;
    if (fs.open(path, Disposition::OpenAlways, Access::Write, &error)) return true;
    std::fprintf(stderr, "tessaly-cli copy: cannot create the report %s: %s\n",
                 escapedName(path).c_str(), reasonOf(error).c_str());
    return false;
}

// False (said on standard error) when the report would overwrite a source, a copy or a
// log of the run when it is written at the end.
bool reportPathFree(FileSystem& fs, const std::string& path, const CopyList& list,
                    const std::string& outputFolder)
{
    const std::optional<ReportClash> clash = reportClashOf(fs, path, list.entries, outputFolder);
    if (!clash) return true;
    static const char* const kWhat[] = {"the source", "the copy", "the copy log"};
    std::fprintf(stderr,
                 "tessaly-cli copy: the report %s would overwrite %s %s of this run; "
                 "nothing was copied. Choose another path for the report.\n",
                 escapedName(path).c_str(), kWhat[static_cast<int>(clash->kind)],
                 escapedName(clash->path).c_str());
    return false;
}

// Writes the run's report; false (said on standard error) when it could not be written.
bool writeRunReport(FileSystem& fs, const std::string& path, const CopyList& list,
                    const RunReport& report)
{
    std::vector<ReportLine> lines;
    lines.reserve(list.entries.size());
    for (std::size_t i = 0; i < list.entries.size(); ++i) {
        const FileResult* result = i < report.files.size() ? &report.files[i] : nullptr;
        lines.push_back(reportLineOf(list.entries[i],
                                     result && result->reached ? &result->step : nullptr, fs));
    }
    const SysError error = writeReport(fs, path, lines);
    if (error == 0) return true;
    std::fprintf(stderr, "tessaly-cli copy: cannot write the report %s: %s\n",
                 escapedName(path).c_str(), reasonOf(error).c_str());
    return false;
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
    FileSystem& system = systemFileSystem();
    std::unique_ptr<Volume> volume;
    std::unique_ptr<VolumeFileSystem> volumeFs;
    if (!options.volumePath.empty()) {
        std::string error;
        std::string usedLog;
        volume = openVolumeWithLog(system, absolutePath(options.volumePath),
                                   options.volumeLogPath, &error, &usedLog);
        if (!volume) {
            std::fprintf(stderr, "tessaly-cli copy: %s\n", escapedLines(error).c_str());
            return 2;
        }
        volumeFs = std::make_unique<VolumeFileSystem>(system, *volume,
                                                      absolutePath(options.volumePath));
    }
    FileSystem& fs = volumeFs ? static_cast<FileSystem&>(*volumeFs) : system;
    const CliTexts texts = CliTexts::fromProgramFolder();
    // The folders of a volume lie inside its image or device, never around the output.
    if (!outputFolderUsable(system, options.outputFolder,
                            volumeFs ? std::vector<std::string>{} : options.sources, texts)) {
        return kExitUsage;
    }

    raiseOnStopSignals(g_stopRequested);
    TerminalConsole console(options.quiet, g_stopRequested, texts);
    CopyOptions engineOptions = options;
    engineOptions.outputFolder = absolutePath(options.outputFolder);
    const CopyList list =
        volumeFs ? buildVolumeCopyList(*volumeFs, options.sources, g_stopRequested)
                 : buildCopyList(fs, options.sources, engineOptions.outputFolder, g_stopRequested);
    // Checked before the report file is created, which would put an empty file where a
    // copy or log belongs.
    if (!options.reportPath.empty() &&
        (!reportPathFree(fs, options.reportPath, list, engineOptions.outputFolder) ||
         !reportFileUsable(fs, options.reportPath))) {
        return kExitUsage;
    }
    for (const std::string& folder : list.unreadableFolders) {
        console.message("Cannot read the folder " + escapedName(folder) +
                        "; its files are not copied.");
    }
    const auto unlisted =
        volumeFs ? volumeFs->takeUnlisted() : std::vector<std::pair<std::string, std::string>>{};
    for (const auto& [path, reason] : unlisted) {
        console.message("Not copied: " + escapedName(path) + ": " + reason + ".");
    }

    CopyEngine engine(fs);
    applyToEngine(engineOptions, engine);
    RunReport report;
    {
        TerminalCopyDriver driver(engine, fs, engineOptions, console, g_stopRequested, texts);
        report = driver.run(list);
    }
    console.finish();
    printReport(report, options.quiet);
    const int status =
        exitStatusFor(report, list.unreadableFolders.empty() && unlisted.empty());
    if (!options.reportPath.empty() && !writeRunReport(fs, options.reportPath, list, report)) {
        return std::max(status, 2);
    }
    return status;
}

}  // namespace tessaly::cli
