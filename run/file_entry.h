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

// One file of the copy list.
struct FileEntry
{
    // Base folder of the operation that added the entry, shared by all its entries;
    // empty for files added one by one, which are copied straight into the output folder.
    std::shared_ptr<const std::string> baseFolder;
    std::string name;  // full path of the source
    std::uint64_t size = 0;
    std::uint64_t unread = 0;  // 0 when made; the run leaves it alone
    EntryState state = EntryState::Fresh;

    const std::string& base() const
    {
        static const std::string kNone;
        return baseFolder ? *baseFolder : kNone;
    }
};

}  // namespace tessaly
