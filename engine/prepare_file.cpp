#include "engine/engine_impl.h"

#include <limits>

namespace tessaly {
namespace {

// Bytes beyond the remaining source that the output volume must have free.
constexpr std::uint64_t kFreeSpaceMargin = 1024;

// The medium's serial as the log keeps it: 64-bit FNV-1a, never 0 (0 is "not known").
std::uint64_t volumeHash(const std::optional<std::string>& serial)
{
    if (!serial) return 0;
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : *serial) hash = (hash ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
    return hash == 0 ? 1 : hash;
}

}  // namespace

bool CopyEngine::Impl::prepareSource(const std::string& path, const std::string& baseFolder,
                                     const std::string& outputFolder)
{
    std::optional<SourcePlace> place = fs.sourcePlace(path);
    if (!file.mainSource.open(path, place ? &place->volume : nullptr)) {
        fail(EngineStatus::SourceOpenFailed);
        return false;
    }
    // A source that came into being between the look and the open is asked again.
    if (!place) place = SourcePlace{{}, fs.isBlockDevice(path), fs.volumeSerial(path)};
    file.sourcePath = path;
    file.stamp = {file.mainSource.fileSize(), file.mainSource.modifiedNs(),
                  volumeHash(place->serial)};
    const std::string target =
        tessaly::destinationPath(path, outputFolder, baseFolder, place->wholeDevice);
    const std::size_t slash = target.find_last_of(kPathSeparator);
    file.fileName = target.substr(slash + 1);
    file.relativeFolder = tessaly::relativeFolder(path, baseFolder);
    // The output folder may itself be a link (the user chose it); a link at any
    // level below it or at the log would carry the copy elsewhere (the copy's own open
    // refuses a link at its place). Checked before anything is made, so that a refused
    // file leaves nothing behind; the levels once per folder and run, as long as the
    // folder's path leads to the folder checked (a level replaced since by a link, or a
    // folder removed, has them checked and made again).
    const std::string folder = target.substr(0, slash);
    if (const auto it = knownFolders.find(folder);
        it != knownFolders.end() && fs.identity(folder) != it->second.identity) {
        knownFolders.erase(it);
    }
    const bool known = knownFolders.contains(folder);
    if ((!known && linkAmongLevels(target, outputPrefix(outputFolder).size())) ||
        fs.isSymlink(logPathOf(target))) {
        file.mainSource.close();
        fail(EngineStatus::LinkInWay);
        return false;
    }
    // Most files go to a folder made for an earlier one: only a missing one is made,
    // level by level.
    if (!known && !baseFolder.empty() && !fs.isDirectory(folder)) {
        for (std::size_t i = 1; i <= slash; ++i) {
            if (target[i] == kPathSeparator) fs.createDirectory(target.substr(0, i));
        }
    }
    if (const std::optional<FileIdentity> made = known ? std::nullopt : fs.identity(folder))
        knownFolders.emplace(folder, KnownFolder{*made, false, std::nullopt});
    holdFolder(folder);
    file.outputFolderPath = outputFolder;
    std::lock_guard lock(shared.pathMutex);
    shared.destinationPath = target;
    return true;
}

void CopyEngine::Impl::holdFolder(const std::string& folder)
{
    const auto known = knownFolders.find(folder);
    if (!holdFolders || known == knownFolders.end()) {
        heldFolder = {};
        return;
    }
    const FileIdentity checked = known->second.identity;
    std::unique_ptr<HeldFolder>& handle = heldFolder.handle;
    if (handle && heldFolder.path == folder && handle->identity() == checked) return;
    heldFolder.path = folder;
    handle = fs.openFolder(folder);
    // A folder put in the place since it was looked at is not the one checked.
    if (handle && handle->identity() != checked) handle.reset();
}

bool CopyEngine::Impl::syncFolderOf(const std::string& path)
{
    const std::string folder = parentFolder(path);
    if (heldFolder.handle && heldFolder.path == folder) return heldFolder.handle->sync();
    return fs.syncFolder(folder);
}

bool CopyEngine::Impl::linkAmongLevels(const std::string& target, std::size_t firstLevel)
{
    for (std::size_t i = firstLevel; i < target.size(); ++i) {
        if (target[i] == kPathSeparator && fs.isSymlink(target.substr(0, i))) return true;
    }
    return false;
}

bool CopyEngine::Impl::openDestination()
{
    std::string path;
    {
        std::lock_guard lock(shared.pathMutex);
        path = shared.destinationPath;
    }
    file.destinationExisted = false;
    if (!file.destination.create(path, Disposition::CreateNew, Access::Write)) {
        file.destinationExisted = true;
        // Read and write: a continued copy is compared with its source first.
        if (!file.destination.openExisting(path, Access::ReadWrite)) {
            // A link put there since prepareSource looked is refused by the open itself.
            if (isLinkInWay(file.destination.lastError())) {
                fail(EngineStatus::LinkInWay);
            } else {
                fail(fs.exists(path) ? EngineStatus::DestinationOpenFailed
                                     : EngineStatus::DestinationCreateFailed);
            }
            return false;
        }
        // A destination that is the source itself would be overwritten by its own copy.
        const std::optional<FileIdentity> target = file.destination.file()->identity();
        if (target && target == file.mainSource.identity()) {
            file.destination.close();
            fail(EngineStatus::DestinationOpenFailed);
            return false;
        }
    }
    // Another run (a second terminal, the window beside the command line) that
    // writes this copy holds it locked: two writers would mix their bytes.
    if (!file.destination.file()->tryLock()) {
        file.destination.close();
        fail(EngineStatus::DestinationInUse);
        return false;
    }
    file.logPath = logPathOf(path);
    file.log.unbind();
    file.logFile.close();
    return true;
}


bool CopyEngine::Impl::checkFreeSpace()
{
    const std::optional<std::uint64_t> free = fs.freeSpace(outputPrefix(file.outputFolderPath));
    if (!free) {
        fail(EngineStatus::FreeSpaceUnknown);
        return false;
    }
    const std::int64_t offset = std::max<std::int64_t>(file.mainSource.currentOffset(), 0);
    const std::int64_t remaining =
        std::max<std::int64_t>(static_cast<std::int64_t>(file.mainSource.fileSize()) - offset, 0);
    // A copy that Replace is about to empty gives its room back.
    const std::uint64_t freed =
        file.replacing ? static_cast<std::uint64_t>(std::max<std::int64_t>(file.destination.size(), 0)) : 0;
    if (*free + freed < static_cast<std::uint64_t>(remaining) + kFreeSpaceMargin) {
        fail(EngineStatus::DiskFull);
        return false;
    }
    return true;
}

bool CopyEngine::Impl::checkFileSizeLimit()
{
    // Left as it is under Skip, the copy does not grow.
    if (shared.skipping) return true;
    const std::string& path = file.destination.path();
    const auto known = knownFolders.find(parentFolder(path));
    std::optional<std::uint64_t> limit;
    if (known != knownFolders.end() && known->second.limitKnown) {
        limit = known->second.sizeLimit;
    } else {
        limit = fs.maxFileSize(path);
        if (known != knownFolders.end()) {
            known->second.limitKnown = true;
            known->second.sizeLimit = limit;
        }
    }
    if (limit && file.base + file.mainSource.fileSize() > *limit) {
        fail(EngineStatus::DestinationTooSmall);
        return false;
    }
    return true;
}

bool CopyEngine::Impl::createNewLog()
{
    const bool createLog = setting(&EngineSettings::createLog);
    if (!file.log.isBound() && !createLog && file.replacing && file.logFile.file() != nullptr) {
        // The old log describes the copy that Replace has just emptied; left beside
        // the new copy it would send a later Resume to its old end record. A file
        // there that is no log is left alone.
        CopyLog old;
        old.bind(&file.logFile);
        const bool isLog = old.readHeader() >= 0;
        file.logFile.close();
        if (isLog) fs.removeFile(file.logPath);
    }
    if (file.log.isBound()) return rewriteContinuedLog();
    if (!createLog || shared.skipping) return true;
    const auto fill = static_cast<std::int32_t>(file.fillType);
    if (!file.unfinishedRegions.empty()) {
        // The regions an unusable log still listed go into its replacement, which takes
        // its place in one step: a run killed meanwhile leaves the old log whole. The old
        // one stays open, and so locked, until then. The copy needs no sync first: what
        // the new log leaves out lies past the copy's end, where no earlier state of the
        // copy on the medium reaches (only Replace shortens a copy, and syncs it).
        const RegionMap earlier(file.unfinishedRegions);
        const LogForm form = logFormFor(earlier);
        PlainFile next(fs);
        if (!writeLogByRename(fs, file.logPath, file.fileName, fill, form, *earlier.toRecords(form),
                              &next, freshAnnotations())) {
            fail(EngineStatus::LogCreateFailed);
            return false;
        }
        file.logFile = std::move(next);
        file.logCreated = true;
        file.log.bind(&file.logFile, form);
        return true;
    }
    // Mostly there is no log yet. One that is there is locked before it is emptied, so
    // that a log another run holds keeps its records.
    const bool fresh = file.logFile.create(file.logPath, Disposition::CreateNew, Access::Write);
    if (!fresh && !file.logFile.create(file.logPath, Disposition::OpenAlways, Access::Write)) {
        // A name too long to take ".log" still gets its copy, without a log.
        if (isNameTooLong(file.logFile.lastError())) {
            shared.withoutLog.store(true);
            return true;
        }
        fail(fs.exists(file.logPath) ? EngineStatus::LogOpenFailed : EngineStatus::LogCreateFailed);
        return false;
    }
    if (!file.logFile.file()->tryLock()) {
        file.logFile.close();
        fail(EngineStatus::DestinationInUse);
        return false;
    }
    if (!fresh) file.logFile.truncateAt(0);
    file.logCreated = true;
    file.log.bind(&file.logFile);
    // A header that cannot be written makes the log unusable for the next run,
    // which then asks before going on without it.
    file.log.writeHeader(file.fileName, fill, tessaly::logFormFor(fileEnd()), freshAnnotations());
    return true;
}

// A continued log keeps its form, unless the copy now ends where its narrow records
// cannot say (Append behind a large copy, a source that grew), and its annotations,
// unless an Append starts anew (its source and base): its records then go into a log
// that takes its place in one step, before anything is copied.
bool CopyEngine::Impl::rewriteContinuedLog()
{
    const RegionMap earlier = [this] {
        std::lock_guard lock(shared.regionsMutex);
        return RegionMap(shared.regions);
    }();
    const LogForm form = file.log.form() == LogForm::Wide ? LogForm::Wide : logFormFor(earlier);
    if (form == file.log.form() && file.annotations == file.loggedAnnotations) return true;
    PlainFile next(fs);
    if (!writeLogByRename(fs, file.logPath, file.fileName, static_cast<std::int32_t>(file.fillType),
                          form, *earlier.toRecords(form), &next, file.annotations)) {
        fail(EngineStatus::LogCreateFailed);
        return false;
    }
    file.logFile = std::move(next);
    file.log.bind(&file.logFile, form);
    return true;
}

void CopyEngine::Impl::releaseReservedCopies()
{
    file.reserved.clear();
    file.sources.clear();
    file.failedMarks.clear();
}

void CopyEngine::Impl::openReservedCopies()
{
    releaseReservedCopies();
    file.sources.push_back(&file.mainSource);
    const std::string folder = setting(&EngineSettings::reservedFolder);
    const ReservedPlacement where = setting(&EngineSettings::reservedPlacement);
    if (where == ReservedPlacement::InFolder) {
        auto reader = std::make_unique<SourceReader>(fs);
        if (reader->open(folder + file.relativeFolder + file.fileName) && !isDestination(*reader)) {
            file.sources.push_back(reader.get());
            file.reserved.push_back(std::move(reader));
        }
    } else if (where == ReservedPlacement::BesideSource) {
        // Numbered from 1; the first missing number ends the search.
        for (int k = 1;; ++k) {
            auto reader = std::make_unique<SourceReader>(fs);
            if (!reader->open(file.sourcePath + ".cp" + std::to_string(k))) break;
            if (isDestination(*reader)) continue;
            file.sources.push_back(reader.get());
            file.reserved.push_back(std::move(reader));
        }
    }
    file.failedMarks.assign(file.sources.size(), false);
}

bool CopyEngine::Impl::prepareAndStart(const std::string& sourcePath, const std::string& outputFolder,
                                       const std::string& baseFolder,
                                       const std::function<void()>* here)
{
    file.fillType = setting(&EngineSettings::fillType);
    if (!prepareSource(sourcePath, baseFolder, outputFolder)) return false;
    if (!openDestination()) return false;
    // Scratch logs a killed run left beside the copy; once per folder, as listing it is
    // not free.
    if (const std::string folder = parentFolder(file.logPath); sweptFolders.insert(folder).second)
        removeStaleScratchLogs(fs, folder);
    if (file.destinationExisted && !prepareExisting()) return false;
    if (!checkFileSizeLimit() || !checkFreeSpace()) return refuseAfterPreparing();
    // Sync point: the emptied copy is on the medium before its old log is replaced or
    // removed, so that no power loss brings back its old fills without their log.
    if (file.replacing && (!file.destination.truncateAt(0) || !file.destination.sync())) {
        fail(EngineStatus::WriteFailed);
        return refuseAfterPreparing();
    }
    if (!createNewLog()) return refuseAfterPreparing();
    openReservedCopies();
    if (here == nullptr) return startWorker() || refuseAfterPreparing();
    announceFile();
    if (*here) (*here)();
    runWorker();
    return true;
}

void CopyEngine::Impl::closeFile()
{
    file.log.unbind();
    file.logFile.close();
    file.destination.close();
    file.mainSource.close();
    releaseReservedCopies();
}

void CopyEngine::Impl::workerLoop()
{
    std::unique_lock lock(worker.mutex);
    for (;;) {
        worker.wake.wait(lock, [this] { return worker.pending || worker.leave; });
        if (!worker.pending) return;
        worker.pending = false;
        lock.unlock();
        runWorker();
        lock.lock();
        worker.running = false;
        worker.wake.notify_all();
    }
}

bool CopyEngine::Impl::handToWorker(const ThreadStarter& start)
{
    {
        std::lock_guard lock(worker.mutex);
        if (!worker.thread.joinable() && !start(worker.thread, [this] { workerLoop(); })) {
            return false;
        }
        worker.pending = true;
        worker.running = true;
    }
    worker.wake.notify_all();
    return true;
}

void CopyEngine::Impl::waitForWorker()
{
    std::unique_lock lock(worker.mutex);
    worker.wake.wait(lock, [this] { return !worker.running; });
}

void CopyEngine::Impl::endWorker()
{
    {
        std::lock_guard lock(worker.mutex);
        worker.leave = true;
    }
    worker.wake.notify_all();
    if (worker.thread.joinable()) worker.thread.join();
}

void CopyEngine::Impl::announceFile()
{
    publishFile();
    opened.copy = file.destination.isOpen() ? file.destination.file()->identity() : std::nullopt;
    opened.log = file.logFile.isOpen() ? file.logFile.file()->identity() : std::nullopt;
    shared.driveType.store(file.mainSource.driveType());
    setState(shared.busy, true);
}

bool CopyEngine::Impl::startWorker()
{
    waitForWorker();
    ThreadStarter start;
    {
        std::lock_guard lock(settings.mutex);
        start = settings.starter;
    }
    // What the snapshot shows of the new file is in place before the worker takes it.
    announceFile();
    if (!start || !handToWorker(start)) {
        setState(shared.busy, false);
        releaseReservedCopies();
        fail(EngineStatus::WorkerStartFailed);
        return false;
    }
    return true;
}

// A start refused after a log was taken up for continuing gives that log its end
// record back, so that the same copy can be continued once the reason is gone.
bool CopyEngine::Impl::refuseAfterPreparing()
{
    if (file.droppedEnd && file.log.isBound()) file.log.appendRecord(*file.droppedEnd, 0);
    file.droppedEnd.reset();
    // A destination this start created holds nothing yet; left behind, it would be
    // taken by the next run for a copy without a usable log.
    if (!file.destinationExisted && file.destination.isOpen()) {
        file.destination.close();
        fs.removeFile(file.destination.path());
        if (file.logCreated) {
            file.log.unbind();
            file.logFile.close();
            fs.removeFile(file.logPath);
        }
    }
    return false;
}

}  // namespace tessaly
