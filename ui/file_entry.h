#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tessaly {

// The state of one line of the copier's list; the values are those the list sorts by.
enum class EntryState : std::int32_t { Done = 0, Unfinished = 1, InProgress = 2, Fresh = 3 };

// The record behind one line of the copier's list: which file, from which Add
// operation (the base folder below which its copy keeps its relative folder), its size
// when it was added, and how far the run got with it.
struct FileEntry
{
    std::shared_ptr<const std::string> baseFolder;
    std::string name;  // the source path
    std::uint64_t size = 0;
    EntryState state = EntryState::Fresh;
};

}  // namespace tessaly
