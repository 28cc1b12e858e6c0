#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "run/file_entry.h"
#include "run/file_step.h"

namespace tessaly {

// How a list line stands at the end of a run, as the report names it.
enum class ReportState : std::int32_t
{
    Complete = 0,    // the copy is whole and holds no fill
    Damaged = 1,     // the copy reached its end; its log lists parts not read
    Unfinished = 2,  // stopped or the medium went away part way: the next run continues it
    Failed = 3,      // failed or refused: the run said why
    NotCopied = 4,   // the run did not come to it
    Skipped = 5,     // an existing copy was left as it was (Skip)
};
inline constexpr int kReportStateCount = 6;

const char* reportStateName(ReportState state);

// One line of a run's report.
struct ReportLine
{
    std::string source;
    std::uint64_t size = 0;
    ReportState state = ReportState::NotCopied;
    std::uint64_t read = 0;     // source bytes the copy holds as read data
    std::uint64_t notRead = 0;  // source bytes the copy holds as fills
    std::size_t regions = 0;    // filled regions, merged
    std::string copyPath;       // empty when the run did not come to the file
    std::string logPath;        // empty when no log lies beside the copy
    bool operator==(const ReportLine&) const = default;
};

// The line of entry after its step; step is null when the run did not come to the entry.
// The log path is given when a log exists beside the copy.
ReportLine reportLineOf(const FileEntry& entry, const StepResult* step, FileSystem& fs);

// How many files of each state, and the bytes not read of the damaged ones.
struct ReportSummary
{
    std::size_t files[kReportStateCount] = {};  // by ReportState
    std::uint64_t notRead = 0;
    std::size_t count(ReportState state) const { return files[static_cast<int>(state)]; }
};
ReportSummary summaryOf(const std::vector<ReportLine>& lines);

// The report as CSV: UTF-8 as the names' bytes stand, a header line, one line per entry,
// fields quoted where RFC 4180 asks for it, lines ended by CR LF.
std::string reportCsv(const std::vector<ReportLine>& lines);

// A file of the run that a report written at reportPath would overwrite.
struct ReportClash
{
    enum class Kind : std::int32_t
    {
        Source = 0,  // a file the run copies
        Copy = 1,    // a copy the run makes or continues
        Log = 2,     // a copy's log
    };
    Kind kind = Kind::Source;
    std::string path;  // the file's path as the run names it
};

// The file of the run that a report at reportPath would overwrite, where the run copies
// entries below outputFolder; nullopt when it meets none. An existing report is
// compared by identity with every source, copy and log that exists (links and other
// spellings of a path reach the same file); every path is also compared as it resolves,
// so that a copy or log the run has still to make is caught too.
std::optional<ReportClash> reportClashOf(FileSystem& fs, const std::string& reportPath,
                                         const std::vector<FileEntry>& entries,
                                         const std::string& outputFolder);

// Writes the report to path (created or emptied; a link at path is not followed).
// 0 when written, the system's reason otherwise.
SysError writeReport(FileSystem& fs, const std::string& path, const std::vector<ReportLine>& lines);

}  // namespace tessaly
