#pragma once

#include <filesystem>

namespace tessaly {

// The folder that holds the program's language files and help pages: the executable's
// own folder when it holds a "*.lng" file, else ../share/tessaly beside it (the installed
// layout, which the build tree mirrors as build/bin and build/share/tessaly). Empty when
// the executable's path cannot be found.
std::filesystem::path programFolder();

// The same rule for an executable that lies in executableFolder.
std::filesystem::path programFolderFor(const std::filesystem::path& executableFolder);

// True when folder holds a regular file whose name ends in ".lng", in any case.
bool holdsLanguageFiles(const std::filesystem::path& folder);

}  // namespace tessaly
