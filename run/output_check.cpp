#include "run/output_check.h"

#include <cerrno>

#include "run/copy_list.h"
#include "texts/text_ids.h"

namespace tessaly {

namespace {

// A file can be made in folder: tried for real, as permissions, access lists and a
// file system mounted read-only all decide it.
bool canCreateIn(FileSystem& fs, const std::string& folder)
{
    const std::string probe =
        folder + (folder.empty() || folder.back() != '/' ? "/" : "") + kOutputProbeName;
    SysError error = 0;
    if (!fs.open(probe, Disposition::CreateNew, Access::Write, &error)) {
        // Left behind by a run that was killed: the folder took it then.
        return error == EEXIST && fs.removeFile(probe);
    }
    return fs.removeFile(probe);
}

}  // namespace

OutputProblem checkOutputFolder(FileSystem& fs, const std::string& outputFolder,
                                const std::vector<std::string>& sourceFolders)
{
    if (outputFolder.empty() || !fs.isDirectory(outputFolder)) return OutputProblem::Missing;
    // Before the probe: nothing is written onto the medium the files come from.
    const std::string resolved = excludedOutputFolder(fs, outputFolder);
    for (const std::string& folder : sourceFolders) {
        if (isAtOrBelow(resolved, folder)) return OutputProblem::InsideSource;
    }
    if (!canCreateIn(fs, outputFolder)) return OutputProblem::NotWritable;
    const std::optional<std::uint64_t> free = fs.freeSpace(outputFolder);
    if (free && *free < kOutputRoom) return OutputProblem::NoRoom;
    return OutputProblem::None;
}

RunMessage outputProblemMessage(OutputProblem problem, const std::string& shownFolder)
{
    int why = text::kOutputMissing;
    switch (problem) {
        case OutputProblem::None:
        case OutputProblem::Missing:
            break;
        case OutputProblem::NotWritable:
            why = text::kOutputNotWritable;
            break;
        case OutputProblem::InsideSource:
            why = text::kOutputInsideSource;
            break;
        case OutputProblem::NoRoom:
            why = text::kOutputNoRoom;
            break;
    }
    return {text::kOutputFolderWord, shownFolder, why, -1};
}

}  // namespace tessaly
