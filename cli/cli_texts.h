#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ui/language_table.h"

namespace tessaly::cli {

// Text ids of the messages the command line shows.
enum TextId : std::uint32_t
{
    kTextCopyInUse = 12,
    kTextChooseAnotherCopy = 13,
    kTextFile = 14,
    kTextSectorsUnreadable = 15,
    kTextLogMissing = 20,
    kTextCannotBeOpened = 24,
    kTextProblemWithCopy = 25,
    kTextCannotCreate = 26,
    kTextCheckFolder = 27,
    kTextProblemWithLog = 28,
    kTextNoFreeSpace = 29,
    kTextWriteFailed = 30,
    kTextDestinationExists = 77,
    kTextSourceTooLarge = 118,
    kTextFreeSpaceUnknown = 119,
    kTextWorkerStartFailed = 120,
    kTextDestinationInUse = 121,
};

// The texts of the loaded language file, with the English texts built in for a
// program that finds no language file or an id the file lacks.
class CliTexts
{
public:
    explicit CliTexts(std::shared_ptr<const LanguageTexts> texts = nullptr)
        : m_texts(std::move(texts))
    {
    }
    // english.lng from the program folder; the built-in texts when it cannot be read.
    static CliTexts fromProgramFolder();

    std::string text(std::uint32_t id) const;
    // The built-in English text of id; empty for an id the command line does not use.
    static const char* builtIn(std::uint32_t id);

private:
    std::shared_ptr<const LanguageTexts> m_texts;
};

}  // namespace tessaly::cli
