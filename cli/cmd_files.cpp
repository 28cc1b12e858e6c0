// tessaly-cli files: which files of an image or a device lie on unreadable sectors.
#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/escaped_name.h"
#include "cli/terminal_console.h"
#include "platform/terminal.h"
#include "volume/volume.h"
#include "volume/volume_listing.h"
#include "volume/volume_log.h"

namespace tessaly::cli {

namespace {

std::atomic<bool> g_stopRequested{false};

constexpr const char* kFilesHelp =
    R"(Usage: tessaly-cli files [options] IMAGE_OR_DEVICE

Lists every file of the file systems of an image file or a device, without
mounting it, with its size and the bytes of it that lie in unreadable regions.
The partitions of an MBR or GPT table are listed one after the other, each
below /p1, /p2, ...; a volume with one file system has its files below /.

The unreadable regions of an image are those its log lists as not read: the
copy log the copier wrote beside it (IMAGE.log, as `tessaly-cli copy /dev/sdX`
leaves it beside sdX.img), or the log given by --volume-log. The image's bytes
there are fills and are never taken for data, also not for the file system's
own structures. Sectors of those structures that cannot be read (the log says
so, or the device fails them twice) are read as zeros; the folders and files
they describe are listed as "not listed" and the sectors as
"unreadable metadata", so that no file goes missing unsaid.

Options:
  --volume-log=FILE   the image's log: a copy log, or a GNU ddrescue mapfile
                      (every byte outside its finished '+' blocks is unreadable)
  --damaged           list only the files with unreadable bytes, and what could
                      not be listed
  --csv               write CSV even to a terminal
  -h, --help          show this text

On a terminal the list is a table; otherwise (or with --csv) it is CSV as the
copy's report: a header line, then one line per entry, lines ended by CR LF:
  path,size,bytes unreadable,state,modified,note
state is whole, damaged, not listed (a folder or entry whose metadata cannot
be read: files below it may be missing) or unreadable metadata (path empty,
note names the bytes of the volume); modified is in seconds since 1970 UTC.

Exit status:
  0   every file listed and whole
  1   some files are damaged, or something could not be listed
  2   the image or device cannot be read, holds no known file system, or its
      log cannot be read or does not fit it
  64  usage error
)";

struct FilesOptions
{
    std::string volume;
    std::string log;
    bool damagedOnly = false;
    bool csv = false;
    bool help = false;
};

// The options, or a message when the command line is unusable.
std::string parseFilesOptions(int argc, char** argv, FilesOptions& o)
{
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--damaged") {
            o.damagedOnly = true;
        } else if (arg == "--csv") {
            o.csv = true;
        } else if (arg.starts_with("--volume-log=")) {
            o.log = arg.substr(13);
            if (o.log.empty()) return "--volume-log needs the path of the log";
        } else if (arg == "--volume-log") {
            if (i + 1 >= argc) return "--volume-log needs the path of the log";
            o.log = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option '" + arg + "'";
        } else {
            operands.push_back(arg);
        }
    }
    if (o.help) return {};
    if (operands.size() != 1) return "give one IMAGE_OR_DEVICE";
    o.volume = operands.front();
    return {};
}

std::string dateOf(std::int64_t seconds)
{
    if (seconds == 0) return "-";
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return "-";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}

void printTable(const Volume& volume, const std::vector<ListedFile>& lines)
{
    for (const VolumePart& part : volume.parts()) {
        std::printf("%s: %s, %s at byte %llu\n", part.name.empty() ? "/" : part.name.c_str(),
                    part.type.c_str(), formatBytes(part.length).c_str(),
                    static_cast<unsigned long long>(part.offset));
    }
    std::printf("%-20s %14s %14s  %-16s %s\n", "state", "size", "unreadable", "modified", "path");
    for (const ListedFile& line : lines) {
        std::printf("%-20s %14llu %14llu  %-16s %s%s%s\n", listedStateName(line.state),
                    static_cast<unsigned long long>(line.size),
                    static_cast<unsigned long long>(line.unreadable), dateOf(line.modified).c_str(),
                    escapedName(line.path).c_str(), line.note.empty() ? "" : "  (",
                    line.note.empty() ? "" : (escapedName(line.note) + ")").c_str());
    }
    std::size_t count[4] = {};
    std::uint64_t unreadable = 0;
    for (const ListedFile& line : lines) {
        ++count[static_cast<int>(line.state)];
        if (line.state == ListedState::Damaged) unreadable += line.unreadable;
    }
    std::printf("%zu file(s) whole, %zu damaged (%s unreadable), %zu not listed\n",
                count[static_cast<int>(ListedState::Whole)],
                count[static_cast<int>(ListedState::Damaged)], formatBytes(unreadable).c_str(),
                count[static_cast<int>(ListedState::NotListed)]);
}

}  // namespace

int runFiles(int argc, char** argv)
{
    FilesOptions options;
    const std::string problem = parseFilesOptions(argc, argv, options);
    if (!problem.empty()) {
        std::fprintf(stderr, "tessaly-cli files: %s\nTry 'tessaly-cli files --help'.\n",
                     problem.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kFilesHelp, stdout);
        return 0;
    }
    raiseOnStopSignals(g_stopRequested);
    std::string error;
    std::string usedLog;
    const std::unique_ptr<Volume> volume =
        openVolumeWithLog(systemFileSystem(), options.volume, options.log, &error, &usedLog);
    if (!volume) {
        std::fprintf(stderr, "tessaly-cli files: %s\n", escapedLines(error).c_str());
        return 2;
    }
    std::vector<ListedFile> lines = listVolumeFiles(*volume, g_stopRequested);
    bool whole = true;
    std::vector<ListedFile> shown;
    for (ListedFile& line : lines) {
        if (line.state != ListedState::Whole) whole = false;
        if (!options.damagedOnly || line.state != ListedState::Whole) shown.push_back(std::move(line));
    }
    if (options.csv || !isTerminal(stdout)) {
        const std::string csv = listedFilesCsv(shown);
        std::fwrite(csv.data(), 1, csv.size(), stdout);
    } else {
        if (!usedLog.empty()) std::printf("log: %s\n", escapedName(usedLog).c_str());
        printTable(*volume, shown);
    }
    std::fflush(stdout);
    if (g_stopRequested.load()) return 2;
    return whole ? 0 : 1;
}

}  // namespace tessaly::cli
