#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "volume/region_set.h"

namespace tessaly {

// Times of a file as its file system keeps them, in seconds since 1970 UTC; 0 when the
// file system keeps none.
struct VolumeTimes
{
    std::int64_t modified = 0;
    std::int64_t accessed = 0;
    std::int64_t changed = 0;
    std::int64_t created = 0;
};

enum class RunKind : std::int32_t
{
    Data = 0,     // bytes of the volume, from volumeOffset on
    Zeros = 1,    // a hole the file system keeps no bytes for
    Unknown = 2,  // bytes the file system no longer says where to find: unreadable
    Library = 3,  // held inside metadata or compressed: read through the library
};

struct DataRun
{
    std::uint64_t fileOffset = 0;
    std::uint64_t length = 0;
    RunKind kind = RunKind::Unknown;
    std::uint64_t volumeOffset = 0;  // Data only
    bool operator==(const DataRun&) const = default;
};

// A file or folder as its file system describes it.
struct VolumeFileInfo
{
    std::uint64_t address = 0;  // metadata address in its file system
    EntryKind kind = EntryKind::Other;
    std::uint64_t size = 0;
    VolumeTimes times;
    std::vector<DataRun> runs;  // of a file or folder: [0, size) in order, without gaps
    // Reading its metadata met sectors read as zeros: its size and runs may be wrong.
    bool metadataDamaged = false;
    // Why its metadata cannot be taken at all (a size beyond the volume's); its kind is
    // then Other, so that nothing copies it or enters it. Empty when it can.
    std::string problem;
};

// One file system of a volume: the whole volume, or a partition of its table.
struct VolumePart
{
    std::string name;  // empty for the only file system; "p1", "p2", ... otherwise
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::string type;  // as the library names it: "fat12", "ext4", ...
};

struct FolderListing
{
    std::vector<std::pair<std::string, VolumeFileInfo>> entries;  // name, info
    // False when reading the folder met unreadable metadata, or some of its entries
    // could not be read: entries may be missing.
    bool complete = true;
    std::vector<std::string> unlisted;  // names of entries whose metadata cannot be read
};

// What a walk reports: every file and folder, and what could not be listed.
struct VolumeWalkSink
{
    std::function<void(const std::string& path, const VolumeFileInfo& info)> entry;
    std::function<void(const std::string& path, const std::string& reason)> notListed;
};

// The partitions and file systems of an image file or a device, read through the file
// system library over a VolumeReader. Thread safe: every call holds the volume's lock.
class Volume
{
public:
    ~Volume();
    Volume(const Volume&) = delete;
    Volume& operator=(const Volume&) = delete;

    // Opens path (an image file or a block device) with the regions its log lists as
    // unread. nullptr with the reason in *error when it cannot be read or holds no file
    // system the library knows.
    static std::unique_ptr<Volume> open(FileSystem& fs, const std::string& path,
                                        RegionSet unreadable, std::string* error);

    const std::vector<VolumePart>& parts() const;
    // Partitions whose file system could not be opened ("p2"), with the reason; and,
    // when the volume itself is one file system, nothing.
    const std::vector<std::pair<std::string, std::string>>& unopenedParts() const;
    std::uint64_t size() const;
    std::uint32_t sectorSize() const;
    const RegionSet& unreadable() const;
    // The metadata sectors read as zeros so far.
    RegionSet zeroedMetadata() const;

    // The file or folder at path inside part ("/" is its root); nullopt when it does
    // not exist or cannot be read.
    std::optional<VolumeFileInfo> lookup(std::size_t part, const std::string& path);
    // The entries of the folder at address, without "." and "..", deleted names and the
    // library's own virtual files; nullopt when the folder cannot be read at all.
    std::optional<FolderListing> listFolder(std::size_t part, std::uint64_t address);
    // Every file and folder below the root of part, depth first; prefix starts each
    // path. A folder is entered once, however often it is named (loops in a damaged
    // file system end there). Ends early when stop is raised. The sink is called with
    // the volume's lock held: it must not call the volume.
    void walk(std::size_t part, const std::string& prefix, const VolumeWalkSink& sink,
              const std::atomic<bool>& stop);

    // Reads a file's bytes at a volume offset (see VolumeReader::readData).
    IoResult readData(std::uint64_t offset, void* buffer, std::size_t len);
    // Reads bytes of the file at address through the library (data held inside
    // metadata, compressed data); {0, EIO} when that met sectors read as zeros.
    IoResult readThroughLibrary(std::size_t part, std::uint64_t address, std::uint64_t offset,
                                void* buffer, std::size_t len);

    // Bytes of a file that are not on the medium: its Data runs' bytes in the log's
    // regions, and its Unknown runs; all of it when its metadata is damaged.
    std::uint64_t unreadableBytes(const VolumeFileInfo& info) const;

    struct Impl;

private:
    explicit Volume(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m;
};

}  // namespace tessaly
