#pragma once

#include <filesystem>
#include <string>

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

namespace tessaly {

// The folder to take language files and help pages from, given the stored "Path": the
// stored folder when it holds language files, or when the program folder holds none
// either; the program folder when the stored one is empty or holds no language files
// (the program was moved, or the folder of an earlier build was removed), so that a
// stale profile never stops a program whose files are in place.
std::filesystem::path chooseProgramFolder(const std::string& storedPath,
                                          const std::filesystem::path& programFolder);

}  // namespace tessaly
