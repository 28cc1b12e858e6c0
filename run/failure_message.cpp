#include "run/failure_message.h"

#include <algorithm>

#include "engine/destination.h"
#include "texts/text_ids.h"

namespace tessaly {

std::string composeRunMessage(const RunMessage& message,
                              const std::function<std::string(int)>& text)
{
    std::string composed = text(message.firstText);
    if (!message.name.empty()) composed += " " + message.name;
    if (message.secondText >= 0) composed += "\n" + text(message.secondText);
    if (message.noteText >= 0) composed += "\n\n" + text(message.noteText);
    return composed;
}

std::string passText(std::uint32_t retryPass, std::uint32_t retryPasses, bool again,
                     std::size_t regionsLeft, const std::function<std::string(int)>& text)
{
    std::string line = retryPass == 0 ? text(text::kTrimming)
                                      : text(text::kRetrying) + ' ' + std::to_string(retryPass) +
                                            '/' + std::to_string(std::max(retryPasses, retryPass));
    if (again) line += ' ' + text(text::kAgain);
    return line + ", " + text(text::kRegionsLeft) + ": " + std::to_string(regionsLeft);
}

std::string phaseText(std::uint32_t phase, const std::function<std::string(int)>& text)
{
    if (phase == 0) return {};
    return text(phase == 1 ? text::kEasyData : text::kSkippedAreas);
}

RunMessage withoutLogMessage(const std::string& sourcePath)
{
    return RunMessage{text::kFileWord, sourcePath, text::kCopiedWithoutLog, -1};
}

RunMessage refusalMessage(GuardVerdict verdict, const std::string& sourcePath)
{
    const int why = verdict == GuardVerdict::SameFile   ? text::kOwnCopy
                    : verdict == GuardVerdict::LogPlace ? text::kCopyAndLogClash
                                                        : text::kSameCopyInRun;
    return {text::kFileWord, sourcePath, why, -1};
}

RunMessage otherCopyQuestion(EngineStatus status, const std::string& lastAnswer)
{
    switch (status) {
        case EngineStatus::CopyAlreadyUsed:
            return {text::kCopyInUse, {}, text::kChooseAnotherCopy, -1};
        case EngineStatus::CopyOpenFailed:
            return {text::kFileWord, lastAnswer, text::kCannotOpen, text::kChooseAnotherCopy};
        default:
            return {text::kSectorsUnreadable, {}, -1, -1};
    }
}

std::optional<RunMessage> failureMessage(EngineStatus status, const std::string& sourcePath,
                                         const std::string& copyPath, bool deviceAccessDenied)
{
    const auto cannotOpen = [&](const std::string& path, int note) {
        return RunMessage{text::kFileWord, path, text::kCannotOpen, note};
    };
    const auto cannotCreate = [&](const std::string& path, int note) {
        return RunMessage{text::kCannotCreate, path, text::kCheckFolder, note};
    };
    // Without a copy's path (none was made) the source names the file.
    const std::string& copy = copyPath.empty() ? sourcePath : copyPath;
    const std::string log = copyPath.empty() ? sourcePath : logPathOf(copyPath);
    const auto fileThen = [&](int second) {
        return RunMessage{text::kFileWord, sourcePath, second, -1};
    };
    switch (status) {
        case EngineStatus::SourceOpenFailed:
            return cannotOpen(sourcePath, deviceAccessDenied ? text::kDeviceAccess : -1);
        case EngineStatus::DestinationOpenFailed:
            return cannotOpen(copy, text::kProblemWithCopy);
        case EngineStatus::DestinationCreateFailed:
            return cannotCreate(copy, text::kProblemWithCopy);
        case EngineStatus::LogOpenFailed:
            return cannotOpen(log, text::kProblemWithLog);
        case EngineStatus::LogCreateFailed:
            return cannotCreate(log, text::kProblemWithLog);
        case EngineStatus::DiskFull:
            return RunMessage{text::kNoFreeSpace, sourcePath, -1, -1};
        case EngineStatus::WriteFailed:
            return RunMessage{text::kWriteFailed, {}, -1, -1};
        case EngineStatus::FreeSpaceUnknown:
            return fileThen(text::kFreeSpaceUnknown);
        case EngineStatus::WorkerStartFailed:
            return fileThen(text::kWorkerStartFailed);
        case EngineStatus::DestinationInUse:
            return fileThen(text::kDestinationInUse);
        case EngineStatus::LogWriteFailed:
            return fileThen(text::kLogWriteFailed);
        case EngineStatus::LinkInWay:
            return fileThen(text::kLinkInWay);
        case EngineStatus::SourceMismatch:
            return fileThen(text::kSourceMismatch);
        case EngineStatus::DestinationTooSmall:
            return fileThen(text::kDestinationTooSmall);
        case EngineStatus::LogUpdateFailed:
            return fileThen(text::kLogNotUpdated);
        case EngineStatus::SourceChanged:
            return fileThen(text::kSourceChanged);
        case EngineStatus::CopyNotProven:
            return fileThen(text::kCopyNotProven);
        default:
            return std::nullopt;
    }
}

}  // namespace tessaly
