#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tessaly::testing {

// An in-memory FileSystem whose faults are scripted, so that engine and job tests
// are exact. Paths are plain strings compared byte for byte ("/src/a.bin"); the
// folder "/" always exists and adding a file creates its folders.
//
// Unbuffered reads behave as with O_DIRECT: they must start on a multiple of the
// volume's sector size and ask for whole sectors, else they fail with EINVAL.
//
// Faults:
//   - bad ranges: every read that overlaps one fails with EIO and returns nothing;
//   - weak ranges: the first k reads that overlap one fail with EIO, later ones work;
//   - removal: once removed (on command, or when a read would pass the byte budget
//     of setRemovalAfter), opens and reads of paths on the removable medium (by
//     default every path) fail with ENOMEDIUM; writes to open files still work;
//   - write limits and short writes, set by path (they hold for files created later);
//   - quota: the files together may not grow past it; writes beyond fail with
//     ENOSPC (a write that partly fits writes what fits) and freeSpace answers
//     what is left.
// Open files take exclusive locks as the system's do: one holder per file, until
// it is closed.
//
// Power loss (trackDurability): from then on a file's bytes reach the medium only when
// the file is synced, and the names created, renamed or removed in a folder only when
// the folder is (a rename syncs its folder, as the system's does); losePower brings back what was on the medium at a chosen sync point,
// as a power loss right after it would leave the files.
//
// Symbolic links (addSymlink) behave as the system's: the folders of a path are
// followed; the last level is followed by reads, by the queries (exists, identity,
// fileSize, ...) and by an open to read an existing file, and an open that creates
// or writes fails there with ELOOP (EEXIST for CreateNew).
// Thread-safe: a test may remove the medium while an engine's worker reads.
class ScriptedMedium : public FileSystem
{
public:
    ScriptedMedium();
    ~ScriptedMedium() override;

    // --- content ---
    void addFile(const std::string& path, std::vector<std::uint8_t> bytes);
    void addFile(const std::string& path, const std::string& bytes);
    // A file that reports size bytes and reads as zeros without holding them. Files
    // keep in memory only the pages written with other bytes than zeros.
    void addSparseFile(const std::string& path, std::uint64_t size);
    // Writes bytes into the file at path at offset, growing it when they pass its end.
    void writeAt(const std::string& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
    void addFolder(const std::string& path);
    bool hasFile(const std::string& path) const;
    // The bytes of a file; empty when there is none.
    std::vector<std::uint8_t> contents(const std::string& path) const;
    // length bytes of the file from offset on, fewer at its end.
    std::vector<std::uint8_t> contents(const std::string& path, std::uint64_t offset,
                                       std::uint64_t length) const;
    std::string text(const std::string& path) const;
    // Makes the file at path a block device (a whole medium): it opens unbuffered as
    // a file does, but a buffered open fails with EINVAL and listings show it as Other.
    void markBlockDevice(const std::string& path);
    // Makes linkPath name the same file as path (same identity, same bytes).
    void addLink(const std::string& linkPath, const std::string& path);
    // A symbolic link at linkPath that leads to target (a file, a folder, or nothing).
    void addSymlink(const std::string& linkPath, const std::string& target);
    // Paths name the same file or folder whatever the case of their ASCII letters,
    // as on FAT, exFAT and NTFS; listings keep the spelling a name was made with.
    // Set before anything is added.
    void setFoldCase(bool fold);

    // --- folder listings ---
    // Listings of folder name these entries first, in this order; the rest follow
    // sorted by name (the order of every other listing).
    void setListingOrder(const std::string& folder, std::vector<std::string> names);
    // Listing this folder fails with EACCES.
    void failListing(const std::string& folder);
    // An entry that only listings show: a pipe or device (kind Other), or a link
    // to a folder (kind Folder, link set).
    void addListedEntry(const std::string& path, EntryKind kind, bool link);

    // --- damage ---
    void markBad(const std::string& path, std::uint64_t offset, std::uint64_t length);
    void markWeak(const std::string& path, std::uint64_t offset, std::uint64_t length,
                  int failures);
    // Limits removal to the paths that start with prefix (default "/": all).
    void setRemovableMedium(const std::string& prefix);
    void removeMedium();
    void insertMedium();
    // Reads from the removable medium may serve this many more bytes; the read
    // that would pass the budget finds the medium removed.
    void setRemovalAfter(std::uint64_t bytes);
    // Opens of this path (unbuffered or not) fail with EACCES.
    void failOpen(const std::string& path);
    // Read calls that reached this file, failed ones too.
    int readCount(const std::string& path) const;
    // Sync calls through any handle of the file at path.
    int syncCount(const std::string& path) const;
    // Read calls that failed on a bad or weak range.
    int failedReadCount(const std::string& path) const;
    // Offsets of those read calls, in order.
    std::vector<std::uint64_t> readOffsets(const std::string& path) const;
    // Runs hook before each rename, with both paths, outside the medium's lock, so
    // that a test can take the files as a crash at that moment would leave them.
    void setRenameHook(std::function<void(const std::string& from, const std::string& to)> hook);
    // Runs hook before each read of the file at path, with the read's offset, outside
    // the medium's lock: a test can hold a read as a drive that does not answer would.
    void setReadHook(const std::string& path, std::function<void(std::uint64_t offset)> hook);
    // Runs hook before each write to the file at path, with the write's offset,
    // outside the medium's lock.
    void setWriteHook(const std::string& path, std::function<void(std::uint64_t offset)> hook);

    // The modification time that an open handle of the file reports (default 0: unknown).
    void setModified(const std::string& path, std::uint64_t ns);
    // The serial of the medium of every path that starts with prefix (the longest prefix
    // wins); nullopt, the default, leaves it unknown.
    void setVolumeSerial(const std::string& prefix, std::optional<std::string> serial);

    // --- power loss ---
    // What is there now counts as on the medium; what the code under test writes from
    // now on reaches it only through syncs. Files the test adds or writes later count
    // as on the medium at once.
    void trackDurability();
    // The syncs (of files and of folders) since trackDurability.
    int syncPoints() const;
    // losePower will bring back what was on the medium right after sync point n (0:
    // when tracking began).
    void setPowerLossAfter(int n);
    // The power is lost: every file and name is as it was on the medium after the sync
    // point setPowerLossAfter chose (by default: now), and no lock is held. Open files
    // must be closed first.
    void losePower();
    // Syncs of files whose path starts with prefix, and of such folders, fail with EIO.
    void failSyncs(const std::string& prefix);

    // --- writes and volumes ---
    // The file at path (now or once created) accepts bytes more written bytes,
    // then its writes fail with EIO.
    void setWriteLimit(const std::string& path, std::uint64_t bytes);
    // Each write call to the file at path moves at most maxPerCall bytes.
    void setShortWrites(const std::string& path, std::size_t maxPerCall);
    void setQuota(std::uint64_t bytes);
    void setFreeSpaceUnknown(bool unknown);
    // Volume of every path that starts with prefix (the longest prefix wins);
    // nullopt makes the query fail. Default: 512-byte sectors, fixed drive.
    void setVolume(const std::string& prefix, std::optional<VolumeInfo> volume);
    // The largest file that the volume of every path starting with prefix holds (the
    // longest prefix wins); nullopt: no limit, the default. Only reported by
    // maxFileSize: writes past it are not refused.
    void setMaxFileSize(const std::string& prefix, std::optional<std::uint64_t> bytes);

    // --- FileSystem ---
    std::unique_ptr<File> openUnbuffered(const std::string& path, SysError* error) override;
    std::unique_ptr<File> open(const std::string& path, Disposition disposition, Access access,
                               SysError* error) override;
    bool exists(const std::string& path) override;
    bool isDirectory(const std::string& path) override;
    bool isSymlink(const std::string& path) override;
    bool createDirectory(const std::string& path) override;
    bool removeFile(const std::string& path) override;
    bool rename(const std::string& from, const std::string& to) override;
    bool syncFolder(const std::string& path) override;
    // A folder is held by the path it resolved to when it was opened.
    std::unique_ptr<HeldFolder> openFolder(const std::string& path) override;
    std::optional<std::uint64_t> freeSpace(const std::string& path) override;
    std::optional<VolumeInfo> volumeInfo(const std::string& path) override;
    std::optional<FileIdentity> identity(const std::string& path) override;
    bool listFolder(const std::string& path, std::vector<FolderEntry>* entries) override;
    std::optional<std::uint64_t> fileSize(const std::string& path) override;
    bool isBlockDevice(const std::string& path) override;
    std::optional<std::uint64_t> maxFileSize(const std::string& path) override;
    std::optional<std::string> canonicalPath(const std::string& path) override;
    std::optional<std::string> volumeSerial(const std::string& path) override;

    struct Node;
    struct State;

private:
    std::shared_ptr<State> m_state;
};

}  // namespace tessaly::testing
