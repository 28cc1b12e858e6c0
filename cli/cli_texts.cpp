#include "cli/cli_texts.h"

#include "platform/program_folder.h"

namespace tessaly::cli {

CliTexts CliTexts::fromProgramFolder()
{
    const std::filesystem::path folder = programFolder();
    if (folder.empty()) return CliTexts();
    LanguageTable table;
    if (!table.loadLanguage(folder, "english.lng")) return CliTexts();
    return CliTexts(table.snapshot());
}

std::string CliTexts::text(int id) const
{
    if (m_texts && id >= 0 && static_cast<std::size_t>(id) < m_texts->texts.size() &&
        !m_texts->texts[id].empty()) {
        return m_texts->texts[id];
    }
    return builtIn(id);
}

const char* CliTexts::builtIn(int id)
{
    switch (id) {
        case text::kCopyInUse:
            return "The chosen file is already in use as a copy of this file.";
        case text::kChooseAnotherCopy:
            return "Do you want to choose another copy of the file?";
        case text::kFileWord:
            return "File";
        case text::kSectorsUnreadable:
            return "Some sectors of this file cannot be read. Do you want to choose another copy "
                   "of the file to read them from?";
        case text::kLogMissing:
            return "The log file that is needed to continue this copy does not exist. Continue "
                   "without it?";
        case text::kCannotOpen:
            return "cannot be opened.";
        case text::kProblemWithCopy:
            return "The problem is with its copy in the output directory.";
        case text::kCannotCreate:
            return "Cannot create the file";
        case text::kCheckFolder:
            return "Check that the folder exists, that you may write to it and that the disk has "
                   "free space.";
        case text::kProblemWithLog:
            return "The problem is with the log file of its copy.";
        case text::kNoFreeSpace:
            return "Not enough free space in the output directory to copy";
        case text::kWriteFailed:
            return "Writing failed.";
        case text::kDestinationExists:
            return "The destination file already exists. Continue with it as the settings for "
                   "existing files say?";
        case text::kFreeSpaceUnknown:
            return "The free space of the output disk cannot be determined.";
        case text::kWorkerStartFailed:
            return "The copy thread could not be started.";
        case text::kDestinationInUse:
            return "The copy or its log is in use by another copy run; this file is skipped.";
        case text::kDestinationTooSmall:
            return "is too large for the file system of the output folder, which cannot hold a "
                   "file of this size (FAT: at most 4 GiB - 1 byte per file). Choose an output "
                   "folder on another file system (exFAT, NTFS, ext4).";
        case text::kLogNotUpdated:
            return "The log of its copy could not be updated after its unread areas were read "
                   "again (is the output disk full, or did writing fail?). The log as it was "
                   "still lists every area it listed, and the figures shown are its own; copy "
                   "the file again to read those areas once more.";
        case text::kDeviceAccess:
            return "Access to the device was denied: run with access to the device, e.g. as a "
                   "member of the disk group or with sudo.";
        case text::kAgain:
            return "again";
        case text::kTrimming:
            return "Trimming";
        case text::kRegionsLeft:
            return "regions left";
        case text::kRetrying:
            return "Retrying";
        case text::kEasyData:
            return "Reading the easy data first";
        case text::kSkippedAreas:
            return "Reading the skipped areas";
        case text::kOutputFolderWord:
            return "The output folder";
        case text::kOutputMissing:
            return "does not exist or is not a folder. Choose an existing output folder. Nothing "
                   "was copied.";
        case text::kOutputNotWritable:
            return "cannot be written to. Choose an output folder you may write to. Nothing was "
                   "copied.";
        case text::kOutputInsideSource:
            return "lies inside a folder that is being copied, on the medium the files come from. "
                   "Choose an output folder outside it. Nothing was copied.";
        case text::kOutputNoRoom:
            return "has no free space left, not even for a copy log. Free some space or choose "
                   "another output folder. Nothing was copied.";
        default:
            return "";
    }
}

}  // namespace tessaly::cli
