#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/engine_settings.h"
#include "settings/profile_settings.h"

namespace tessaly {

class CopyEngine;

// What the copier does when it starts with nothing to copy; stored by number.
enum class QuickStart : std::int32_t { None = 0, AddFolder = 1, AddFiles = 2 };
inline constexpr QuickStart kLastQuickStart = QuickStart::AddFiles;

// The settings the copier's window holds in its own fields.
struct WindowSettings
{
    std::string language = "english.lng";
    std::string programFolder;  // as stored in "Path"; with a trailing separator when derived
    std::int32_t autoStartCopying = 1;
    std::int32_t dontAskForAddReserveds = 0;
    std::int32_t dontAskForLog = 0;
    std::int32_t reuseOutFolder = 1;
    std::string outputFolder;
    std::int32_t showDetails = 0;
    std::int32_t dontAskConfirmForExistings = 1;
    std::int32_t quickStart = static_cast<std::int32_t>(QuickStart::AddFiles);
    std::int32_t waitForMedium = 0;  // wait for a medium that goes away in a file
    std::string helpFolder;  // the help pages: programFolder, a separator if missing, "Help/"

    bool operator==(const WindowSettings&) const = default;
};

// Reads the window settings, then hands the engine its settings. An empty or missing
// "Path" becomes defaultProgramFolder (the program folder when empty), kept by the
// window with a trailing separator and written to the profile without it.
// Never changes the process's current directory.
void loadSettings(ProfileSettings& profile, WindowSettings& window, CopyEngine& engine,
                  const std::filesystem::path& defaultProgramFolder = {});

// The reserved copies' folder of a stored value: a folder of this system as it stands;
// anything else (nothing stored, the default of another system such as "A:\Copy\", a
// relative path) gives the folder "Copy" in home.
std::string localReservedFolder(const std::string& stored, const std::string& home);

// Each engine setting as the profile holds it (its default when missing).
EngineSettings loadEngineSettings(const ProfileSettings& profile);

// Reads the engine settings from the profile and hands them to the engine.
void applyEngineSettings(const ProfileSettings& profile, CopyEngine& engine);

// Writes the window settings (not Language or Path), then the engine's.
void saveSettings(ProfileSettings& profile, const WindowSettings& window, const CopyEngine& engine);

// Writes each engine setting in its stored form.
void storeEngineSettings(ProfileSettings& profile, const EngineSettings& settings);

// Reads the engine's settings and writes them.
void storeEngineSettings(ProfileSettings& profile, const CopyEngine& engine);

}  // namespace tessaly
