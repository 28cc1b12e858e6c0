#include "volume/volume_file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

namespace tessaly {

namespace {

// Device numbers no mounted file system has, one per part, for the identities of a
// volume's files.
constexpr std::uint64_t kVolumeDevice = std::numeric_limits<std::uint64_t>::max() - 0xFFFF;

// One file of a volume, read through its runs.
class VolumeFile : public File
{
public:
    VolumeFile(Volume& volume, std::size_t part, VolumeFileInfo info)
        : m_volume(volume), m_part(part), m_info(std::move(info))
    {
    }

    IoResult read(void* buffer, std::size_t n) override
    {
        auto* out = static_cast<char*>(buffer);
        std::size_t done = 0;
        while (done < n && m_offset < m_info.size) {
            const IoResult piece = readPiece(out + done, n - done);
            if (piece.bytes == 0) {
                if (done == 0) return piece;
                break;
            }
            done += piece.bytes;
            m_offset += piece.bytes;
        }
        return {done, 0};
    }
    IoResult write(const void*, std::size_t) override { return {0, EROFS}; }
    std::int64_t seek(std::int64_t distance, Whence whence) override
    {
        const std::int64_t from = whence == Whence::Begin     ? 0
                                  : whence == Whence::Current ? static_cast<std::int64_t>(m_offset)
                                                              : size();
        if ((distance < 0 && from + distance < 0) ||
            (distance > 0 && from > std::numeric_limits<std::int64_t>::max() - distance)) {
            return -1;
        }
        m_offset = static_cast<std::uint64_t>(from + distance);
        return static_cast<std::int64_t>(m_offset);
    }
    std::int64_t offset() const override { return static_cast<std::int64_t>(m_offset); }
    std::int64_t size() override
    {
        return static_cast<std::int64_t>(
            std::min<std::uint64_t>(m_info.size, std::numeric_limits<std::int64_t>::max()));
    }
    bool truncate(std::uint64_t) override { return false; }
    std::optional<FileIdentity> identity() override
    {
        return FileIdentity{kVolumeDevice + m_part, m_info.address};
    }

private:
    // Reads from the run that holds the file pointer, at most to its end.
    IoResult readPiece(char* out, std::size_t n)
    {
        if (m_info.metadataDamaged) return {0, EIO};
        const auto run = std::upper_bound(
            m_info.runs.begin(), m_info.runs.end(), m_offset,
            [](std::uint64_t at, const DataRun& r) { return at < r.fileOffset; });
        if (run == m_info.runs.begin()) return {0, EIO};
        const DataRun& r = *std::prev(run);
        const std::uint64_t into = m_offset - r.fileOffset;
        if (into >= r.length) return {0, EIO};
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, r.length - into));
        switch (r.kind) {
            case RunKind::Data:
                return m_volume.readData(r.volumeOffset + into, out, n);
            case RunKind::Zeros:
                std::memset(out, 0, n);
                return {n, 0};
            case RunKind::Library:
                return m_volume.readThroughLibrary(m_part, m_info.address, m_offset, out, n);
            case RunKind::Unknown:
                break;
        }
        return {0, EIO};
    }

    Volume& m_volume;
    std::size_t m_part;
    VolumeFileInfo m_info;
    std::uint64_t m_offset = 0;
};

// A path inside the volume by name, as absolutePath resolves one: "//a/./b/../c/" names
// "/a/c", and ".." never leads above the volume's root. "" for the root itself.
std::string innerPath(const std::string& path)
{
    std::string inner;
    for (std::size_t at = 0; at < path.size();) {
        const std::size_t next = std::min(path.find('/', at), path.size());
        const std::string level = path.substr(at, next - at);
        if (level == "..") {
            inner.erase(std::min(inner.size(), inner.rfind('/')));
        } else if (!level.empty() && level != ".") {
            inner += "/" + level;
        }
        at = next + 1;
    }
    return inner;
}

}  // namespace

std::string VolumeFileSystem::pathOf(const std::string& inside) const
{
    return m_root + innerPath(inside);
}

VolumeFileSystem::VolumeFileSystem(FileSystem& base, Volume& volume, std::string root)
    : m_base(base), m_volume(volume), m_root(std::move(root))
{
    while (m_root.size() > 1 && m_root.back() == '/') m_root.pop_back();
}

std::optional<VolumeFileSystem::Place> VolumeFileSystem::placeOf(const std::string& path) const
{
    if (path.compare(0, m_root.size(), m_root) != 0) return std::nullopt;
    if (path.size() > m_root.size() && path[m_root.size()] != '/') return std::nullopt;
    const std::string inner = innerPath(path.substr(m_root.size()));
    Place place;
    const std::vector<VolumePart>& parts = m_volume.parts();
    if (parts.size() == 1 && parts.front().name.empty()) {
        place.inner = inner.empty() ? "/" : inner;
        return place;
    }
    if (inner.empty()) {
        place.partsFolder = true;
        return place;
    }
    const std::size_t cut = std::min(inner.find('/', 1), inner.size());
    const std::string name = inner.substr(1, cut - 1);
    place.part = parts.size();  // no such part unless found
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].name == name) place.part = i;
    }
    place.inner = cut < inner.size() ? inner.substr(cut) : "/";
    return place;
}

std::optional<VolumeFileInfo> VolumeFileSystem::infoOf(const Place& place)
{
    if (place.partsFolder) return std::nullopt;
    return m_volume.lookup(place.part, place.inner);
}

std::unique_ptr<File> VolumeFileSystem::openFile(const Place& place, SysError* error)
{
    std::optional<VolumeFileInfo> info = infoOf(place);
    if (!info || info->kind != EntryKind::File) {
        *error = place.partsFolder || (info && info->kind == EntryKind::Folder) ? EISDIR
                 : info                                                        ? EINVAL
                                                                               : ENOENT;
        return nullptr;
    }
    return std::make_unique<VolumeFile>(m_volume, place.part, std::move(*info));
}

std::unique_ptr<File> VolumeFileSystem::openUnbuffered(const std::string& path, SysError* error)
{
    const std::optional<Place> place = placeOf(path);
    if (!place) return m_base.openUnbuffered(path, error);
    return openFile(*place, error);
}

std::unique_ptr<File> VolumeFileSystem::open(const std::string& path, Disposition disposition,
                                             Access access, SysError* error)
{
    const std::optional<Place> place = placeOf(path);
    if (!place) return m_base.open(path, disposition, access, error);
    if (access != Access::Read || disposition != Disposition::OpenExisting) {
        *error = EROFS;
        return nullptr;
    }
    return openFile(*place, error);
}

bool VolumeFileSystem::exists(const std::string& path)
{
    const std::optional<Place> place = placeOf(path);
    if (!place) return m_base.exists(path);
    return place->partsFolder || infoOf(*place).has_value();
}

bool VolumeFileSystem::isDirectory(const std::string& path)
{
    const std::optional<Place> place = placeOf(path);
    if (!place) return m_base.isDirectory(path);
    if (place->partsFolder) return true;
    const std::optional<VolumeFileInfo> info = infoOf(*place);
    return info && info->kind == EntryKind::Folder;
}

bool VolumeFileSystem::isSymlink(const std::string& path)
{
    return placeOf(path) ? false : m_base.isSymlink(path);
}

bool VolumeFileSystem::createDirectory(const std::string& path)
{
    return placeOf(path) ? false : m_base.createDirectory(path);
}

bool VolumeFileSystem::removeFile(const std::string& path)
{
    return placeOf(path) ? false : m_base.removeFile(path);
}

bool VolumeFileSystem::rename(const std::string& from, const std::string& to)
{
    return placeOf(from) || placeOf(to) ? false : m_base.rename(from, to);
}

bool VolumeFileSystem::syncFolder(const std::string& path)
{
    return placeOf(path) ? false : m_base.syncFolder(path);
}

std::optional<std::uint64_t> VolumeFileSystem::freeSpace(const std::string& path)
{
    return placeOf(path) ? std::optional<std::uint64_t>(0) : m_base.freeSpace(path);
}

std::optional<VolumeInfo> VolumeFileSystem::volumeInfo(const std::string& path)
{
    if (!placeOf(path)) return m_base.volumeInfo(path);
    VolumeInfo info;
    info.bytesPerSector = m_volume.sectorSize();
    const std::optional<VolumeInfo> medium = m_base.volumeInfo(m_root);
    info.driveType = medium ? medium->driveType : DriveType::Unknown;
    return info;
}

std::optional<FileIdentity> VolumeFileSystem::identity(const std::string& path)
{
    const std::optional<Place> place = placeOf(path);
    if (!place) return m_base.identity(path);
    if (place->partsFolder) return FileIdentity{kVolumeDevice - 1, 0};
    const std::optional<VolumeFileInfo> info = infoOf(*place);
    if (!info) return std::nullopt;
    return FileIdentity{kVolumeDevice + place->part, info->address};
}

bool VolumeFileSystem::listFolder(const std::string& path, std::vector<FolderEntry>* entries)
{
    const std::optional<Place> place = placeOf(path);
    if (!place) return m_base.listFolder(path, entries);
    if (place->partsFolder) {
        for (const VolumePart& part : m_volume.parts()) {
            entries->push_back({part.name, EntryKind::Folder, false, 0});
        }
        return true;
    }
    const std::optional<VolumeFileInfo> folder = infoOf(*place);
    if (!folder || folder->kind != EntryKind::Folder) return false;
    const std::optional<FolderListing> listing = m_volume.listFolder(place->part, folder->address);
    if (!listing) return false;
    // A damaged or crafted folder may hold one of the folders above it: it is shown as a
    // link, which a scan does not enter, so that the scan ends.
    std::set<std::uint64_t> above = {folder->address};
    for (std::size_t cut = 0; (cut = place->inner.find('/', cut + 1)) != std::string::npos;) {
        if (auto level = m_volume.lookup(place->part, place->inner.substr(0, cut))) {
            above.insert(level->address);
        }
    }
    if (auto root = m_volume.lookup(place->part, "/")) above.insert(root->address);
    const std::string folderPath = path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path;
    for (const std::string& name : listing->unlisted) {
        m_unlisted.emplace_back(folderPath + "/" + name, "its metadata cannot be read");
    }
    for (const auto& [name, info] : listing->entries) {
        if (info.kind == EntryKind::Other && (info.metadataDamaged || !info.problem.empty())) {
            m_unlisted.emplace_back(folderPath + "/" + name, info.problem.empty()
                                                                 ? "its metadata cannot be read"
                                                                 : info.problem);
        }
        const bool loop = info.kind == EntryKind::Folder && above.count(info.address) > 0;
        entries->push_back(
            {name, info.kind, loop, info.kind == EntryKind::File ? info.size : 0});
    }
    return listing->complete && !folder->metadataDamaged;
}

std::vector<std::pair<std::string, std::string>> VolumeFileSystem::takeUnlisted()
{
    return std::exchange(m_unlisted, {});
}

std::optional<std::uint64_t> VolumeFileSystem::fileSize(const std::string& path)
{
    const std::optional<Place> place = placeOf(path);
    if (!place) return m_base.fileSize(path);
    const std::optional<VolumeFileInfo> info = infoOf(*place);
    if (!info || info->kind != EntryKind::File) return std::nullopt;
    return info->size;
}

bool VolumeFileSystem::isBlockDevice(const std::string& path)
{
    return placeOf(path) ? false : m_base.isBlockDevice(path);
}

std::optional<std::uint64_t> VolumeFileSystem::maxFileSize(const std::string& path)
{
    return placeOf(path) ? std::nullopt : m_base.maxFileSize(path);
}

std::optional<std::string> VolumeFileSystem::canonicalPath(const std::string& path)
{
    const std::optional<Place> place = placeOf(path);
    if (!place) return m_base.canonicalPath(path);
    if (!exists(path)) return std::nullopt;
    if (place->partsFolder) return m_root;
    const std::vector<VolumePart>& parts = m_volume.parts();
    const std::string partFolder =
        parts.size() == 1 && parts.front().name.empty() ? "" : "/" + parts[place->part].name;
    return m_root + partFolder + (place->inner == "/" ? "" : place->inner);
}

}  // namespace tessaly
