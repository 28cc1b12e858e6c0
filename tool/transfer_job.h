#pragma once

#include <cstdint>
#include <string>

namespace tessaly {

// Which way a job moves the regions' bytes. The values are those of a stored queue
// entry; any value other than Put runs as Get.
enum class TransferKind : std::int32_t
{
    Put = 0,
    Get = 1
};

// One queue entry: a copy log the user chose, and what to do with it.
struct TransferJob
{
    std::string logFileName;  // the log's file name, without a folder
    std::string logFolder;    // the folder in which the log was chosen
    TransferKind kind = TransferKind::Get;
};

// How a job ended. Only Done is a success; the front ends map the rest to what
// they show (the window shows nothing more, the command line picks an exit status).
enum class TransferOutcome
{
    Done,         // every region moved (State text 91)
    ReadFailed,   // a region could not be read, or the transfer file ended inside one (92)
    WriteFailed,  // a region could not be written (30)
    Failed,       // ended on an error message before any region was moved
    Cancelled,    // the user cancelled locating the data file
    Ignored       // the log's name is too short to be a log; nothing was shown
};

}  // namespace tessaly
