#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "volume/volume.h"

namespace tessaly {

// How a line of a volume's file list stands.
enum class ListedState : std::int32_t
{
    Whole = 0,        // every byte of the file lies on readable sectors
    Damaged = 1,      // some bytes lie in unreadable regions (or nowhere known)
    NotListed = 2,    // a folder or entry whose metadata could not be read: files may be missing
    Metadata = 3,     // a region of metadata sectors that was read as zeros
};

const char* listedStateName(ListedState state);

struct ListedFile
{
    std::string path;  // inside the volume, from "/" (with "/pN" first when it holds several)
    std::uint64_t size = 0;
    std::uint64_t unreadable = 0;  // bytes of the file not on readable sectors
    ListedState state = ListedState::Whole;
    std::int64_t modified = 0;  // seconds since 1970 UTC; 0 when unknown
    std::string note;           // why, for NotListed and Metadata lines
    bool operator==(const ListedFile&) const = default;
};

// Every file of every file system of the volume, in the order of a depth-first walk,
// then each folder or entry that could not be listed (and each partition whose file
// system could not be opened), then each region of metadata
// read as zeros. Ends early when stop is raised.
std::vector<ListedFile> listVolumeFiles(Volume& volume, const std::atomic<bool>& stop);

// The path inside the volume that a part's root has: "" or "/pN".
std::string partRoot(const VolumePart& part);

// The list as CSV: a header line, one line per entry, fields quoted where RFC 4180 asks,
// lines ended by CR LF, as the run's report.
std::string listedFilesCsv(const std::vector<ListedFile>& lines);

}  // namespace tessaly
