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
    const std::vector<std::string> wanted = paths.empty() ? std::vector<std::string>{"/"} : paths;
    for (const std::string& inside : wanted) {
        if (stop.load()) break;
        const std::string path = fs.pathOf(inside);
        if (!fs.isDirectory(path)) {
            // A path that names nothing is listed all the same: the run then says so.
            builder.addFile(path, base, fs.fileSize(path).value_or(0));
            continue;
        }
        const ScanSink sink{
            [&](const std::string& file, std::uint64_t size) { builder.addFile(file, base, size); },
            [&](const std::string& folder) { missing.unreadableFolders.push_back(folder); }};
        scanFolder(fs, path, {}, stop, sink);
    }
    CopyList list = builder.take();
    list.unreadableFolders.insert(list.unreadableFolders.end(), missing.unreadableFolders.begin(),
                                  missing.unreadableFolders.end());
    return list;
}

}  // namespace tessaly::cli
