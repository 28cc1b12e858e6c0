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

std::string CliTexts::text(std::uint32_t id) const
{
    if (m_texts && id < m_texts->texts.size() && !m_texts->texts[id].empty()) {
        return m_texts->texts[id];
    }
    return builtIn(id);
}

const char* CliTexts::builtIn(std::uint32_t id)
{
    switch (id) {
        case kTextCopyInUse:
            return "The chosen file is already in use as a copy of this file.";
        case kTextChooseAnotherCopy:
            return "Do you want to choose another copy of the file?";
        case kTextFile:
            return "File";
        case kTextSectorsUnreadable:
            return "Some sectors of this file cannot be read. Do you want to choose another copy "
                   "of the file to read them from?";
        case kTextLogMissing:
            return "The log file that is needed to continue this copy does not exist. Continue "
                   "without it?";
        case kTextCannotBeOpened:
            return "cannot be opened.";
        case kTextProblemWithCopy:
            return "The problem is with its copy in the output directory.";
        case kTextCannotCreate:
            return "Cannot create the file";
        case kTextCheckFolder:
            return "Check that the folder exists, that you may write to it and that the disk has "
                   "free space.";
        case kTextProblemWithLog:
            return "The problem is with the log file of its copy.";
        case kTextNoFreeSpace:
            return "Not enough free space in the output directory to copy";
        case kTextWriteFailed:
            return "Writing failed.";
        case kTextDestinationExists:
            return "The destination file already exists. Continue with it as the settings for "
                   "existing files say?";
        case kTextSourceTooLarge:
            return "The file is 4 GB or larger and cannot be copied.";
        case kTextFreeSpaceUnknown:
            return "The free space of the output disk cannot be determined.";
        case kTextWorkerStartFailed:
            return "The copy thread could not be started.";
        case kTextDestinationInUse:
            return "The copy or its log is in use by another copy run; this file is skipped.";
        default:
            return "";
    }
}

}  // namespace tessaly::cli
