#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/engine_status.h"
#include "run/destination_guard.h"

namespace tessaly {

// A message about one file: texts by language-file id around the file's path.
// Shown as "first name", then "\nsecond" and "\n\nnote" where they are given;
// a first text alone when there is no name.
struct RunMessage
{
    int firstText = 0;
    std::string name;     // empty for a text alone
    int secondText = -1;  // -1: none
    int noteText = -1;    // -1: none
    bool operator==(const RunMessage&) const = default;
};

std::string composeRunMessage(const RunMessage& message,
                              const std::function<std::string(int)>& text);

// The failure message for a file that ended with status. A copy or a log that cannot
// be opened or created is named by its own path (copyPath, or its log's), anything
// else by the source's. nullopt for the statuses that show no message (Ok, Stopped,
// the refused questions, NotReady, ...). A device the user may not read
// (deviceAccessDenied) gets a note that says how to reach it.
std::optional<RunMessage> failureMessage(EngineStatus status, const std::string& sourcePath,
                                         const std::string& copyPath,
                                         bool deviceAccessDenied = false);

// The notice for a file that was copied without a log because its name is too long.
RunMessage withoutLogMessage(const std::string& sourcePath);

// Why the run refused a file before its copy started, by the guard's verdict: the file
// opens, and its copy may be whole; what happened is the run's own doing.
RunMessage refusalMessage(GuardVerdict verdict, const std::string& sourcePath);

// The line that names the pass after the main pass that runs: "Trimming, regions left: 5",
// "Retrying 2/3, regions left: 5", with the word of a rerun after the pass's name
// ("Trimming again, ..."). retryPass 0 is the trim pass.
std::string passText(std::uint32_t retryPass, std::uint32_t retryPasses, bool again,
                     std::size_t regionsLeft, const std::function<std::string(int)>& text);
// The line that names the phase of a file whose easy data is read first (see
// EngineSnapshot::phase); empty for 0.
std::string phaseText(std::uint32_t phase, const std::function<std::string(int)>& text);

// The question for one more copy of a file. status is the engine's while it asks: it
// tells what was wrong with the last answer, lastAnswer (the copy that cannot be opened
// is named). A message without a name does not name the file it asks for.
RunMessage otherCopyQuestion(EngineStatus status, const std::string& lastAnswer);

}  // namespace tessaly
