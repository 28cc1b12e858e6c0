#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessaly {

// errno value of a failed operation; 0 means no error.
using SysError = int;

enum class Whence
{
    Begin = 0,
    Current = 1,
    End = 2
};

enum class Disposition
{
    OpenExisting,  // fails when the file does not exist
    CreateNew,     // fails when the file exists
    CreateAlways,  // creates or empties the file
    OpenAlways     // opens, or creates when missing; never truncates
};

enum class Access
{
    Read,
    Write,
    ReadWrite
};

// Windows drive types, kept as numbers because the copy loop and the profile rely on them.
enum class DriveType : std::int32_t
{
    Unknown = 0,
    NoRoot = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6
};

struct VolumeInfo
{
    std::uint32_t bytesPerSector = 512;
    DriveType driveType = DriveType::Unknown;
};

// What a copy needs to know of its source's place: the volume, whether the source is a
// whole device (its copy is an image), and what tells its medium from another one.
struct SourcePlace
{
    VolumeInfo volume;
    bool wholeDevice = false;
    std::optional<std::string> serial;
};

// Identifies a file independently of the path that reached it.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// What a folder listing names, links followed: a regular file, a folder, or
// anything else (pipes, sockets, devices, links that lead nowhere).
enum class EntryKind : std::int32_t
{
    File = 0,
    Folder = 1,
    Other = 2
};

// One entry of a folder listing.
struct FolderEntry
{
    std::string name;  // without the folder
    EntryKind kind = EntryKind::Other;
    bool link = false;       // the entry itself is a symbolic link
    std::uint64_t size = 0;  // of a file, in bytes; 0 for the rest
};

// Result of one read or write: the bytes moved, and the reason when none were.
struct IoResult
{
    std::size_t bytes = 0;
    SysError error = 0;  // nonzero only when bytes is 0 and the call failed
};

// One open file with its own file pointer. EINTR and short transfers are handled
// inside: a read returns fewer bytes than asked only at the end of the file or when
// the medium failed after some bytes had arrived. A failed call leaves the pointer
// where it was, so the caller can try the same place again.
class File
{
public:
    virtual ~File() = default;

    // Reads up to n bytes at the file pointer and advances it by the bytes read.
    // {0, 0} at the end of the file; {0, errno} on failure.
    virtual IoResult read(void* buffer, std::size_t n) = 0;
    // Writes n bytes at the file pointer; {0, errno} when nothing could be written.
    virtual IoResult write(const void* buffer, std::size_t n) = 0;
    // New offset from the start, or -1 when it would be negative or the call failed.
    virtual std::int64_t seek(std::int64_t distance, Whence whence) = 0;
    virtual std::int64_t offset() const = 0;
    // Size in bytes, or -1 on failure.
    virtual std::int64_t size() = 0;
    // Sets the end of the file at length; the pointer is left unchanged.
    virtual bool truncate(std::uint64_t length) = 0;
    virtual std::optional<FileIdentity> identity() = 0;
    // Takes an exclusive advisory lock on the file, held until this handle is closed
    // (or its process ends). False only when another handle holds one; a file
    // system without locks counts as locked, so that it can still be written.
    virtual bool tryLock() { return true; }
    // As tryLock, but true only when this handle now holds a lock that other handles
    // see: false also on a file system without locks, where a file's writer cannot be
    // told from no writer.
    virtual bool tryLockSeen() { return false; }
    // Puts the bytes written through this handle, and the file's size, on the medium
    // (the file's name is its folder's: see FileSystem::syncFolder); false when it failed.
    virtual bool sync() { return true; }
    // The last modification of a regular file in nanoseconds since 1970; 0 for anything
    // else, or when unknown.
    virtual std::uint64_t modifiedNs() { return 0; }
};

// A folder held open: its entries are put on the medium without finding it by its path
// again, so the folder synced is the one that was opened, wherever its path leads since.
class HeldFolder
{
public:
    virtual ~HeldFolder() = default;
    virtual FileIdentity identity() const = 0;
    // As FileSystem::syncFolder.
    virtual bool sync() = 0;
};

// Everything the engine and the companion tool need of files and volumes. The
// system implementation talks to POSIX; tests put a scripted medium in its place.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // Opens an existing file for reading past the system's cache, so that every
    // read reaches the medium. Only a regular file or a block device (a whole
    // medium) opens; nullptr on failure, with the reason in *error. Never waits
    // for another process (a named pipe fails at once).
    virtual std::unique_ptr<File> openUnbuffered(const std::string& path, SysError* error) = 0;
    // Opens or creates a regular file for ordinary buffered access; anything else
    // at path (a folder, a named pipe, a device) fails at once with nullptr. Only a
    // file opened to be read follows a symbolic link at path: one that is created or
    // written never does, the open fails with ELOOP (EEXIST for CreateNew) instead,
    // so that nothing outside the intended folder is changed through a link.
    virtual std::unique_ptr<File> open(const std::string& path, Disposition disposition,
                                       Access access, SysError* error) = 0;
    // True when something (file or folder) exists at path.
    virtual bool exists(const std::string& path) = 0;
    virtual bool isDirectory(const std::string& path) = 0;
    // True when path itself is a symbolic link, whether or not it leads anywhere;
    // the folders above it are followed.
    virtual bool isSymlink(const std::string& path) = 0;
    // Creates one folder level; false when it exists already or cannot be created.
    virtual bool createDirectory(const std::string& path) = 0;
    virtual bool removeFile(const std::string& path) = 0;
    // Gives the file at from the name to, replacing a file of that name in one step,
    // so that a reader finds either the old file or the new one whole. False when
    // the rename failed; nothing has changed then. The folder is synced after it (see
    // syncFolder), so that a power loss does not bring the old file back.
    virtual bool rename(const std::string& from, const std::string& to) = 0;
    // Puts the entries of the folder at path on the medium: the files created, renamed
    // or removed in it since; false when it failed.
    virtual bool syncFolder(const std::string& path) = 0;
    // Bytes free to this user on the volume that holds path; nullopt when unknown.
    virtual std::optional<std::uint64_t> freeSpace(const std::string& path) = 0;
    // Sector size and drive type of the volume that holds path; nullopt when unknown.
    virtual std::optional<VolumeInfo> volumeInfo(const std::string& path) = 0;
    virtual std::optional<FileIdentity> identity(const std::string& path) = 0;
    // The entries of folder in the order the file system returns them, without "."
    // and "..". False when the folder, or a part of it, could not be read; entries
    // then holds what was read.
    virtual bool listFolder(const std::string& path, std::vector<FolderEntry>* entries) = 0;
    // Size of the regular file or block device at path (links followed); nullopt for
    // anything else, and for a device whose size cannot be read.
    virtual std::optional<std::uint64_t> fileSize(const std::string& path) = 0;
    // True when path (links followed) is a block device: a whole medium or a part of
    // one, which a copy takes as a source like a file and stores as an image.
    virtual bool isBlockDevice(const std::string& path) = 0;
    // The largest file the file system that holds path can keep, in bytes; nullopt
    // when it sets no limit that matters here, or the limit is unknown.
    virtual std::optional<std::uint64_t> maxFileSize(const std::string& path) = 0;
    // The path with its links, "." and ".." resolved; nullopt when it does not exist.
    virtual std::optional<std::string> canonicalPath(const std::string& path) = 0;
    // What tells the medium of path from another one, where it is cheap to learn: the
    // serial of a device, the UUID of the file system that holds a file; nullopt when
    // unknown.
    virtual std::optional<std::string> volumeSerial(const std::string&) { return std::nullopt; }
    // volumeInfo, isBlockDevice and volumeSerial of path together, from one look where
    // the system allows; nullopt when volumeInfo gives none.
    virtual std::optional<SourcePlace> sourcePlace(const std::string& path)
    {
        const std::optional<VolumeInfo> volume = volumeInfo(path);
        if (!volume) return std::nullopt;
        return SourcePlace{*volume, isBlockDevice(path), volumeSerial(path)};
    }
    // Opens the folder at path to be synced through the handle; nullptr when it cannot be
    // opened, or the file system holds no folder open (then syncFolder serves).
    virtual std::unique_ptr<HeldFolder> openFolder(const std::string&) { return nullptr; }
};

// True for the errors that mean the medium is gone rather than a sector unreadable.
bool isNotReady(SysError error);
// True when an open was refused for want of permission (EACCES, EPERM).
bool isAccessDenied(SysError error);
// True when a name or path was refused for its length.
bool isNameTooLong(SysError error);
// True when an open that creates or writes found a symbolic link at the path.
bool isLinkInWay(SysError error);

// The process-wide file system of the running system.
FileSystem& systemFileSystem();

// path made absolute against the current folder, with "." and ".." levels
// resolved by name; path itself when the current folder is unknown.
std::string absolutePath(const std::string& path);

// The mount point of the volume that holds path (the folder where st_dev changes
// walking up), with a trailing separator; the path's root when nothing can be read.
std::string volumeRoot(const std::string& path);

}  // namespace tessaly
