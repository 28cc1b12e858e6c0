#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tessaly {

// State of a list entry; stored as these numbers.
enum class EntryState : std::int32_t
{
    Done = 0,
    Unfinished = 1,
    InProgress = 2,
    Fresh = 3
};

// The icon numbers of the list's lines.
enum class EntryIcon : int
{
    Waiting = 0,      // not copied yet
    Copying = 1,      // the line being copied
    Copied = 2,       // the copy is whole
    Interrupted = 3,  // stopped or the medium went away: the line stays the next to copy
    Failed = 4,       // failed or refused: the run went on with the next line
    Damaged = 5,      // the copy reached its end, but holds parts that could not be read
};
inline constexpr int kEntryIconCount = 6;

// One file of the copy list.
struct FileEntry
{
    // Base folder of the operation that added the entry, shared by all its entries;
    // empty for files added one by one, which are copied straight into the output folder.
    std::shared_ptr<const std::string> baseFolder;
    std::string name;  // full path of the source
    std::uint64_t size = 0;
    EntryState state = EntryState::Fresh;
    // The folder the window's scan listed it from, resolved and shared by its entries;
    // null for a file added by itself. The run's output folder must not lie in it.
    std::shared_ptr<const std::string> scannedFolder = nullptr;

    const std::string& base() const
    {
        static const std::string kNone;
        return baseFolder ? *baseFolder : kNone;
    }
};

}  // namespace tessaly
