#include "tool/transfer_jobs.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "engine/fill_type.h"
#include "engine/region_map.h"
#include "texts/text_ids.h"

namespace tessaly {
namespace {

// What differs between Get and Put.
struct KindTraits
{
    bool isGet;
    Access dataAccess;  // Get reads the data file, Put writes into it
    int missingNotice;  // after the data file's name: not found, locate it
    int locateTitle;
    int runningState;
};

constexpr KindTraits kGet{true, Access::Read, text::kMissingForGet, text::kLocateForGet,
                          text::kGetRunning};
constexpr KindTraits kPut{false, Access::Write, text::kMissingForPut, text::kLocateForPut,
                          text::kPutRunning};

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// A full path as its folder and its file name.
struct SplitPath
{
    std::string folder;
    std::string name;
};

SplitPath splitPath(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {std::string(1, '.'), path};
    return {slash == 0 ? std::string(1, '/') : path.substr(0, slash), path.substr(slash + 1)};
}

// The name the log holds, when it is shorter than capacity.
std::optional<std::string> readNameBytes(CopyLog& log, std::size_t capacity)
{
    std::string name = log.readName(capacity - 1);
    if (name.empty()) return std::nullopt;
    return name;
}

// Closes what a job opened, in the order input, output, log, however it ends.
class JobFilesCloser
{
public:
    explicit JobFilesCloser(TransferFiles& files) : m_files(files) {}
    ~JobFilesCloser()
    {
        m_files.inputFile.close();
        m_files.outputFile.close();
        m_files.logFile.close();
        m_files.log.unbind();
    }
    JobFilesCloser(const JobFilesCloser&) = delete;
    JobFilesCloser& operator=(const JobFilesCloser&) = delete;

private:
    TransferFiles& m_files;
};

// Moves one region through buffer. The data file is positioned at the region's
// offset; the transfer file is read or written where the previous region ended.
// Every region lies inside the data file when the job starts (refusal), so Get
// pads with zeros only where the file was cut short meanwhile, and only up to the
// region's end, so that the transfer file keeps every later region in place; Put
// writes only what the transfer file held and reports the rest as unread. A write
// that stops short is cut off again: the output ends where the last whole piece
// ended.
// The job's progress bar over the bytes to move: a region of gigabytes moves it too.
class ByteProgress
{
public:
    ByteProgress(JobUi& ui, std::uint64_t total) : m_ui(ui), m_total(total) {}
    // Counts n more bytes moved; the bar hears of each new percent.
    void add(std::uint64_t n)
    {
        m_done = std::min(m_total, m_done + n);
        show(m_total == 0 ? 100 : percentOf(m_done, m_total));
    }
    // All moved (also when there was nothing to move).
    void finish() { show(100); }

private:
    static int percentOf(std::uint64_t done, std::uint64_t total)
    {
        // done * 100 stays below 2^64 while total does; a larger total is divided first.
        constexpr std::uint64_t kWide = std::numeric_limits<std::uint64_t>::max() / 100;
        return static_cast<int>(total <= kWide ? done * 100 / total : done / (total / 100));
    }
    void show(int percent)
    {
        if (percent == m_shown) return;
        m_shown = percent;
        m_ui.setProgress(percent);
    }

    JobUi& m_ui;
    std::uint64_t m_total;
    std::uint64_t m_done = 0;
    int m_shown = -1;
};

TransferOutcome moveRegion(const KindTraits& kind, TransferFiles& files, const BadRegion& region,
                           std::vector<std::uint8_t>& buffer, ByteProgress& progress)
{
    PlainFile& in = files.inputFile;
    PlainFile& out = files.outputFile;
    PlainFile& data = kind.isGet ? in : out;
    if (data.seek(region.offset, Whence::Begin) < 0) {
        return kind.isGet ? TransferOutcome::ReadFailed : TransferOutcome::WriteFailed;
    }
    std::uint64_t remaining = region.length;
    bool readAny = false;
    while (remaining > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, buffer.size()));
        const std::size_t got = in.read(buffer.data(), want);
        if (got == 0) {
            if (!kind.isGet || !readAny || in.lastError() != 0) return TransferOutcome::ReadFailed;
            std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
            while (remaining > 0) {
                const std::size_t n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(remaining, buffer.size()));
                if (!out.writeWhole(buffer.data(), n)) return TransferOutcome::WriteFailed;
                remaining -= n;
                progress.add(n);
            }
            return TransferOutcome::Done;
        }
        readAny = true;
        if (!out.writeWhole(buffer.data(), got)) return TransferOutcome::WriteFailed;
        remaining -= got;
        progress.add(got);
    }
    return TransferOutcome::Done;
}

bool sameFile(const PlainFile& a, const PlainFile& b)
{
    if (!a.file() || !b.file()) return false;
    const std::optional<FileIdentity> identity = a.file()->identity();
    return identity && identity == b.file()->identity();
}

enum class DataOpen
{
    Opened,
    Failed,
    InUse  // Put: a copy run holds the copy locked while it writes it
};

// Opens the data file in the job's data mode. Put writes into it, so it must not be
// the log the job is reading (a log that names itself, or the log located as the
// data file): that counts as a file that cannot be opened. Nor may Put write into
// a copy that a copy run is writing; that one is in use, and is left closed.
DataOpen openData(const KindTraits& kind, TransferFiles& files, const std::string& path)
{
    PlainFile& data = kind.isGet ? files.inputFile : files.outputFile;
    if (!data.openExisting(path, kind.dataAccess)) return DataOpen::Failed;
    if (kind.isGet) return DataOpen::Opened;
    if (sameFile(data, files.logFile)) {
        data.close();
        return DataOpen::Failed;
    }
    if (!data.file()->tryLock()) {
        data.close();
        return DataOpen::InUse;
    }
    return DataOpen::Opened;
}

// Opens the data file the log names, letting the user locate it when that fails.
// A copy in use is no file to look for elsewhere: the job says so and ends. On
// success dataName and folder name the file that was opened.
TransferOutcome openDataFile(const KindTraits& kind, TransferFiles& files, JobUi& ui,
                             std::string& dataName, std::string& folder)
{
    DataOpen opened = openData(kind, files, joinPath(folder, dataName));
    if (opened == DataOpen::Opened) return TransferOutcome::Done;
    if (opened == DataOpen::InUse) {
        ui.showError({text::kFileWord, dataName, text::kCopyHeldByRun});
        return TransferOutcome::Failed;
    }
    ui.showNotice({text::kFileWord, dataName, kind.missingNotice});
    const std::optional<std::string> chosen = ui.locateFile(kind.locateTitle, folder);
    if (!chosen) return TransferOutcome::Cancelled;
    SplitPath located = splitPath(*chosen);
    folder = std::move(located.folder);
    dataName = std::move(located.name);
    opened = openData(kind, files, joinPath(folder, dataName));
    if (opened != DataOpen::Opened) {
        ui.showError({text::kFileWord, dataName,
                      opened == DataOpen::InUse ? text::kCopyHeldByRun : text::kCannotOpen});
        return TransferOutcome::Failed;
    }
    return TransferOutcome::Done;
}

// Get empties the transfer file; that must never hit the log being read or the
// data file (through a link, or a log whose name makes them one file).
bool isJobFile(FileSystem& fs, const std::string& path, const TransferFiles& files)
{
    const std::optional<FileIdentity> target = fs.identity(path);
    if (!target) return false;
    for (const PlainFile* open : {&files.logFile, &files.inputFile}) {
        if (open->file() && open->file()->identity() == target) return true;
    }
    return false;
}

TransferOutcome openTransferFile(const KindTraits& kind, TransferFiles& files, JobUi& ui,
                                 const std::string& path, const std::string& name)
{
    if (kind.isGet) {
        if (isJobFile(files.outputFile.fileSystem(), path, files) ||
            !files.outputFile.create(path, Disposition::CreateAlways, Access::Write)) {
            // A link there is never written through (the create refuses it); its
            // target, wherever it lies, stays as it is.
            if (files.outputFile.fileSystem().isSymlink(path)) {
                ui.showError({text::kFileWord, name, text::kLinkInWay});
            } else {
                ui.showError({text::kCannotCreate, name, text::kCheckFolder});
            }
            return TransferOutcome::Failed;
        }
    } else if (!files.inputFile.openExisting(path, Access::Read) ||
               sameFile(files.inputFile, files.outputFile)) {
        // A transfer file that is the data file itself (through a link) would copy
        // the copy's own bytes over its regions.
        ui.showError({text::kFileWord, name, text::kCannotOpen});
        return TransferOutcome::Failed;
    }
    return TransferOutcome::Done;
}

int stateText(TransferOutcome outcome)
{
    switch (outcome) {
        case TransferOutcome::ReadFailed:
            return text::kReadFailed;
        case TransferOutcome::WriteFailed:
            return text::kWriteFailed;
        default:
            return text::kDone;
    }
}

// Opens the job's log and reads the data file's name from it into dataName; false
// after an error message.
bool openLog(const TransferJob& job, TransferFiles& files, JobUi& ui, std::string& dataName)
{
    if (!files.logFile.openExisting(joinPath(job.logFolder, job.logFileName), Access::Read)) {
        ui.showError({text::kFileWord, job.logFileName, text::kCannotOpen});
        return false;
    }
    files.log.bind(&files.logFile);
    // Only a plain name may come from a log: one that climbs out of the folder,
    // or that a NUL would cut short, is no file of this copy.
    std::optional<std::string> name = readNameBytes(files.log, kDataFileNameCapacity);
    if (!name || !isPlainFileName(*name)) {
        ui.showError(JobMessage{text::kNoFileName, {}, -1});
        return false;
    }
    dataName = std::move(*name);
    return true;
}

// The records to move: all but the end record that closes the log. A log without one
// (its run never ended) has every record moved: its last one is a fill like the rest.
std::size_t movedCount(const std::vector<BadRegion>& records)
{
    if (!records.empty() && records.back().length == 0) return records.size() - 1;
    return records.size();
}

// Where the furthest region to move ends, and the sum of their lengths: the size of
// the transfer file that Get makes from the log.
struct RegionsExtent
{
    std::uint64_t reach = 0;
    std::uint64_t bytes = 0;
};

RegionsExtent regionsExtent(const std::vector<BadRegion>& records)
{
    constexpr std::uint64_t kTop = std::numeric_limits<std::uint64_t>::max();
    // The end record holds no byte; a crafted record whose end passes 2^64 reaches the
    // top, beyond any file, rather than wrapping round.
    RegionsExtent extent{recordsReach(records), 0};
    // Each record's bytes stand in the transfer file, also where regions overlap.
    for (std::size_t i = 0; i < movedCount(records); ++i) {
        const std::uint64_t length = records[i].length;
        extent.bytes = length > kTop - extent.bytes ? kTop : extent.bytes + length;
    }
    return extent;
}

// True when the log closes with an end record and a region passes it: no run wrote
// such a log.
bool passesEndRecord(const std::vector<BadRegion>& records, const RegionsExtent& extent)
{
    return !records.empty() && records.back().length == 0 && extent.reach > records.back().offset;
}

// Why the log's regions must not be moved with this data file, or nullopt. Get
// reads them out of an instance of the file: one shorter than a region is another
// file, and padding it would only make a transfer file of zeros. Put writes them
// into the copy: its offsets are the log's only when every fill was written into
// it (not with the fill Nothing, and not when the log has no header to say which
// fill it was), and a fill lies inside the copy, so Put never grows it.
std::optional<JobMessage> refusal(const KindTraits& kind, TransferFiles& files,
                                  const TransferJob& job, const std::string& dataName,
                                  const std::vector<BadRegion>& records)
{
    PlainFile& data = kind.isGet ? files.inputFile : files.outputFile;
    const std::int64_t size = data.size();
    const RegionsExtent extent = regionsExtent(records);
    if (!kind.isGet) {
        const std::int64_t fill = files.log.readHeader();
        if (fill < 0) return JobMessage{text::kFileWord, job.logFileName, text::kNoLogHeader};
        if (fill == static_cast<std::int32_t>(FillType::Nothing)) {
            return JobMessage{text::kFileWord, job.logFileName, text::kNothingFillLog};
        }
    }
    if (size < 0 || extent.reach > static_cast<std::uint64_t>(size)) {
        if (kind.isGet) return JobMessage{text::kFileWord, dataName, text::kDataShorterThanRegions};
        return JobMessage{text::kFileWord, job.logFileName, text::kRegionsBeyondEnd};
    }
    if (passesEndRecord(records, extent)) {
        return JobMessage{text::kFileWord, job.logFileName, text::kRegionsBeyondEnd};
    }
    return std::nullopt;
}

// Put: a transfer file that holds more than the regions was not made from this
// log; one that holds less ends the job where it runs out (read failed).
bool transferTooLong(TransferFiles& files, const std::vector<BadRegion>& records)
{
    const std::int64_t size = files.inputFile.size();
    return size > 0 && static_cast<std::uint64_t>(size) > regionsExtent(records).bytes;
}

// Moves every region but the end record, in log order; the outcome of the first
// region that fails, else Done.
TransferOutcome moveRegions(const KindTraits& kind, TransferFiles& files, JobUi& ui,
                            const std::vector<BadRegion>& records)
{
    std::vector<std::uint8_t> buffer(kTransferBufferSize);
    ui.setState(kind.runningState);
    const std::size_t count = movedCount(records);
    ByteProgress progress(ui, regionsExtent(records).bytes);
    for (std::size_t i = 0; i < count; ++i) {
        const TransferOutcome outcome = moveRegion(kind, files, records[i], buffer, progress);
        if (outcome != TransferOutcome::Done) return outcome;
    }
    if (count > 0) progress.finish();
    return TransferOutcome::Done;
}

TransferOutcome runJob(const KindTraits& kind, const TransferJob& job, TransferFiles& files,
                       JobUi& ui)
{
    std::string folder = job.logFolder;
    if (job.logFileName.size() < 5) return TransferOutcome::Ignored;
    JobFilesCloser closer(files);
    std::string dataName;
    if (!openLog(job, files, ui, dataName)) return TransferOutcome::Failed;
    const TransferOutcome opened = openDataFile(kind, files, ui, dataName, folder);
    if (opened != TransferOutcome::Done) return opened;
    kind.isGet ? ui.setDataFrom(dataName) : ui.setDataTo(dataName);

    // Checked before the transfer file is touched, so that a refused log changes
    // nothing: a crafted region must not make Get pad or Put grow a file without end.
    std::vector<BadRegion> records;
    if (files.log.readRegions(records) < 0) {
        // The records before a damaged one are not the log: moving them alone would
        // end Done with regions left unmoved.
        ui.showError({text::kFileWord, job.logFileName, text::kDamagedLog});
        return TransferOutcome::Failed;
    }
    if (const std::optional<JobMessage> refused = refusal(kind, files, job, dataName, records)) {
        ui.showError(*refused);
        return TransferOutcome::Failed;
    }
    const std::string transferName = dataName + ".mrd";
    const TransferOutcome transfer =
        openTransferFile(kind, files, ui, joinPath(folder, transferName), transferName);
    if (transfer != TransferOutcome::Done) return transfer;
    if (!kind.isGet && transferTooLong(files, records)) {
        ui.showError({text::kFileWord, transferName, text::kTransferTooLong});
        return TransferOutcome::Failed;
    }
    kind.isGet ? ui.setDataTo(transferName) : ui.setDataFrom(transferName);

    const TransferOutcome outcome = moveRegions(kind, files, ui, records);
    ui.setState(stateText(outcome));
    return outcome;
}

}  // namespace

bool readDataFileName(CopyLog& log, char* buffer, std::size_t capacity)
{
    if (!buffer || capacity == 0) return false;
    const std::optional<std::string> name = readNameBytes(log, capacity);
    if (!name) return false;
    std::memcpy(buffer, name->data(), name->size());
    buffer[name->size()] = '\0';
    return true;
}

bool isPlainFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

TransferOutcome runGet(const TransferJob& job, TransferFiles& files, JobUi& ui)
{
    return runJob(kGet, job, files, ui);
}

TransferOutcome runPut(const TransferJob& job, TransferFiles& files, JobUi& ui)
{
    return runJob(kPut, job, files, ui);
}

TransferOutcome runTransferJob(const TransferJob& job, TransferFiles& files, JobUi& ui)
{
    return job.kind == TransferKind::Put ? runPut(job, files, ui) : runGet(job, files, ui);
}

}  // namespace tessaly
