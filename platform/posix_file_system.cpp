#include "platform/posix_file_system.h"

#include "platform/mount_info.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

namespace tessaly {
namespace {

// A file system that cannot sync a file or a folder (some network file systems refuse
// it for folders) puts them on its medium as it decides: nothing more can be done there,
// and refusing every copy on it would help no one.
bool syncUnsupported(SysError error)
{
    return error == EINVAL || error == ENOTSUP;
}

FileIdentity identityOf(const struct stat& st)
{
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// fsync of a folder's handle; a folder the file system cannot sync counts as synced.
bool syncFolderAt(int fd)
{
    int r;
    do {
        r = ::fsync(fd);
    } while (r != 0 && errno == EINTR);
    return r == 0 || syncUnsupported(errno);
}

class PosixFolder : public HeldFolder
{
public:
    PosixFolder(int fd, const struct stat& st) : m_fd(fd), m_identity(identityOf(st)) {}
    ~PosixFolder() override { ::close(m_fd); }
    PosixFolder(const PosixFolder&) = delete;
    PosixFolder& operator=(const PosixFolder&) = delete;

    FileIdentity identity() const override { return m_identity; }
    bool sync() override { return syncFolderAt(m_fd); }

private:
    int m_fd;
    FileIdentity m_identity;
};

class PosixFile : public File
{
public:
    // opened is the file as the open found it (fstat), which serves the questions asked
    // of it before anything is read or written through this handle.
    PosixFile(int fd, const struct stat& opened, bool direct, bool dropCache)
        : m_fd(fd), m_opened(opened), m_direct(direct), m_dropCache(dropCache)
    {
    }
    ~PosixFile() override { ::close(m_fd); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    IoResult read(void* buffer, std::size_t n) override
    {
        m_fresh = false;
        auto* out = static_cast<char*>(buffer);
        std::size_t done = 0;
        SysError error = 0;
        while (done < n) {
            const ssize_t r = ::pread(m_fd, out + done, n - done, m_offset + static_cast<off_t>(done));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                error = errno;
                break;
            }
            if (r == 0) break;
            done += static_cast<std::size_t>(r);
        }
        if (m_dropCache) {
            // Without O_DIRECT the next try of the same range must reach the medium again.
            ::posix_fadvise(m_fd, m_offset, static_cast<off_t>(n), POSIX_FADV_DONTNEED);
        }
        if (done == 0) return {0, error};
        m_offset += static_cast<std::int64_t>(done);
        return {done, 0};
    }

    IoResult write(const void* buffer, std::size_t n) override
    {
        m_fresh = false;
        const auto* in = static_cast<const char*>(buffer);
        std::size_t done = 0;
        SysError error = 0;
        while (done < n) {
            const ssize_t r = ::pwrite(m_fd, in + done, n - done, m_offset + static_cast<off_t>(done));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) {
                error = r < 0 ? errno : EIO;
                break;
            }
            done += static_cast<std::size_t>(r);
        }
        if (done == 0) return {0, error};
        m_offset += static_cast<std::int64_t>(done);
        return {done, 0};
    }

    std::int64_t seek(std::int64_t distance, Whence whence) override
    {
        std::int64_t base = 0;
        if (whence == Whence::Current) base = m_offset;
        if (whence == Whence::End) {
            base = size();
            if (base < 0) return -1;
        }
        const std::int64_t target = base + distance;
        if (target < 0) {
            errno = EINVAL;
            return -1;
        }
        m_offset = target;
        return m_offset;
    }

    std::int64_t offset() const override { return m_offset; }

    std::int64_t size() override
    {
        struct stat st {};
        if (!look(&st)) return -1;
        if (S_ISBLK(st.st_mode)) {
            std::uint64_t bytes = 0;
            if (::ioctl(m_fd, BLKGETSIZE64, &bytes) != 0) return -1;
            return static_cast<std::int64_t>(bytes);
        }
        return st.st_size;
    }

    bool truncate(std::uint64_t length) override
    {
        m_fresh = false;
        int r;
        do {
            r = ::ftruncate(m_fd, static_cast<off_t>(length));
        } while (r != 0 && errno == EINTR);
        return r == 0;
    }

    bool sync() override
    {
        int r;
        do {
            r = ::fdatasync(m_fd);
        } while (r != 0 && errno == EINTR);
        return r == 0 || syncUnsupported(errno);
    }

    std::uint64_t modifiedNs() override
    {
        struct stat st {};
        if (!look(&st) || !S_ISREG(st.st_mode)) return 0;
        return static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
               static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
    }

    // An open file stays the file it is, whatever its name becomes.
    std::optional<FileIdentity> identity() override
    {
        return identityOf(m_opened);
    }

    bool tryLock() override { return takeLock() != EWOULDBLOCK; }

    bool tryLockSeen() override { return takeLock() == 0; }

    bool direct() const { return m_direct; }

private:
    // The file's state: as opened until this handle has moved or cut bytes, then as the
    // system says now.
    bool look(struct stat* st)
    {
        if (m_fresh) {
            *st = m_opened;
            return true;
        }
        return ::fstat(m_fd, st) == 0;
    }

    // 0 when this handle now holds the file's exclusive lock, else why not (errno).
    SysError takeLock()
    {
        int r;
        do {
            r = ::flock(m_fd, LOCK_EX | LOCK_NB);
        } while (r != 0 && errno == EINTR);
        return r == 0 ? 0 : errno;
    }

    int m_fd;
    struct stat m_opened;
    bool m_fresh = true;
    bool m_direct;
    bool m_dropCache;
    std::int64_t m_offset = 0;
};

int openRetrying(const std::string& path, int flags, mode_t mode = 0666)
{
    int fd;
    do {
        fd = ::open(path.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// An open that may meet a named pipe (which waits for a writer) or a device is made
// without blocking (O_NONBLOCK in flags), so that neither can hold the caller for ever;
// then only what is a file is kept, and reads and writes block as usual again. An open
// that creates the file (O_EXCL) meets nothing of the kind. Closes fd and returns the
// reason when it is not a regular file (or, with blockDevices, a block device); *st
// is the file as opened.
SysError keepOnlyFiles(int fd, int flags, bool blockDevices, struct stat* st)
{
    SysError why = 0;
    if (::fstat(fd, st) != 0) {
        why = errno;
    } else if (S_ISDIR(st->st_mode)) {
        why = EISDIR;
    } else if (!S_ISREG(st->st_mode) && !(blockDevices && S_ISBLK(st->st_mode))) {
        why = EINVAL;
    } else if ((flags & O_NONBLOCK) && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        // F_SETFL takes only the flags it can change (O_DIRECT among them) from flags.
        why = errno;
    }
    if (why != 0) ::close(fd);
    return why;
}

// The mount table as /proc/self/mountinfo gives it, read again only when the kernel
// marks a change: the open file signals each mount and unmount to poll() (POLLPRI), so
// a run over many files reads the table once, and a medium mounted, unmounted or
// swapped meanwhile is seen at the next look. What is learnt of a mounted file system
// (its sectors, its kind of drive, its UUID) is kept with the table and forgotten with it.
class MountTable
{
public:
    ~MountTable()
    {
        if (m_fd >= 0) ::close(m_fd);
    }

    // The line of the device that holds st_dev (the last one wins, as later mounts
    // hide earlier ones).
    std::optional<MountEntry> entryOf(dev_t device)
    {
        std::lock_guard lock(m_mutex);
        refresh();
        const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
        for (auto entry = m_entries.rbegin(); entry != m_entries.rend(); ++entry) {
            if (entry->device == wanted) return *entry;
        }
        return std::nullopt;
    }

    // What the file system of device (mounted, not a whole medium) tells of itself,
    // asked once until the table changes. make runs without the table's lock, so it
    // may look into the table.
    template <class Make>
    std::optional<VolumeInfo> volumeOf(dev_t device, Make make)
    {
        return remembered(m_volumes, device, make);
    }
    // With fresh false, the table as the last look left it: for a second question
    // about the same file.
    template <class Make>
    std::optional<std::string> serialOf(dev_t device, Make make, bool fresh = true)
    {
        return remembered(m_serials, device, make, fresh);
    }

private:
    void refresh()
    {
        if (m_fd < 0 || changed()) reload();
    }

    template <class T, class Make>
    T remembered(std::map<dev_t, T>& kept, dev_t device, Make make, bool fresh = true)
    {
        std::uint64_t seen = 0;
        {
            std::lock_guard lock(m_mutex);
            if (fresh || m_fd < 0) refresh();
            if (const auto it = kept.find(device); it != kept.end()) return it->second;
            seen = m_loads;
        }
        T found = make();
        std::lock_guard lock(m_mutex);
        // An answer from before a change of the table is not kept.
        if (m_loads == seen) kept.emplace(device, found);
        return found;
    }

    bool changed() const
    {
        pollfd watch{m_fd, POLLPRI, 0};
        return ::poll(&watch, 1, 0) != 0;  // a change, or an error: read it again
    }

    void reload()
    {
        m_entries.clear();
        m_volumes.clear();
        m_serials.clear();
        ++m_loads;
        if (m_fd < 0) m_fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        if (m_fd < 0 || ::lseek(m_fd, 0, SEEK_SET) != 0) return close();
        std::string text;
        char block[8192];
        for (;;) {
            const ssize_t n = ::read(m_fd, block, sizeof block);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return close();
            if (n == 0) break;
            text.append(block, static_cast<std::size_t>(n));
        }
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            if (std::optional<MountEntry> entry = parseMountInfoLine(line)) {
                m_entries.push_back(std::move(*entry));
            }
        }
    }

    // Without the file nothing is known, and the next look tries again.
    void close()
    {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
        m_entries.clear();
    }

    std::mutex m_mutex;
    int m_fd = -1;
    std::vector<MountEntry> m_entries;
    std::uint64_t m_loads = 0;  // how often the table was read
    std::map<dev_t, std::optional<VolumeInfo>> m_volumes;
    std::map<dev_t, std::optional<std::string>> m_serials;
};

MountTable& mountTable()
{
    static MountTable table;
    return table;
}

std::optional<MountEntry> mountOf(dev_t device)
{
    return mountTable().entryOf(device);
}

std::optional<std::uint32_t> readSysfsNumber(const std::string& path)
{
    std::ifstream in(path);
    std::uint64_t value = 0;
    if (in >> value) return static_cast<std::uint32_t>(value);
    return std::nullopt;
}

// A sysfs attribute of a block device, looked up on the device and, for a
// partition, on the whole disk above it.
std::optional<std::uint32_t> blockAttribute(dev_t device, const std::string& attribute)
{
    const std::string base = "/sys/dev/block/" + std::to_string(major(device)) + ":" +
                             std::to_string(minor(device));
    if (auto v = readSysfsNumber(base + "/" + attribute)) return v;
    return readSysfsNumber(base + "/../" + attribute);
}

// An optical drive's block devices: SCSI CD-ROM (sr), the only kind still made.
constexpr unsigned kCdRomMajor = 11;

DriveType driveTypeOf(dev_t device, bool wholeDevice)
{
    const auto mount = mountOf(device);
    if (!mount && wholeDevice) {
        // A device read as a whole medium is seldom mounted: its own kind tells.
        if (major(device) == kCdRomMajor) return DriveType::CdRom;
        return blockAttribute(device, "removable").value_or(0) == 1 ? DriveType::Removable
                                                                    : DriveType::Fixed;
    }
    if (!mount) return DriveType::Unknown;
    const std::string& type = mount->fsType;
    if (type == "iso9660" || type == "udf") return DriveType::CdRom;
    if (type.starts_with("nfs") || type == "cifs" || type == "smb3" || type == "smbfs" ||
        type == "fuse.sshfs" || type == "9p") {
        return DriveType::Remote;
    }
    if (type == "tmpfs" || type == "ramfs") return DriveType::RamDisk;
    if (major(device) != 0 && blockAttribute(device, "removable").value_or(0) == 1) {
        return DriveType::Removable;
    }
    return DriveType::Fixed;
}

std::uint32_t sectorSizeOf(const std::string& path, const struct stat& st)
{
    if (S_ISBLK(st.st_mode)) {
        const int fd = openRetrying(path, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            int size = 0;
            const int r = ::ioctl(fd, BLKSSZGET, &size);
            ::close(fd);
            if (r == 0 && size > 0) return static_cast<std::uint32_t>(size);
        }
    }
#ifdef STATX_DIOALIGN
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_DIOALIGN, &sx) == 0 &&
        (sx.stx_mask & STATX_DIOALIGN) && sx.stx_dio_offset_align > 0) {
        return sx.stx_dio_offset_align;
    }
#endif
    if (major(st.st_dev) != 0) {
        if (auto size = blockAttribute(st.st_dev, "queue/logical_block_size"); size && *size > 0) {
            return *size;
        }
    }
    return 512;
}

// What volumeInfo tells of path, whose stat is st.
std::optional<VolumeInfo> volumeOf(const std::string& path, const struct stat& st)
{
    const auto look = [&] {
        VolumeInfo info;
        info.bytesPerSector = sectorSizeOf(path, st);
        const bool wholeDevice = S_ISBLK(st.st_mode);
        info.driveType = driveTypeOf(wholeDevice ? st.st_rdev : st.st_dev, wholeDevice);
        return std::optional<VolumeInfo>(info);
    };
    // A whole medium can be swapped in its drive without a change of the mount table.
    return S_ISBLK(st.st_mode) ? look() : mountTable().volumeOf(st.st_dev, look);
}

// What volumeSerial tells of the file or device whose stat is st; with fresh false,
// right after volumeOf of the same file, from the mount table as that found it.
std::optional<std::string> serialOf(const struct stat& st, bool fresh = true)
{
    // udev names each medium's device after its serial (by-id) and each file system after
    // its UUID (by-uuid); the name whose link leads to the device is the answer.
    const bool device = S_ISBLK(st.st_mode);
    const dev_t wanted = device ? st.st_rdev : st.st_dev;
    const auto look = [&] {
        const char* folder = device ? "/dev/disk/by-id" : "/dev/disk/by-uuid";
        std::error_code error;
        std::optional<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            struct stat target {};
            const std::string name = entry.path().filename().string();
            if (::stat(entry.path().c_str(), &target) == 0 && S_ISBLK(target.st_mode) &&
                target.st_rdev == wanted && (!found || name < *found)) {
                found = name;
            }
        }
        return found;
    };
    // A medium swapped in its drive keeps the device's number, but a file system on it
    // is mounted anew.
    return device ? look() : mountTable().serialOf(wanted, look, fresh);
}

}  // namespace

bool usesDirectIo(const File& file)
{
    const auto* posix = dynamic_cast<const PosixFile*>(&file);
    return posix != nullptr && posix->direct();
}

std::unique_ptr<File> PosixFileSystem::openUnbuffered(const std::string& path, SysError* error)
{
    int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = -1;
    bool direct = false;
    if (!m_options.refuseDirectIo) {
        fd = openRetrying(path, flags | O_DIRECT);
        direct = fd >= 0;
    }
    if (fd < 0 && (m_options.refuseDirectIo || errno == EINVAL)) fd = openRetrying(path, flags);
    if (direct) flags |= O_DIRECT;
    struct stat st {};
    // A source may be a whole medium, so a block device is one too.
    const SysError why = fd < 0 ? errno : keepOnlyFiles(fd, flags, true, &st);
    if (error) *error = why;
    if (why != 0) return nullptr;
    if (!direct) ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    return std::make_unique<PosixFile>(fd, st, direct, !direct);
}

std::unique_ptr<File> PosixFileSystem::open(const std::string& path, Disposition disposition,
                                            Access access, SysError* error)
{
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    switch (access) {
        case Access::Read: flags |= O_RDONLY; break;
        case Access::Write: flags |= O_WRONLY; break;
        case Access::ReadWrite: flags |= O_RDWR; break;
    }
    switch (disposition) {
        case Disposition::OpenExisting: break;
        case Disposition::CreateNew: flags = (flags & ~O_NONBLOCK) | O_CREAT | O_EXCL; break;
        case Disposition::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
        case Disposition::OpenAlways: flags |= O_CREAT; break;
    }
    // A link at a copy's, a log's or a transfer file's place would carry the write
    // to its target; sources and logs that are only read may be links.
    if (access != Access::Read || disposition != Disposition::OpenExisting) flags |= O_NOFOLLOW;
    const int fd = openRetrying(path, flags);
    struct stat st {};
    const SysError why = fd < 0 ? errno : keepOnlyFiles(fd, flags, false, &st);
    if (error) *error = why;
    if (why != 0) return nullptr;
    return std::make_unique<PosixFile>(fd, st, false, false);
}

bool PosixFileSystem::exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool PosixFileSystem::isDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixFileSystem::isSymlink(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool PosixFileSystem::createDirectory(const std::string& path)
{
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool PosixFileSystem::removeFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

bool PosixFileSystem::rename(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    const std::size_t slash = to.find_last_of('/');
    syncFolder(slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash));
    return true;
}

bool PosixFileSystem::syncFolder(const std::string& path)
{
    const int fd = openRetrying(path.empty() ? "." : path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = syncFolderAt(fd);
    ::close(fd);
    return synced;
}

std::unique_ptr<HeldFolder> PosixFileSystem::openFolder(const std::string& path)
{
    const int fd = openRetrying(path.empty() ? "." : path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0) return std::make_unique<PosixFolder>(fd, st);
    if (fd >= 0) ::close(fd);
    return nullptr;
}

std::optional<std::uint64_t> PosixFileSystem::freeSpace(const std::string& path)
{
    struct statvfs vfs {};
    if (::statvfs(path.c_str(), &vfs) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

std::optional<VolumeInfo> PosixFileSystem::volumeInfo(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return volumeOf(path, st);
}

std::optional<SourcePlace> PosixFileSystem::sourcePlace(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    const std::optional<VolumeInfo> volume = volumeOf(path, st);
    if (!volume) return std::nullopt;
    return SourcePlace{*volume, S_ISBLK(st.st_mode), serialOf(st, false)};
}

std::optional<FileIdentity> PosixFileSystem::identity(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return identityOf(st);
}

namespace {

// Closes a folder stream when the listing ends, however it ends.
struct FolderStream
{
    DIR* dir = nullptr;
    ~FolderStream()
    {
        if (dir) ::closedir(dir);
    }
};

FolderEntry entryOf(int folderFd, const dirent& found)
{
    FolderEntry entry;
    entry.name = found.d_name;
    entry.link = found.d_type == DT_LNK;
    struct stat st {};
    if (found.d_type == DT_DIR) {
        entry.kind = EntryKind::Folder;
    } else if (::fstatat(folderFd, found.d_name, &st, 0) == 0) {
        // DT_UNKNOWN (some file systems give no type) is settled here as well.
        if (found.d_type == DT_UNKNOWN) {
            struct stat own {};
            entry.link = ::fstatat(folderFd, found.d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 &&
                         S_ISLNK(own.st_mode);
        }
        if (S_ISREG(st.st_mode)) {
            entry.kind = EntryKind::File;
            entry.size = static_cast<std::uint64_t>(st.st_size);
        } else if (S_ISDIR(st.st_mode)) {
            entry.kind = EntryKind::Folder;
        }
    }
    return entry;
}

}  // namespace

bool PosixFileSystem::listFolder(const std::string& path, std::vector<FolderEntry>* entries)
{
    entries->clear();
    FolderStream stream{::opendir(path.c_str())};
    if (!stream.dir) return false;
    const int fd = ::dirfd(stream.dir);
    for (;;) {
        errno = 0;
        const dirent* found = ::readdir(stream.dir);
        if (!found) return errno == 0;
        const std::string_view name = found->d_name;
        if (name == "." || name == "..") continue;
        entries->push_back(entryOf(fd, *found));
    }
}

namespace {

// A block device's size in bytes: sysfs counts it in 512-byte units whatever the
// device's sectors, and needs no access to the device; the device's own answer is
// the fallback.
std::optional<std::uint64_t> blockDeviceSize(const std::string& path, dev_t device)
{
    std::ifstream in("/sys/dev/block/" + std::to_string(major(device)) + ":" +
                     std::to_string(minor(device)) + "/size");
    std::uint64_t units = 0;
    if (in >> units) return units * 512;
    const int fd = openRetrying(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::uint64_t bytes = 0;
    const int r = ::ioctl(fd, BLKGETSIZE64, &bytes);
    ::close(fd);
    if (r != 0) return std::nullopt;
    return bytes;
}

}  // namespace

std::optional<std::uint64_t> PosixFileSystem::fileSize(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    if (S_ISBLK(st.st_mode)) return blockDeviceSize(path, st.st_rdev);
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

bool PosixFileSystem::isBlockDevice(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

std::optional<std::uint64_t> PosixFileSystem::maxFileSize(const std::string& path)
{
    struct statfs sf {};
    int r;
    do {
        r = ::statfs(path.c_str(), &sf);
    } while (r != 0 && errno == EINTR);
    if (r != 0) return std::nullopt;
    // FAT keeps a file's size in 32 bits. pathconf(_PC_FILESIZEBITS) does not help:
    // the C library answers 32 for every file system it does not know (tmpfs, FUSE),
    // which would refuse what those hold, and 32 for FAT, which is half its limit.
    // exFAT, NTFS and the other FUSE drivers hold files far larger than any medium.
    constexpr std::uint64_t kFatLimit = 0xFFFFFFFF;
    if (sf.f_type == MSDOS_SUPER_MAGIC) return kFatLimit;
    // A FUSE driver of FAT has FUSE's magic: its mount's type tells.
    struct stat st {};
    if (sf.f_type == FUSE_SUPER_MAGIC && ::stat(path.c_str(), &st) == 0) {
        const std::optional<MountEntry> mount = mountOf(st.st_dev);
        if (mount && isFatMount(*mount)) return kFatLimit;
    }
    return std::nullopt;
}

std::optional<std::string> PosixFileSystem::volumeSerial(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return serialOf(st);
}

std::optional<std::string> PosixFileSystem::canonicalPath(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
    if (ec) return std::nullopt;
    return resolved.string();
}

std::string absolutePath(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

bool isNotReady(SysError error)
{
    return error == ENOMEDIUM || error == ENODEV || error == ENXIO || error == ENOTCONN;
}

bool isAccessDenied(SysError error)
{
    return error == EACCES || error == EPERM;
}

bool isNameTooLong(SysError error)
{
    return error == ENAMETOOLONG;
}

bool isLinkInWay(SysError error)
{
    return error == ELOOP;
}

FileSystem& systemFileSystem()
{
    static PosixFileSystem instance;
    return instance;
}

std::string volumeRoot(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path current = fs::absolute(fs::path(path), ec).lexically_normal();
    if (ec) return "/";
    struct stat st {};
    // Start from the nearest part of the path that exists.
    while (::stat(current.c_str(), &st) != 0) {
        if (!current.has_parent_path() || current.parent_path() == current) return "/";
        current = current.parent_path();
    }
    const dev_t device = st.st_dev;
    while (current.has_parent_path() && current.parent_path() != current) {
        struct stat up {};
        if (::stat(current.parent_path().c_str(), &up) != 0 || up.st_dev != device) break;
        current = current.parent_path();
    }
    std::string root = current.string();
    if (root.empty() || root.back() != '/') root += '/';
    return root;
}

}  // namespace tessaly
