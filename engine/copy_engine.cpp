#include "engine/copy_engine.h"

#include <chrono>
#include <system_error>

#include "engine/engine_impl.h"

namespace tessaly {

bool defaultThreadStarter(std::thread& thread, std::function<void()> body)
{
    try {
        thread = std::thread(std::move(body));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

std::optional<bool> CopyEngine::Impl::ask(QueryKind kind, std::string* path)
{
    QueryCallback function;
    {
        std::lock_guard lock(settings.mutex);
        function = settings.callback;
    }
    if (!function) return std::nullopt;
    EngineQuery query;
    query.kind = kind;
    if (path != nullptr) query.path = *path;
    const bool answer = function(query);
    if (path != nullptr) *path = std::move(query.path);
    return answer;
}

// ---------------------------------------------------------------- CopyEngine

CopyEngine::CopyEngine(FileSystem& fs, const TickSource& ticks)
    : m(std::make_unique<Impl>(fs, ticks))
{
}

CopyEngine::~CopyEngine()
{
    requestStop(true);
    m->endWorker();
}

void CopyEngine::setSettings(const EngineSettings& wanted)
{
    std::lock_guard lock(m->settings.mutex);
    m->settings.values = normalisedSettings(wanted, m->settings.values);
}

EngineSettings CopyEngine::settings() const
{
    std::lock_guard lock(m->settings.mutex);
    return m->settings.values;
}

void CopyEngine::setQueryCallback(QueryCallback callback)
{
    std::lock_guard lock(m->settings.mutex);
    m->settings.callback = std::move(callback);
}

void CopyEngine::setThreadStarter(ThreadStarter starter)
{
    std::lock_guard lock(m->settings.mutex);
    m->settings.starter = std::move(starter);
}

bool CopyEngine::continueFile(const std::string& sourcePath, const std::string& outputFolder,
                              const std::string& baseFolder)
{
    return begin(sourcePath, outputFolder, baseFolder, true, nullptr);
}

bool CopyEngine::startFile(const std::string& sourcePath, const std::string& outputFolder,
                           const std::string& baseFolder)
{
    return begin(sourcePath, outputFolder, baseFolder, false, nullptr);
}

bool CopyEngine::copyFile(const std::string& sourcePath, const std::string& outputFolder,
                          const std::string& baseFolder, bool continuing,
                          const std::function<void()>& started)
{
    return begin(sourcePath, outputFolder, baseFolder, continuing, &started);
}

bool CopyEngine::begin(const std::string& sourcePath, const std::string& outputFolder,
                       const std::string& baseFolder, bool continuing,
                       const std::function<void()>* here)
{
    if (m->shared.busy.load()) return false;
    // The worker has cleared busy; let it finish the last instructions of its file.
    m->waitForWorker();
    m->file.continuing = continuing;
    m->clearStatus();
    m->shared.filledBytes.store(0);
    m->shared.position.store(0);
    m->setBase(0);
    {
        std::lock_guard lock(m->shared.regionsMutex);
        m->shared.regions.clear();
    }
    m->file.unfinishedRegions.clear();
    m->file.unfinishedBase.reset();
    m->file.passRecord.reset();
    m->file.passResume.reset();
    m->file.phaseResume.reset();
    m->file.notTried.clear();
    m->file.annotations.clear();
    m->file.loggedAnnotations.clear();
    {
        std::lock_guard lock(m->shared.pathMutex);
        m->shared.destinationPath.clear();
    }
    m->shared.skipping = false;
    m->shared.withoutLog = false;
    m->shared.triesAgain = false;
    m->shared.retryPasses = 0;
    m->file.replacing = false;
    m->file.appending = false;
    m->file.logCreated = false;
    m->file.droppedEnd.reset();

    const bool started = m->prepareAndStart(sourcePath, outputFolder, baseFolder, here);
    m->file.continuing = false;
    if (started) return true;
    // Nothing a refused start opened stays open: the medium can be taken out, and
    // another run can take the copy and its log.
    m->closeFile();
    return false;
}

void CopyEngine::requestStop(bool wait)
{
    m->shared.stopRequest.store(true);
    if (!wait) return;
    std::unique_lock lock(m->shared.stateMutex);
    m->shared.stateChanged.wait(lock, [this] { return !m->shared.busy.load(); });
}

void CopyEngine::beginRun()
{
    if (!m->shared.busy.load()) m->shared.stopRequest.store(false);
    m->knownFolders.clear();
    m->sweptFolders.clear();
    m->heldFolder = {};
    m->holdFolders = true;
}

void CopyEngine::endRun()
{
    m->holdFolders = false;
    m->heldFolder = {};
}

std::optional<FileIdentity> CopyEngine::openedCopy() const
{
    return m->opened.copy;
}

std::optional<FileIdentity> CopyEngine::openedLog() const
{
    return m->opened.log;
}

bool CopyEngine::waitUntilIdle(std::uint32_t timeoutMs) const
{
    std::unique_lock lock(m->shared.stateMutex);
    return m->shared.stateChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                           [this] { return !m->shared.busy.load(); });
}

bool CopyEngine::busy() const
{
    return m->shared.busy.load();
}
EngineStatus CopyEngine::status() const
{
    return m->shared.status.load();
}
std::int64_t CopyEngine::filledBytes() const
{
    return m->shared.filledBytes.load();
}
std::uint64_t CopyEngine::position() const
{
    return m->shared.position.load();
}

std::uint64_t CopyEngine::destinationPosition() const
{
    return m->shared.position.load() + m->shared.destinationBase.load();
}

std::uint64_t CopyEngine::destinationEnd() const
{
    return m->shared.fileSize.load() + m->shared.destinationBase.load();
}

std::uint32_t CopyEngine::sectorSize() const
{
    return m->shared.sectorSize.load();
}
DriveType CopyEngine::driveType() const
{
    return m->shared.driveType.load();
}

std::vector<BadRegion> CopyEngine::badRegions() const
{
    std::lock_guard lock(m->shared.regionsMutex);
    return m->shared.regions;
}

std::size_t CopyEngine::badRegionCount() const
{
    std::lock_guard lock(m->shared.regionsMutex);
    return m->shared.regions.size();
}

std::vector<BadRegion> CopyEngine::badRegionsFrom(std::size_t first) const
{
    std::lock_guard lock(m->shared.regionsMutex);
    if (first >= m->shared.regions.size()) return {};
    return {m->shared.regions.begin() + static_cast<std::ptrdiff_t>(first), m->shared.regions.end()};
}

std::uint32_t CopyEngine::badRegionsGeneration() const
{
    return m->shared.regionsGeneration.load();
}

std::size_t CopyEngine::trimmingRegions() const
{
    return m->shared.trimming.load();
}

std::uint32_t CopyEngine::retryPass() const
{
    return m->shared.retryPass.load();
}

std::uint32_t CopyEngine::retryPassCount() const
{
    return m->shared.retryPasses.load();
}

bool CopyEngine::triesAgain() const
{
    return m->shared.triesAgain.load();
}

std::uint32_t CopyEngine::longRate() const
{
    return std::max<std::uint32_t>(m->longMeter.rate(), 1);
}
std::uint32_t CopyEngine::shortRate() const
{
    return std::max<std::uint32_t>(m->shortMeter.rate(), 1);
}

std::uint32_t CopyEngine::readWaitMs() const
{
    Impl::Shared& shared = m->shared;
    const std::uint32_t read = shared.readsBegun.load();
    if (!shared.reading.load()) return 0;
    const std::uint32_t now = m->tickSource.now();
    std::lock_guard lock(shared.readWatchMutex);
    // A read not seen before is timed from now: callers poll far more often than
    // the seconds this is meant to show.
    if (read != shared.watchedRead) {
        shared.watchedRead = read;
        shared.watchedSince = now;
        return 0;
    }
    return now - shared.watchedSince;
}

EngineSnapshot CopyEngine::snapshot() const
{
    const Impl::Shared& shared = m->shared;
    EngineSnapshot now;
    now.busy = shared.busy.load();
    now.status = shared.status.load();
    now.fileSize = shared.fileSize.load();
    now.position = shared.position.load();
    now.destinationBase = shared.destinationBase.load();
    now.filledBytes = shared.filledBytes.load();
    now.passRegions = now.busy ? shared.trimming.load() : 0;
    now.retryPass = shared.retryPass.load();
    now.retryPasses = shared.retryPasses.load();
    now.phase = now.busy ? shared.phase.load() : 0;
    now.phased = shared.phased.load();
    now.notTried = m->notTriedNow();
    now.triesAgain = shared.triesAgain.load();
    now.shortRate = shortRate();
    now.longRate = longRate();
    now.readWaitMs = readWaitMs();
    return now;
}

bool CopyEngine::skippedExisting() const
{
    return m->shared.skipping.load();
}

bool CopyEngine::copiedWithoutLog() const
{
    return m->shared.withoutLog.load();
}

SysError CopyEngine::sourceOpenError() const
{
    if (m->shared.busy.load()) return 0;
    return m->file.mainSource.lastError();
}

std::string CopyEngine::destinationPath() const
{
    std::lock_guard lock(m->shared.pathMutex);
    return m->shared.destinationPath;
}

}  // namespace tessaly
