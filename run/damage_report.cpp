#include "run/damage_report.h"

#include <cerrno>

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

void appendField(std::string& out, const std::string& field)
{
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace

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
        appendField(out, line.source);
        out += ',' + std::to_string(line.size) + ',' + reportStateName(line.state) + ',' +
               std::to_string(line.read) + ',' + std::to_string(line.notRead) + ',' +
               std::to_string(line.regions) + ',';
        appendField(out, line.copyPath);
        out += ',';
        appendField(out, line.logPath);
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
