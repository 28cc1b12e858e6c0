#include "run/damage_report.h"

#include <cerrno>
#include <filesystem>

#include "engine/csv_field.h"
#include "engine/destination.h"

namespace tessaly {

namespace {

ReportState stateOf(const StepResult& step)
{
    switch (step.outcome) {
        case FileOutcome::Done:
            if (step.figures.skippedExisting) return ReportState::Skipped;
            return step.damaged() ? ReportState::Damaged : ReportState::Complete;
        case FileOutcome::Stopped:
        case FileOutcome::NotReady:
            return ReportState::Unfinished;
        default:
            return ReportState::Failed;
    }
}

// path with the longest part of it that exists resolved (links, "." and ".."), the
// rest appended as it stands: a file that does not exist yet under a linked folder
// resolves as the file it will be.
std::string resolvedPath(FileSystem& fs, const std::string& path)
{
    std::filesystem::path whole = std::filesystem::path(path).lexically_normal();
    // Copies are named from the output folder made absolute: so is a relative path.
    if (whole.is_relative()) {
        if (const std::optional<std::string> here = fs.canonicalPath(".")) {
            whole = (std::filesystem::path(*here) / whole).lexically_normal();
        }
    }
    std::filesystem::path head = whole;
    std::filesystem::path tail;
    while (!head.empty()) {
        if (const std::optional<std::string> real = fs.canonicalPath(head.string())) {
            return (std::filesystem::path(*real) / tail).lexically_normal().string();
        }
        if (!head.has_relative_path()) break;
        tail = head.filename() / tail;
        head = head.parent_path();
    }
    return whole.string();
}

}  // namespace

std::optional<ReportClash> reportClashOf(FileSystem& fs, const std::string& reportPath,
                                         const std::vector<FileEntry>& entries,
                                         const std::string& outputFolder)
{
    const std::string report = resolvedPath(fs, reportPath);
    const std::optional<FileIdentity> reportId = fs.identity(reportPath);
    const auto meets = [&](const std::string& path) {
        if (resolvedPath(fs, path) == report) return true;
        if (!reportId) return false;
        const std::optional<FileIdentity> id = fs.identity(path);
        return id && *id == *reportId;
    };
    using Kind = ReportClash::Kind;
    for (const FileEntry& entry : entries) {
        const std::string copy =
            destinationPath(entry.name, outputFolder, entry.base(), fs.isBlockDevice(entry.name));
        for (const ReportClash& file : {ReportClash{Kind::Source, entry.name},
                                        ReportClash{Kind::Copy, copy},
                                        ReportClash{Kind::Log, logPathOf(copy)}}) {
            if (meets(file.path)) return file;
        }
    }
    return std::nullopt;
}

const char* reportStateName(ReportState state)
{
    switch (state) {
        case ReportState::Complete:
            return "complete";
        case ReportState::Damaged:
            return "damaged";
        case ReportState::Unfinished:
            return "unfinished";
        case ReportState::Failed:
            return "failed";
        case ReportState::Skipped:
            return "skipped";
        case ReportState::NotCopied:
            break;
    }
    return "not copied";
}

ReportLine reportLineOf(const FileEntry& entry, const StepResult* step, FileSystem& fs)
{
    ReportLine line;
    line.source = entry.name;
    line.size = entry.size;
    if (step == nullptr) return line;
    line.state = stateOf(*step);
    line.read = step->figures.copied;
    line.notRead = step->figures.filled;
    line.regions = step->figures.regions;
    line.copyPath = step->destination;
    if (!line.copyPath.empty() && fs.exists(logPathOf(line.copyPath))) {
        line.logPath = logPathOf(line.copyPath);
    }
    return line;
}

ReportSummary summaryOf(const std::vector<ReportLine>& lines)
{
    ReportSummary summary;
    for (const ReportLine& line : lines) {
        ++summary.files[static_cast<int>(line.state)];
        if (line.state == ReportState::Damaged) summary.notRead += line.notRead;
    }
    return summary;
}

std::string reportCsv(const std::vector<ReportLine>& lines)
{
    std::string out =
        "source,size,state,bytes read,bytes not read,filled regions,copy,log\r\n";
    for (const ReportLine& line : lines) {
        appendCsvField(out, line.source);
        out += ',' + std::to_string(line.size) + ',' + reportStateName(line.state) + ',' +
               std::to_string(line.read) + ',' + std::to_string(line.notRead) + ',' +
               std::to_string(line.regions) + ',';
        appendCsvField(out, line.copyPath);
        out += ',';
        appendCsvField(out, line.logPath);
        out += "\r\n";
    }
    return out;
}

SysError writeReport(FileSystem& fs, const std::string& path, const std::vector<ReportLine>& lines)
{
    SysError error = 0;
    const std::unique_ptr<File> file = fs.open(path, Disposition::CreateAlways, Access::Write, &error);
    if (!file) return error != 0 ? error : EIO;
    const std::string text = reportCsv(lines);
    const IoResult written = file->write(text.data(), text.size());
    if (written.bytes != text.size()) return written.error != 0 ? written.error : EIO;
    return file->sync() ? 0 : EIO;
}

}  // namespace tessaly
