#include "engine/destination.h"

namespace tessaly {
namespace {

// A relative folder may only lead downwards; one with a ".." level is dropped so
// that no destination leaves the output folder.
bool leadsUpwards(const std::string& relative)
{
    std::size_t begin = 0;
    while (begin <= relative.size()) {
        std::size_t end = relative.find(kPathSeparator, begin);
        if (end == std::string::npos) end = relative.size();
        if (end - begin == 2 && relative.compare(begin, 2, "..") == 0) return true;
        begin = end + 1;
    }
    return false;
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of(kPathSeparator);
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string withSeparator(std::string folder)
{
    if (!folder.empty() && folder.back() != kPathSeparator) folder += kPathSeparator;
    return folder;
}

std::string parentFolder(const std::string& path)
{
    const std::size_t slash = path.find_last_of(kPathSeparator);
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string(1, kPathSeparator) : path.substr(0, slash);
}

std::string outputPrefix(const std::string& outputFolder)
{
    return outputFolder.empty() ? std::string(1, kPathSeparator) : withSeparator(outputFolder);
}

std::string logPathOf(const std::string& copyPath)
{
    return copyPath + std::string(kLogSuffix);
}

std::string relativeFolder(const std::string& sourcePath, const std::string& baseFolder)
{
    const std::string base = withSeparator(baseFolder);
    const std::string sourceFolder = folderOf(sourcePath);
    if (base.empty() || !sourceFolder.starts_with(base)) return {};
    std::string relative = sourceFolder.substr(base.size());
    if (leadsUpwards(relative)) relative.clear();
    return relative;
}

std::string copyNameOf(const std::string& sourcePath, bool wholeDevice)
{
    const std::size_t slash = sourcePath.find_last_of(kPathSeparator);
    const std::string fileName =
        slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
    return wholeDevice ? fileName + kImageExtension : fileName;
}

std::string destinationPath(const std::string& sourcePath, const std::string& outputFolder,
                            const std::string& baseFolder, bool wholeDevice)
{
    return outputPrefix(outputFolder) + relativeFolder(sourcePath, baseFolder) +
           copyNameOf(sourcePath, wholeDevice);
}

}  // namespace tessaly
