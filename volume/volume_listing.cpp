#include "volume/volume_listing.h"

#include "engine/csv_field.h"

namespace tessaly {

const char* listedStateName(ListedState state)
{
    switch (state) {
        case ListedState::Whole:
            return "whole";
        case ListedState::Damaged:
            return "damaged";
        case ListedState::NotListed:
            return "not listed";
        case ListedState::Metadata:
            break;
    }
    return "unreadable metadata";
}

std::string partRoot(const VolumePart& part)
{
    return part.name.empty() ? std::string() : "/" + part.name;
}

std::vector<ListedFile> listVolumeFiles(Volume& volume, const std::atomic<bool>& stop)
{
    std::vector<ListedFile> files;
    std::vector<ListedFile> unlisted;
    const VolumeWalkSink sink{
        [&](const std::string& path, const VolumeFileInfo& info) {
            if (info.kind != EntryKind::File) {
                // A folder read from a damaged record may miss entries; an entry whose
                // record was read as zeros no longer says what it is.
                if (info.metadataDamaged || !info.problem.empty()) {
                    unlisted.push_back({path, 0, 0, ListedState::NotListed, 0,
                                        info.problem.empty() ? "its metadata is unreadable in part"
                                                             : info.problem});
                }
                return;
            }
            const std::uint64_t bad = volume.unreadableBytes(info);
            files.push_back({path, info.size, bad,
                             bad > 0 || info.metadataDamaged ? ListedState::Damaged
                                                             : ListedState::Whole,
                             info.times.modified,
                             info.metadataDamaged ? "its metadata is unreadable in part" : ""});
        },
        [&](const std::string& path, const std::string& reason) {
            const std::string shown = path.empty() ? "/" : path;
            if (!unlisted.empty() && unlisted.back().path == shown) return;  // said already
            unlisted.push_back({shown, 0, 0, ListedState::NotListed, 0, reason});
        }};
    for (std::size_t i = 0; i < volume.parts().size() && !stop.load(); ++i) {
        volume.walk(i, partRoot(volume.parts()[i]), sink, stop);
    }
    for (const auto& [name, reason] : volume.unopenedParts()) {
        unlisted.push_back({"/" + name, 0, 0, ListedState::NotListed, 0, reason});
    }
    files.insert(files.end(), unlisted.begin(), unlisted.end());
    for (const BadRegion& r : volume.zeroedMetadata().regions()) {
        files.push_back({"", r.length, r.length, ListedState::Metadata, 0,
                         "bytes " + std::to_string(r.offset) + " to " +
                             std::to_string(r.offset + r.length - 1) + " of the volume"});
    }
    return files;
}

std::string listedFilesCsv(const std::vector<ListedFile>& lines)
{
    std::string out = "path,size,bytes unreadable,state,modified,note\r\n";
    for (const ListedFile& line : lines) {
        appendCsvField(out, line.path);
        out += ',' + std::to_string(line.size) + ',' + std::to_string(line.unreadable) + ',' +
               listedStateName(line.state) + ',' + std::to_string(line.modified) + ',';
        appendCsvField(out, line.note);
        out += "\r\n";
    }
    return out;
}

}  // namespace tessaly
