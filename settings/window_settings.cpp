#include "settings/window_settings.h"

#include <QDir>

#include <system_error>

#include "engine/copy_engine.h"
#include "engine/destination.h"
#include "engine/engine_settings.h"
#include "platform/program_folder.h"
#include "settings/settings_table.h"

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

std::string localReservedFolder(const std::string& stored, const std::string& home)
{
    if (!stored.empty() && stored.front() == kSeparator) return stored;
    return withSeparator(withSeparator(home) + "Copy");
}

void loadSettings(ProfileSettings& profile, WindowSettings& window, CopyEngine& engine,
                  const std::filesystem::path& defaultProgramFolder)
{
    window.language = profile.language();
    window.programFolder = resolveProgramFolder(profile, defaultProgramFolder);
    loadKeys(profile, window, kWindowKeys);
    window.helpFolder = withSeparator(window.programFolder) + "Help" + kSeparator;
    applyEngineSettings(profile, engine);
}

EngineSettings loadEngineSettings(const ProfileSettings& profile)
{
    EngineSettings settings;
    loadKeys(profile, settings, kEngineKeys);
    settings.reservedFolder = localReservedFolder(settings.reservedFolder,
                                                  QDir::homePath().toStdString());
    return settings;
}

void applyEngineSettings(const ProfileSettings& profile, CopyEngine& engine)
{
    engine.setSettings(loadEngineSettings(profile));
}

void saveSettings(ProfileSettings& profile, const WindowSettings& window, const CopyEngine& engine)
{
    storeKeys(profile, window, kWindowKeys);
    // An output folder that is not reused is not kept for the next start either.
    if (window.reuseOutFolder == 0) profile.set(profile_key::kOutFolder, std::string());
    storeEngineSettings(profile, engine);
    profile.flush();
}

void storeEngineSettings(ProfileSettings& profile, const EngineSettings& settings)
{
    storeKeys(profile, settings, kEngineKeys);
}

void storeEngineSettings(ProfileSettings& profile, const CopyEngine& engine)
{
    storeEngineSettings(profile, engine.settings());
}

}  // namespace tessaly
