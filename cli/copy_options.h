#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {
class CopyEngine;
}

namespace tessaly::cli {

// Everything `tessaly-cli copy` was asked to do, with the copier's defaults for
// whatever the command line leaves out. Numbers are those the engine takes.
struct CopyOptions
{
    std::int32_t fillType = 0;          // 0 zeros, 1 value, 2 string, 3 last good, 4 nothing
    std::uint8_t fillValue = 255;       // fill 1
    std::string fillString = "?";       // fill 2
    bool autoRereads = true;            // --attempts=auto
    std::uint32_t rereadCount = 1;      // --attempts=N
    float optimizeFor = 0.0f;           // 0 = data .. 1 = speed
    std::int32_t existingPolicy = 2;    // 0 replace, 1 append, 2 resume, 3 skip
    bool createLog = true;              // --no-log clears it
    bool deleteLogIfNoErrors = true;    // --keep-clean-log clears it
    std::int32_t reservedPlacement = 1; // 0 folder, 1 beside the source, 2 ask
    std::string reservedFolder;         // placement 0 only
    bool yes = false;                   // go on where a destination exists or a log is missing
    bool quiet = false;
    bool help = false;
    std::vector<std::string> sources;
    std::string outputFolder;
};

// Result of parsing: the options, or the reason the command line is unusable.
struct ParsedCopyOptions
{
    CopyOptions options;
    std::string error;  // empty when the command line was understood
    bool ok() const { return error.empty(); }
};

// Parses the arguments that follow `copy`. With --help the sources may be missing;
// otherwise at least one source and the output folder are required.
ParsedCopyOptions parseCopyOptions(const std::vector<std::string>& args);

// Hands every engine setting of the options to the engine.
void applyToEngine(const CopyOptions& options, CopyEngine& engine);

// The text of `tessaly-cli copy --help`.
const char* copyHelpText();

}  // namespace tessaly::cli
