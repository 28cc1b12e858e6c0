#pragma once

#include <string>
#include <string_view>

namespace tessaly {

inline constexpr char kPathSeparator = '/';

// folder with a trailing separator unless empty.
std::string withSeparator(std::string folder);

// The folder that holds path, without a trailing separator: the root for a file in the
// root, empty for a bare name.
std::string parentFolder(const std::string& path);

// The output folder as the first part of a destination path: with its trailing
// separator; an empty output folder is the root.
std::string outputPrefix(const std::string& outputFolder);

// What a copy's name takes to become its log's name.
inline constexpr std::string_view kLogSuffix = ".log";

// The copy log's path of a copy: beside it, its name with kLogSuffix appended.
std::string logPathOf(const std::string& copyPath);

// The folder of source below baseFolder, with a trailing separator: empty when
// baseFolder is empty, is not a prefix of the source's folder, or the result has a ".." level.
std::string relativeFolder(const std::string& sourcePath, const std::string& baseFolder);

// The extension of the image file that a whole device is copied into.
inline constexpr const char* kImageExtension = ".img";

// The name of a source's copy: the source's file name, or for a whole device (a
// block device, as the file system tells) that name with ".img" ("/dev/sdb" ->
// "sdb.img"), so that the copy is an ordinary file named after its medium.
std::string copyNameOf(const std::string& sourcePath, bool wholeDevice);

// outputFolder (with a separator added; an empty one is the root) + the relative
// folder below baseFolder + the copy's name (see copyNameOf).
std::string destinationPath(const std::string& sourcePath, const std::string& outputFolder,
                            const std::string& baseFolder, bool wholeDevice = false);

}  // namespace tessaly
