#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/copy_engine.h"
#include "engine/engine_settings.h"

namespace tessaly::cli {

// Everything `tessaly-cli copy` was asked to do, with the copier's defaults for
// whatever the command line leaves out.
struct CopyOptions
{
    // The copier's profile defaults; the reserved folder is set with placement InFolder only.
    EngineSettings engine{.reservedFolder = {}, .easyFirst = true};
    bool yes = false;                    // go on where a destination exists or a log is missing
    bool quiet = false;
    bool help = false;
    std::string reportPath;  // --report: where the run's CSV report goes; empty: none
    // --wait-for-medium: a file whose medium goes away is waited for and continued
    // once the same medium is back; waitSeconds limits the wait (0: until interrupted).
    bool waitForMedium = false;
    std::uint32_t waitSeconds = 0;
    // --volume: the sources are paths inside this image or device's file systems (none:
    // all of it); --volume-log: the log that says which of its regions were not read.
    std::string volumePath;
    std::string volumeLogPath;
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
// otherwise at least one source (with --volume none) and the output folder are required.
ParsedCopyOptions parseCopyOptions(const std::vector<std::string>& args);

// The command line's name of policy, as --existing takes it.
std::string_view policyName(ExistingPolicy policy);

// Hands every engine setting of the options to the engine.
void applyToEngine(const CopyOptions& options, CopyEngine& engine);

// The text of `tessaly-cli copy --help`.
const char* copyHelpText();

}  // namespace tessaly::cli
