#pragma once

#include <string>

namespace tessaly {

inline constexpr char kPathSeparator = '/';

// folder with a trailing separator unless empty.
std::string withSeparator(std::string folder);

// The output folder as the first part of a destination path: with its trailing
// separator; an empty output folder is the root.
std::string outputPrefix(const std::string& outputFolder);

// The copy log's path of a copy: beside it, its name with ".log" appended.
std::string logPathOf(const std::string& copyPath);

// The folder of source below baseFolder, with a trailing separator: empty when
// baseFolder is empty, is not a prefix of the source's folder, or the result has a ".." level.
std::string relativeFolder(const std::string& sourcePath, const std::string& baseFolder);

// outputFolder (with a separator added; an empty one is the root) + the relative
// folder below baseFolder + the source's file name.
std::string destinationPath(const std::string& sourcePath, const std::string& outputFolder,
                            const std::string& baseFolder);

}  // namespace tessaly
