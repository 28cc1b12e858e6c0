#include "cli/copy_options.h"

#include <charconv>
#include <cmath>
#include <iterator>
#include <string_view>
#include <utility>

#include "engine/copy_engine.h"

namespace tessaly::cli {

namespace {

// The names of the existing-file policies on the command line, in the enum's order.
constexpr std::pair<std::string_view, ExistingPolicy> kPolicyNames[] = {
    {"replace", ExistingPolicy::Replace},
    {"append", ExistingPolicy::Append},
    {"resume", ExistingPolicy::Resume},
    {"skip", ExistingPolicy::Skip},
};
static_assert(std::size(kPolicyNames) == static_cast<std::size_t>(kLastExistingPolicy) + 1);

bool parseUnsigned(std::string_view text, std::uint32_t max, std::uint32_t* out)
{
    if (text.empty()) return false;
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > max) return false;
    *out = value;
    return true;
}

std::string parseFill(const std::string& value, CopyOptions& o)
{
    if (value == "zeros") {
        o.engine.fillType = FillType::Zeros;
    } else if (value.starts_with("value:")) {
        std::uint32_t byte = 0;
        if (!parseUnsigned(value.substr(6), 255, &byte))
            return "--fill=value:N needs N from 0 to 255";
        o.engine.fillType = FillType::Value;
        o.engine.fillValue = static_cast<std::uint8_t>(byte);
    } else if (value.starts_with("string:")) {
        if (value.size() == 7) return "--fill=string:TEXT needs a text of at least one character";
        o.engine.fillType = FillType::String;
        o.engine.fillString = std::string(value.substr(7));
    } else if (value == "last-good") {
        o.engine.fillType = FillType::LastGood;
    } else if (value == "nothing") {
        o.engine.fillType = FillType::Nothing;
    } else {
        return "--fill takes zeros, value:N, string:TEXT, last-good or nothing";
    }
    return {};
}

std::string parseAttempts(const std::string& value, CopyOptions& o)
{
    if (value == "auto") {
        o.engine.autoRereads = true;
        return {};
    }
    std::uint32_t count = 0;
    if (!parseUnsigned(value, 100, &count) || count == 0) {
        return "--attempts takes auto or a number from 1 to 100";
    }
    o.engine.autoRereads = false;
    o.engine.rereadCount = count;
    return {};
}

std::string parseOptimize(const std::string& value, CopyOptions& o)
{
    float x = 0.0f;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), x);
    if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
        !std::isfinite(x) || x < 0.0f || x > 1.0f) {
        return "--optimize takes a number from 0 (data) to 1 (speed)";
    }
    o.engine.optimizeFor = x;
    return {};
}

std::string parseExisting(const std::string& value, CopyOptions& o)
{
    for (const auto& [name, policy] : kPolicyNames) {
        if (value == name) {
            o.engine.existingPolicy = policy;
            return {};
        }
    }
    return "--existing takes replace, append, resume or skip";
}

std::string parseReserved(const std::string& value, CopyOptions& o)
{
    if (value == "beside") {
        o.engine.reservedPlacement = ReservedPlacement::BesideSource;
    } else if (value == "ask") {
        o.engine.reservedPlacement = ReservedPlacement::Ask;
    } else if (value.starts_with("folder:") && value.size() > 7) {
        o.engine.reservedPlacement = ReservedPlacement::InFolder;
        o.engine.reservedFolder = std::string(value.substr(7));
    } else {
        return "--reserved takes beside, folder:PATH or ask";
    }
    return {};
}

std::string parseRetryPasses(const std::string& value, CopyOptions& o)
{
    std::uint32_t passes = 0;
    if (!parseUnsigned(value, kMaxRetryPasses, &passes)) {
        return "--retry-passes takes a number from 0 to " + std::to_string(kMaxRetryPasses);
    }
    o.engine.retryPasses = passes;
    return {};
}

std::string parseReport(const std::string& value, CopyOptions& o)
{
    if (value.empty()) return "--report needs the path of the report file";
    o.reportPath = value;
    return {};
}

std::string parseVolume(const std::string& value, CopyOptions& o)
{
    if (value.empty()) return "--volume needs the path of an image or a device";
    o.volumePath = value;
    return {};
}

std::string parseVolumeLog(const std::string& value, CopyOptions& o)
{
    if (value.empty()) return "--volume-log needs the path of the image's log";
    o.volumeLogPath = value;
    return {};
}

// Options that take a value; the value follows '=' or comes as the next argument.
using ValueParser = std::string (*)(const std::string& value, CopyOptions& o);

ValueParser valueParser(std::string_view name)
{
    if (name == "--fill") return parseFill;
    if (name == "--attempts") return parseAttempts;
    if (name == "--optimize") return parseOptimize;
    if (name == "--existing") return parseExisting;
    if (name == "--reserved") return parseReserved;
    if (name == "--report") return parseReport;
    if (name == "--retry-passes") return parseRetryPasses;
    if (name == "--volume") return parseVolume;
    if (name == "--volume-log") return parseVolumeLog;
    return nullptr;
}

// --wait-for-medium takes its value only after '=': a bare one must not swallow a SOURCE.
constexpr std::string_view kWaitOption = "--wait-for-medium";
constexpr std::uint32_t kLongestWait = 7 * 24 * 3600;

std::string parseWait(std::string_view arg, CopyOptions& o)
{
    o.waitForMedium = true;
    o.waitSeconds = 0;
    if (arg.size() == kWaitOption.size()) return {};
    const std::string value(arg.substr(kWaitOption.size() + 1));
    std::uint32_t seconds = 0;
    if (!parseUnsigned(value, kLongestWait, &seconds) || seconds == 0) {
        return "--wait-for-medium takes a number of seconds from 1 to 604800";
    }
    o.waitSeconds = seconds;
    return {};
}

bool parseFlag(std::string_view arg, CopyOptions& o)
{
    if (arg == "--no-log") {
        o.engine.createLog = false;
    } else if (arg == "--no-trim") {
        o.engine.trimPass = false;
    } else if (arg == "--easy-first" || arg == "--no-easy-first") {
        o.engine.easyFirst = arg == "--easy-first";
    } else if (arg == "--keep-clean-log") {
        o.engine.deleteLogIfNoErrors = false;
    } else if (arg == "--yes" || arg == "-y") {
        o.yes = true;
    } else if (arg == "--quiet" || arg == "-q") {
        o.quiet = true;
    } else if (arg == "--help" || arg == "-h") {
        o.help = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

ParsedCopyOptions parseCopyOptions(const std::vector<std::string>& args)
{
    ParsedCopyOptions result;
    CopyOptions& o = result.options;
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (parseFlag(arg, o)) continue;
        if (arg == kWaitOption || arg.starts_with(std::string(kWaitOption) + "=")) {
            result.error = parseWait(arg, o);
            if (!result.ok()) return result;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const ValueParser parser = valueParser(name);
        if (!parser) {
            result.error = "unknown option '" + arg + "'";
            return result;
        }
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            result.error = name + " needs a value";
            return result;
        }
        result.error = parser(value, o);
        if (!result.ok()) return result;
    }
    if (o.help) return result;
    if (!o.volumeLogPath.empty() && o.volumePath.empty()) {
        result.error = "--volume-log belongs to --volume";
        return result;
    }
    if (operands.size() < (o.volumePath.empty() ? 2u : 1u)) {
        result.error = "give at least one SOURCE and the OUTPUT_FOLDER";
        return result;
    }
    o.outputFolder = operands.back();
    operands.pop_back();
    o.sources = std::move(operands);
    return result;
}

std::string_view policyName(ExistingPolicy policy)
{
    for (const auto& [name, each] : kPolicyNames) {
        if (each == policy) return name;
    }
    return "skip";  // an unknown policy leaves the destination as it is
}

void applyToEngine(const CopyOptions& o, CopyEngine& engine)
{
    engine.setSettings(o.engine);
}

const char* copyHelpText()
{
    return R"(Usage: tessaly-cli copy [options] SOURCE... OUTPUT_FOLDER
       tessaly-cli copy [options] --volume=IMAGE_OR_DEVICE [PATH...] OUTPUT_FOLDER

Copies files from a possibly damaged medium into OUTPUT_FOLDER (which must exist)
and salvages what the medium still gives. Unreadable sectors are replaced by a fill
and listed in a copy log beside each copy (the copy's name with ".log" appended),
so that an interrupted copy can be continued and missing parts supplied later.

A SOURCE that is a file is copied straight into OUTPUT_FOLDER. A SOURCE that is a
folder is copied with everything below it, and each copy keeps its folder path
below the mount point of the source's volume: /media/disk/docs/a.txt becomes
OUTPUT_FOLDER/docs/a.txt when /media/disk is the mount point. A SOURCE that is a
block device (a whole disk or card: /dev/sdb, /dev/mmcblk0, a loop device) is
imaged into OUTPUT_FOLDER/NAME.img (/dev/sdb gives sdb.img), with its log beside
it; reading it needs access to the device (the disk group, or sudo). A device
inside a folder SOURCE is never copied.

With --volume=IMAGE_OR_DEVICE the files come out of the file systems of an image
file or a device without mounting it (FAT, exFAT, NTFS, ext2/3/4, ISO 9660, HFS+
and more, also inside an MBR or GPT partition table). Each PATH is a file or folder
inside it, as `tessaly-cli files` lists it (/docs, or /p2/docs with several
partitions); no PATH copies all of it. Each copy keeps its folders below
OUTPUT_FOLDER as a folder's do. The bytes the image's log lists as not read (its
copy log IMAGE.log, or the log --volume-log names) are never taken from the image:
they are filled and logged like unreadable sectors, and so are bytes whose place
the damaged file system no longer says; a file whose metadata could not be read
whole is filled entirely. A folder whose metadata could not be read is said, as an
unreadable folder is.

Options:
  --fill=KIND          what replaces an unreadable sector (default zeros):
                         zeros, value:N (a byte 0-255), string:TEXT (repeated),
                         last-good (the last sector read), nothing (left out:
                         the copy is shorter by every unreadable sector)
  --attempts=auto|N    reads of a bad sector before it is filled (default auto:
                         the engine chooses and stops re-reading when it seldom helps)
  --optimize=X         0 = data (every sector tried, default) .. 1 = speed (fills
                         grow over damaged stretches)
  --no-easy-first      read each file in order; by default (--easy-first) a
                         first pass reads chunks only and skips ahead past
                         failures, and the main pass then reads what it skipped
  --no-trim            no trim pass: by default, once a file is covered, the
                         edges of each filled stretch are read again, one
                         attempt per sector, and every sector read replaces
                         its fill (not with --fill=nothing)
  --retry-passes=N     passes after the trim pass (0 to 9, default 2): each
                         reads every sector still filled in stretches of at
                         most 64 KiB once more, the first pass backward, the
                         next forward; longer stretches keep their trimmed
                         edges (no passes with --no-trim)
  --existing=POLICY    when a copy exists already (default resume):
                         replace  start again from an empty copy
                         append   copy the source again after the existing bytes
                         resume   continue where the copy log says the copy ended
                         skip     leave the copy and its log as they are
  --no-log             keep no copy log for new copies
  --keep-clean-log     keep the copy log even when nothing had to be filled
  --reserved=WHERE     where other copies of a file are read from when a sector
                         fails (default beside): beside (FILE.cp1, FILE.cp2, ...
                         beside the source), folder:PATH (the same path below
                         PATH), ask (asked on the terminal)
  --volume=IMAGE_OR_DEVICE
                       copy out of the file systems of an image or device (above)
  --volume-log=FILE    the image's log: a copy log or a GNU ddrescue mapfile
                         (default: IMAGE.log when it exists)
  --report=FILE        write the run's report to FILE as CSV (see below)
  --wait-for-medium[=SECONDS]
                       when the medium goes away in the middle of a file, wait
                         for it instead of ending the run: every second the
                         source is tried again, and once the same medium is back
                         the file is continued from its copy (see below); with
                         SECONDS give up after that long (default: wait until
                         interrupted)
  -y, --yes            go on without asking where a copy exists or its log is
                         missing (or unusable)
  -q, --quiet          no progress line and no summary
  -h, --help           this text

Questions are asked on the terminal when standard input is one. Otherwise an
existing copy is continued by the policy, a missing log refuses the file unless
--yes is given, and no other copy of a file is asked for.

While copying, a progress line on standard error (when it is a terminal) shows the
percent of the file and of all files, the speed and the time left for the file,
"Trimming, regions left: N" while the trim pass runs and "Retrying K/M, regions
left: N" while a retry pass runs, with the speed; "again" follows the pass's name
when the file's copy was finished before and its log still lists filled regions:
running the same command again reads those regions again (the trim and the retry
passes) and nothing else.
At the end standard output gets one line per file, fields separated by tabs:
  STATUS  BYTES_COPIED  BYTES_FILLED  SOURCE
In SOURCE a backslash is written as \\ and each control byte (a tab, a line break,
an escape) as \xHH, so that every file is one line; printf '%b' undoes it.
STATUS is Ok when the whole file is covered, otherwise the reason (Stopped,
NotReady, WriteFailed, DiskFull, SourceOpenFailed, ExistingRefused, NoLogRefused,
...), Skipped when an existing copy was left as it is (--existing=skip;
it counts as complete, with 0 bytes copied and filled in this run),
SourceMismatch when --existing=resume found that the source is not the file
the copy was made from (its size, or a sector the copy holds, differs: another
medium?; the copy and its log are left as they are, --existing=replace starts
it anew), SourceChanged when a continued copy's source differs in size,
modification time or medium from the one its log recorded, CopyNotProven when
a copy without a log is as long as its source but not equal to it byte for byte
(it is left as it is), DestinationTooSmall when the output folder's file system cannot hold
a file that large (FAT: at most 4 GiB - 1 byte per file; nothing is written),
LogUpdateFailed when the log could not be rewritten after the trim and retry
passes (a full disk: the old log stays, and the figures are the ones it lists),
NotStarted for files the run did not reach, SameFile when the copy
would overwrite its own source, and SameDestination when an earlier file of
the run has the same copy (files of one name from different folders) or when
one copy would lie where the other's copy log belongs (a.bin and a.bin.log).
BYTES_COPIED and BYTES_FILLED count the bytes of the source, up to the place
the copy has reached, that it holds as read data and as fills (after the trim
pass); earlier runs are included. A summary line follows: complete, damaged
(copied to the end, with parts not read) and failed or incomplete files.

With --report=FILE the run also writes FILE (created, or emptied when it exists;
checked before the run starts, which refuses a FILE that is a source, a copy or a
copy log of the run): CSV as RFC 4180 describes it, names as their
bytes stand (UTF-8 on most systems), a header line, then one line per file:
  source,size,state,bytes read,bytes not read,filled regions,copy,log
state is complete, damaged (the copy reached its end and its log lists parts
that could not be read), unfinished (stopped or the medium was removed; the
same command continues it), failed, skipped or not copied. log is empty when
no log lies beside the copy. The copier window's File, Save report writes the same.

Interrupt (Ctrl-C) or SIGTERM stops the current file; its log keeps the place
reached, so the same command continues it (under --existing=resume). A copy cut
off without its log's end record (the program was killed) is continued only
with --yes or after a confirmation, from the end of the copy; the fills that
its log lists stay listed in the new log.

With --wait-for-medium a line says which file's medium is waited for. When the
source comes back, the copy is continued as --existing=resume would, whatever
--existing says and without asking again; a source that is not the file the
copy was made from (another disc with a file of that name) is not copied into
it, a line says so and the wait goes on. Ctrl-C ends the wait; the copy and its
log stay as they are, and the same command continues them. A read that has not
returned after 5 s shows on the progress line with the seconds the drive has
not answered (a read stuck in the kernel cannot be cancelled).

Exit status:
  0   every file complete, nothing filled
  1   every file covered, but some bytes are fills
  2   a file failed or is incomplete, the run was interrupted, or a source
      folder could not be read (with --volume: or a file or folder of the
      volume could not be listed)
  3   the medium was removed (with --wait-for-medium: it did not come back
      before SECONDS passed or the wait was interrupted); the run stopped and
      can be continued
  64  usage error, the output folder cannot take the copies (it does not
      exist, cannot be written to, lies in a folder being copied or has no
      room left), or the report file cannot be created or is a file of the run
A report that cannot be written at the end is said on standard error, and the
exit status is then at least 2.
)";
}

}  // namespace tessaly::cli
