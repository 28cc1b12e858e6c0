#include "volume/volume_tree.h"

#include <algorithm>
#include <tuple>

#include "volume/volume_listing.h"

namespace tessaly {

std::vector<VolumeTreeEntry> volumeTreeTop(const Volume& volume, const VolumeFileSystem& files)
{
    std::vector<VolumeTreeEntry> top;
    for (const VolumePart& part : volume.parts()) {
        const std::string inside = partRoot(part);
        top.push_back({inside.empty() ? "/" : inside, files.root() + inside, true, 0,
                       TreeProblem::None, {}});
    }
    for (const auto& [name, reason] : volume.unopenedParts()) {
        top.push_back({"/" + name, files.root() + "/" + name, true, 0, TreeProblem::NotListed,
                       reason});
    }
    return top;
}

VolumeTreeFolder listVolumeTreeFolder(VolumeFileSystem& files, const std::string& path)
{
    files.takeUnlisted();  // another listing's
    std::vector<FolderEntry> listed;
    VolumeTreeFolder folder;
    folder.complete = files.listFolder(path, &listed);
    const std::string prefix = path.ends_with('/') ? path : path + "/";
    for (const FolderEntry& entry : listed) {
        if (entry.kind != EntryKind::File && entry.kind != EntryKind::Folder) continue;
        const bool isFolder = entry.kind == EntryKind::Folder;
        folder.entries.push_back({entry.name, prefix + entry.name, isFolder, entry.size,
                                  entry.link ? TreeProblem::LeadsAbove : TreeProblem::None, {}});
    }
    std::sort(folder.entries.begin(), folder.entries.end(), [](const auto& a, const auto& b) {
        return std::tie(b.folder, a.name) < std::tie(a.folder, b.name);
    });
    for (auto& [unlisted, reason] : files.takeUnlisted()) {
        folder.entries.push_back({unlisted.substr(unlisted.rfind('/') + 1), unlisted, false, 0,
                                  TreeProblem::NotListed, std::move(reason)});
    }
    folder.readable = folder.complete || !folder.entries.empty();
    return folder;
}

}  // namespace tessaly
