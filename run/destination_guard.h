#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/file_system.h"

namespace tessaly {

// Why a file may not be copied where the destination rule puts it.
enum class GuardVerdict : std::int32_t
{
    Clear = 0,
    SameFile = 1,         // the destination is the source itself (same device and inode)
    SameDestination = 2,  // an earlier file of the run has the same copy
    LogPlace = 3,         // the copy would lie where another copy's log belongs, or the reverse
};

// The checks before a file is handed to the engine, over the copies one run has
// made or begun. A copy log lies beside its copy under the copy's name with
// ".log" appended.
//
// Two names may reach one file: an output folder that ignores case (FAT, exFAT,
// NTFS, a casefolded folder) takes "Data.img" and "data.img" for the same copy.
// So besides the names, the guard keeps the identity (device and inode) of each
// copy the engine has opened, and of its log, and compares a later destination by
// what it reaches. Some file systems (FUSE drivers for FAT and exFAT) give every
// spelling of a name its own inode number; there a destination that exists although
// its folder lists no entry of exactly its name was reached under another spelling,
// and is compared with the claimed names that differ from it in case only (Unicode
// simple case folding: "Ärger.txt" and "ärger.txt" as "Data" and "data").
class DestinationGuard
{
public:
    explicit DestinationGuard(FileSystem& fs) : m_fs(fs) {}

    // Checks the copy of source at destination and, when it is clear, claims the
    // destination for the run.
    GuardVerdict admit(const std::string& source, const std::string& destination);
    // Notes the files that the engine holds open as the copy at destination and as its
    // log (nullopt for one it does not hold), once it has started an admitted file.
    void noteOpened(const std::string& destination, const std::optional<FileIdentity>& copy,
                    const std::optional<FileIdentity>& log);
    // Forgets the claimed destinations: a new run begins.
    void reset();
    // How the file at a path was claimed: as a copy, or as a copy's log.
    enum class Claim
    {
        None,
        Copy,
        Log
    };

private:
    using Key = std::pair<std::uint64_t, std::uint64_t>;  // device, inode
    using Noted = std::map<Key, std::string>;             // the path each was noted at

    // True when target is a file noted in noted that still stands where it was
    // noted: an inode number is given anew once its file has gone (a log deleted at
    // the end of a clean copy).
    bool isNoted(const Noted& noted, const std::optional<FileIdentity>& target);
    // How the file at path was claimed under a spelling that differs from path in
    // case only, on a file system that reached it under path's spelling.
    // folded is foldCase(path).
    Claim claimedUnderOtherCase(const std::string& path, const std::string& folded);
    // True when the folder of path lists an entry of exactly path's name.
    bool listedAsNamed(const std::string& path);

    FileSystem& m_fs;
    std::unordered_set<std::string> m_claimed;
    Noted m_copies;
    Noted m_logs;
    // Claimed copies and their logs by their paths case-folded (foldCase).
    std::unordered_map<std::string, std::pair<std::string, Claim>> m_folded;
};

}  // namespace tessaly
