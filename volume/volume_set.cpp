#include "volume/volume_set.h"

#include <algorithm>

#include "volume/volume_log.h"

namespace tessaly {

namespace {

// A file of a volume that keeps its volume open for as long as it is open itself.
class HeldFile : public File
{
public:
    HeldFile(std::unique_ptr<File> file, std::shared_ptr<OpenedVolume> holder)
        : m_file(std::move(file)), m_holder(std::move(holder))
    {
    }
    IoResult read(void* buffer, std::size_t n) override { return m_file->read(buffer, n); }
    IoResult write(const void* buffer, std::size_t n) override { return m_file->write(buffer, n); }
    std::int64_t seek(std::int64_t distance, Whence whence) override
    {
        return m_file->seek(distance, whence);
    }
    std::int64_t offset() const override { return m_file->offset(); }
    std::int64_t size() override { return m_file->size(); }
    bool truncate(std::uint64_t length) override { return m_file->truncate(length); }
    std::optional<FileIdentity> identity() override { return m_file->identity(); }
    bool tryLock() override { return m_file->tryLock(); }
    bool sync() override { return m_file->sync(); }
    std::uint64_t modifiedNs() override { return m_file->modifiedNs(); }

private:
    std::unique_ptr<File> m_file;  // first to go: it reads through the held volume
    std::shared_ptr<OpenedVolume> m_holder;
};

}  // namespace

VolumeSet::VolumeSet(FileSystem& base) : m_base(base) {}

std::shared_ptr<OpenedVolume> VolumeSet::open(const std::string& path, std::string* error)
{
    std::string usedLog;
    std::unique_ptr<Volume> volume = openVolumeWithLog(m_base, path, {}, error, &usedLog);
    if (!volume) return nullptr;
    auto opened = std::make_shared<OpenedVolume>();
    opened->files = std::make_unique<VolumeFileSystem>(m_base, *volume, path);
    opened->base = opened->files->root() + "/";
    opened->volume = std::move(volume);
    const std::lock_guard lock(m_mutex);
    std::erase_if(m_opened, [](const std::weak_ptr<OpenedVolume>& v) { return v.expired(); });
    m_opened.push_back(opened);
    return opened;
}

std::shared_ptr<const std::string> VolumeSet::baseOf(const std::shared_ptr<OpenedVolume>& opened)
{
    return {opened, &opened->base};
}

std::shared_ptr<OpenedVolume> VolumeSet::find(const std::string& path) const
{
    const std::lock_guard lock(m_mutex);
    for (auto it = m_opened.rbegin(); it != m_opened.rend(); ++it) {
        std::shared_ptr<OpenedVolume> opened = it->lock();
        // Strictly below: the image or device itself stays a file of base.
        if (opened && path.starts_with(opened->base)) return opened;
    }
    return nullptr;
}

template <typename Call>
auto VolumeSet::route(const std::string& path, Call&& call)
{
    const std::shared_ptr<OpenedVolume> opened = find(path);
    return call(opened ? static_cast<FileSystem&>(*opened->files) : m_base);
}

std::unique_ptr<File> VolumeSet::openUnbuffered(const std::string& path, SysError* error)
{
    const std::shared_ptr<OpenedVolume> opened = find(path);
    if (!opened) return m_base.openUnbuffered(path, error);
    std::unique_ptr<File> file = opened->files->openUnbuffered(path, error);
    return file ? std::make_unique<HeldFile>(std::move(file), opened) : nullptr;
}

std::unique_ptr<File> VolumeSet::open(const std::string& path, Disposition disposition,
                                      Access access, SysError* error)
{
    const std::shared_ptr<OpenedVolume> opened = find(path);
    if (!opened) return m_base.open(path, disposition, access, error);
    std::unique_ptr<File> file = opened->files->open(path, disposition, access, error);
    return file ? std::make_unique<HeldFile>(std::move(file), opened) : nullptr;
}

bool VolumeSet::exists(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.exists(path); });
}

bool VolumeSet::isDirectory(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.isDirectory(path); });
}

bool VolumeSet::isSymlink(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.isSymlink(path); });
}

bool VolumeSet::createDirectory(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.createDirectory(path); });
}

bool VolumeSet::removeFile(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.removeFile(path); });
}

bool VolumeSet::syncFolder(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.syncFolder(path); });
}

bool VolumeSet::rename(const std::string& from, const std::string& to)
{
    // A volume is read-only: its file system refuses a rename out of it or into it.
    return route(find(from) ? from : to, [&](FileSystem& fs) { return fs.rename(from, to); });
}

std::optional<std::uint64_t> VolumeSet::freeSpace(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.freeSpace(path); });
}

std::optional<VolumeInfo> VolumeSet::volumeInfo(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.volumeInfo(path); });
}

std::optional<FileIdentity> VolumeSet::identity(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.identity(path); });
}

bool VolumeSet::listFolder(const std::string& path, std::vector<FolderEntry>* entries)
{
    return route(path, [&](FileSystem& fs) { return fs.listFolder(path, entries); });
}

std::optional<std::uint64_t> VolumeSet::fileSize(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.fileSize(path); });
}

bool VolumeSet::isBlockDevice(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.isBlockDevice(path); });
}

std::optional<std::uint64_t> VolumeSet::maxFileSize(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.maxFileSize(path); });
}

std::optional<std::string> VolumeSet::canonicalPath(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.canonicalPath(path); });
}

std::optional<std::string> VolumeSet::volumeSerial(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.volumeSerial(path); });
}

std::optional<SourcePlace> VolumeSet::sourcePlace(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.sourcePlace(path); });
}

std::unique_ptr<HeldFolder> VolumeSet::openFolder(const std::string& path)
{
    return route(path, [&](FileSystem& fs) { return fs.openFolder(path); });
}

}  // namespace tessaly
