#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "run/failure_message.h"

namespace tessaly {

// Why an output folder cannot take a run's copies.
enum class OutputProblem : std::int32_t
{
    None = 0,
    Missing = 1,       // no folder at that path
    NotWritable = 2,   // a file cannot be created in it
    InsideSource = 3,  // it is a folder being copied, or lies below one (found before a
                       // file is tried in it)
    NoRoom = 4,        // its file system has no room left, not even for a copy log
};

// The name of the empty file the check creates in the output folder and removes again.
inline constexpr const char* kOutputProbeName = ".tessaly-write-check";
// The free space a run needs before its first copy: one block for a log.
inline constexpr std::uint64_t kOutputRoom = 4096;

// Checks once, before a run, that outputFolder can take its copies: it exists, it lies in
// none of sourceFolders (the folders the list was scanned from, resolved), a file can be
// created in it, and its file system has kOutputRoom bytes free (unknown free space
// passes: each file's own check says so). The first problem found, in that order.
OutputProblem checkOutputFolder(FileSystem& fs, const std::string& outputFolder,
                                const std::vector<std::string>& sourceFolders);

// The message for a problem other than None, naming the folder as shownFolder gives it.
RunMessage outputProblemMessage(OutputProblem problem, const std::string& shownFolder);

}  // namespace tessaly
