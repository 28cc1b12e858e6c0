#include "cli/volume_source.h"

#include <memory>

#include "run/folder_scan.h"

namespace tessaly::cli {

CopyList buildVolumeCopyList(VolumeFileSystem& fs, const std::vector<std::string>& paths,
                             const std::atomic<bool>& stop)
{
    CopyListBuilder builder(fs, {}, stop);
    CopyList missing;
    const auto base = std::make_shared<const std::string>(fs.root() + "/");
    std::vector<std::string> wanted;
    for (const std::string& inside : paths.empty() ? std::vector<std::string>{"/"} : paths) {
        wanted.push_back(fs.pathOf(inside));
    }
    const ScanSink sink{
        [&](const std::string& file, std::uint64_t size) { builder.addFile(file, base, size); },
        [&](const std::string& folder) { missing.unreadableFolders.push_back(folder); }};
    scanPaths(fs, wanted, {}, stop, sink);
    CopyList list = builder.take();
    list.unreadableFolders.insert(list.unreadableFolders.end(), missing.unreadableFolders.begin(),
                                  missing.unreadableFolders.end());
    return list;
}

}  // namespace tessaly::cli
