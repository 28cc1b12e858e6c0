#include "engine/engine_status.h"

namespace tessaly {

const char* statusName(EngineStatus status)
{
    switch (status) {
        case EngineStatus::Ok: return "Ok";
        case EngineStatus::SourceOpenFailed: return "SourceOpenFailed";
        case EngineStatus::DestinationOpenFailed: return "DestinationOpenFailed";
        case EngineStatus::DestinationCreateFailed: return "DestinationCreateFailed";
        case EngineStatus::LogMissing: return "LogMissing";
        case EngineStatus::LogOpenFailed: return "LogOpenFailed";
        case EngineStatus::LogCreateFailed: return "LogCreateFailed";
        case EngineStatus::DiskFull: return "DiskFull";
        case EngineStatus::CopyAlreadyUsed: return "CopyAlreadyUsed";
        case EngineStatus::CopyOpenFailed: return "CopyOpenFailed";
        case EngineStatus::WriteFailed: return "WriteFailed";
        case EngineStatus::NoLogRefused: return "NoLogRefused";
        case EngineStatus::Stopped: return "Stopped";
        case EngineStatus::ExistingRefused: return "ExistingRefused";
        case EngineStatus::NotReady: return "NotReady";
        case EngineStatus::FreeSpaceUnknown: return "FreeSpaceUnknown";
        case EngineStatus::WorkerStartFailed: return "WorkerStartFailed";
        case EngineStatus::DestinationInUse: return "DestinationInUse";
        case EngineStatus::LogWriteFailed: return "LogWriteFailed";
        case EngineStatus::LinkInWay: return "LinkInWay";
        case EngineStatus::SourceMismatch: return "SourceMismatch";
        case EngineStatus::DestinationTooSmall: return "DestinationTooSmall";
        case EngineStatus::LogUpdateFailed: return "LogUpdateFailed";
        case EngineStatus::SourceChanged: return "SourceChanged";
        case EngineStatus::CopyNotProven: return "CopyNotProven";
    }
    return "Unknown";
}

}  // namespace tessaly
