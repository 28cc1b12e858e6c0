#pragma once

#include <cstdint>

namespace tessaly {

// The engine's only error report. Values 0 to 14 are those of the copier's
// history and may be stored or compared by number; new ones go at the end.
enum class EngineStatus : std::int32_t {
    Ok = 0,
    SourceOpenFailed = 1,
    DestinationOpenFailed = 2,
    DestinationCreateFailed = 3,
    LogMissing = 4,
    LogOpenFailed = 5,
    LogCreateFailed = 6,
    DiskFull = 7,
    CopyAlreadyUsed = 8,
    CopyOpenFailed = 9,
    WriteFailed = 10,
    NoLogRefused = 11,
    Stopped = 12,
    ExistingRefused = 13,
    NotReady = 14,
    // 15 is no longer given: sources of any size are copied.
    FreeSpaceUnknown = 16,   // the output volume cannot report its free space
    WorkerStartFailed = 17,  // the copy thread could not be started
    DestinationInUse = 18,   // another copy run holds the copy or its log locked
    LogWriteFailed = 19,     // a record could not go to the log: the fill it lists was not written
    LinkInWay = 20,          // a symbolic link stands where the copy, its log or a folder belongs
    SourceMismatch = 21,     // Resume: the source is not the file the copy was made from
    DestinationTooSmall = 22,  // the output's file system cannot hold a file that large
    LogUpdateFailed = 23,    // the log the passes rewrite could not be written: the old one holds
    SourceChanged = 24,  // a continued copy: the source differs from the one its log recorded
    CopyNotProven = 25,  // a copy without a log, as long as its source, not found equal to it
};

// The identifier used in the code and in the command line's report ("Ok", "NotReady", ...).
const char* statusName(EngineStatus status);

}  // namespace tessaly
