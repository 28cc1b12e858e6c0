#include "settings/window_settings.h"

#include <system_error>

#include "engine/copy_engine.h"
#include "engine/destination.h"
#include "engine/engine_settings.h"
#include "platform/program_folder.h"

namespace tessaly {
namespace {

constexpr char kSeparator = kPathSeparator;

std::string withoutSeparator(std::string folder)
{
    while (folder.size() > 1 && folder.back() == kSeparator) folder.pop_back();
    return folder;
}

// The program folder the window keeps: the stored "Path" as it stands while it holds
// language files; otherwise the folder of this program's language files, which the
// profile then remembers.
std::string resolveProgramFolder(ProfileSettings& profile,
                                 const std::filesystem::path& defaultProgramFolder)
{
    const std::string stored = profile.path();
    std::filesystem::path folder =
        defaultProgramFolder.empty() ? programFolder() : defaultProgramFolder;
    if (folder.empty()) {
        std::error_code ec;
        folder = std::filesystem::current_path(ec);
    }
    folder = chooseProgramFolder(stored, folder);
    if (!stored.empty() && folder == stored) return stored;
    const std::string bare = withoutSeparator(folder.string());
    profile.setPath(bare);
    return withSeparator(bare);
}

}  // namespace

void loadSettings(ProfileSettings& profile, WindowSettings& window, CopyEngine& engine,
                  const std::filesystem::path& defaultProgramFolder)
{
    window.language = profile.language();
    window.programFolder = resolveProgramFolder(profile, defaultProgramFolder);
    window.autoStartCopying = profile.autoStartCopying();
    window.dontAskForAddReserveds = profile.dontAskForAddReserveds();
    window.dontAskForLog = profile.dontAskForLog();
    window.reuseOutFolder = profile.reuseOutFolder();
    window.outputFolder = profile.outFolder();
    window.showDetails = profile.showDetails();
    window.dontAskConfirmForExistings = profile.dontAskConfirmForExistings();
    window.quickStart = profile.quickStart();
    window.helpFolder = withSeparator(window.programFolder) + "Help" + kSeparator;
    applyEngineSettings(profile, engine);
}

EngineSettings loadEngineSettings(const ProfileSettings& profile)
{
    EngineSettings settings;
    settings.autoRereads = profile.autoSectorRereads() != 0;
    settings.createLog = profile.createLog() != 0;
    settings.deleteLogIfNoErrors = profile.deleteLogIfNoErrs() != 0;
    settings.fillString = profile.nrrString();
    // The getters give values in range, damaged ones as their defaults.
    settings.fillType = static_cast<FillType>(profile.nrrType());
    // The engine keeps one byte; the profile keeps what was stored.
    settings.fillValue = static_cast<std::uint8_t>(profile.nrrValue() & 0xFF);
    settings.optimizeFor = profile.time();
    settings.reservedFolder = profile.rpFolder();
    settings.reservedPlacement = static_cast<ReservedPlacement>(profile.rpType());
    settings.rereadCount = static_cast<std::uint32_t>(profile.sectorRereadsCount());
    settings.existingPolicy = static_cast<ExistingPolicy>(profile.efpType());
    settings.trimPass = profile.trimFilled() != 0;
    return settings;
}

void applyEngineSettings(const ProfileSettings& profile, CopyEngine& engine)
{
    applySettings(engine, loadEngineSettings(profile));
}

void saveSettings(ProfileSettings& profile, const WindowSettings& window, const CopyEngine& engine)
{
    profile.setAutoStartCopying(window.autoStartCopying);
    profile.setDontAskForAddReserveds(window.dontAskForAddReserveds);
    profile.setDontAskForLog(window.dontAskForLog);
    profile.setReuseOutFolder(window.reuseOutFolder);
    profile.setOutFolder(window.reuseOutFolder != 0 ? window.outputFolder : std::string());
    profile.setShowDetails(window.showDetails);
    profile.setDontAskConfirmForExistings(window.dontAskConfirmForExistings);
    profile.setQuickStart(window.quickStart);
    storeEngineSettings(profile, engine);
    profile.flush();
}

void storeEngineSettings(ProfileSettings& profile, const EngineSettings& settings)
{
    profile.setAutoSectorRereads(settings.autoRereads ? 1 : 0);
    profile.setCreateLog(settings.createLog ? 1 : 0);
    profile.setDeleteLogIfNoErrs(settings.deleteLogIfNoErrors ? 1 : 0);
    profile.setNrrString(settings.fillString);
    profile.setNrrType(static_cast<std::int32_t>(settings.fillType));
    profile.setNrrValue(settings.fillValue & 0xFF);
    profile.setTime(settings.optimizeFor);
    profile.setRpFolder(settings.reservedFolder);
    profile.setRpType(static_cast<std::int32_t>(settings.reservedPlacement));
    profile.setSectorRereadsCount(static_cast<std::int32_t>(settings.rereadCount));
    profile.setEfpType(static_cast<std::int32_t>(settings.existingPolicy));
    profile.setTrimFilled(settings.trimPass ? 1 : 0);
}

void storeEngineSettings(ProfileSettings& profile, const CopyEngine& engine)
{
    storeEngineSettings(profile, settingsOf(engine));
}

}  // namespace tessaly
