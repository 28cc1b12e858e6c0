#pragma once

#include <cstddef>
#include <string>

#include "engine/copy_log.h"
#include "engine/plain_file.h"
#include "tool/job_ui.h"
#include "tool/transfer_job.h"

namespace tessaly {

// Bytes moved through the buffer at a time; a longer region goes in pieces.
inline constexpr std::size_t kTransferBufferSize = 999'999;
// The capacity the jobs pass to readDataFileName: names of 1 to 259 bytes.
inline constexpr std::size_t kDataFileNameCapacity = 260;

// Reads the data file's name that the bound log holds (after its 12-byte header)
// into buffer, NUL-terminated. False when the log ends before the name, or the
// name's length is 0 or not below capacity.
[[nodiscard]] bool readDataFileName(CopyLog& log, char* buffer, std::size_t capacity);

// True when name can stand for a file in the log's folder: not empty, not "." or
// "..", and free of path separators ('/' and '\\') and NUL bytes.
bool isPlainFileName(const std::string& name);

// The files the jobs use, reused by every job and touched by the worker only.
// Every job closes all of them before it returns.
struct TransferFiles
{
    explicit TransferFiles(FileSystem& fs = systemFileSystem())
        : logFile(fs), inputFile(fs), outputFile(fs)
    {
    }

    PlainFile logFile;
    PlainFile inputFile;   // Get: the data file; Put: the transfer file
    PlainFile outputFile;  // Get: the transfer file; Put: the data file
    CopyLog log;
};

// Get: reads every region that the log lists (all records but an end record that
// closes it) out of the data file that the log names into a new transfer file beside
// it, named after it with ".mrd" appended. Put: writes the transfer file's bytes back into that data
// file at the regions' offsets, without truncating it. Both report to ui and end
// with every file closed. Done is their only success.
TransferOutcome runGet(const TransferJob& job, TransferFiles& files, JobUi& ui);
TransferOutcome runPut(const TransferJob& job, TransferFiles& files, JobUi& ui);
// runPut for kind Put, runGet for every other kind.
TransferOutcome runTransferJob(const TransferJob& job, TransferFiles& files, JobUi& ui);

}  // namespace tessaly
