#pragma once

namespace tessaly::cli {

// Exit status of a usage error, as in sysexits.h.
inline constexpr int kExitUsage = 64;

// Each subcommand gets argv with its own name at argv[0].
int runGetCommand(int argc, char** argv);
int runPutCommand(int argc, char** argv);
int runMapCommand(int argc, char** argv);

// Copies files and folder trees with the copy engine; see copyHelpText().
int runCopy(int argc, char** argv);

// Lists the files of an image or a device and the bytes of each that are unreadable.
int runFiles(int argc, char** argv);

// Lists the language files of the program folder; 1 when there is none.
int runLanguages(int argc, char** argv);

}  // namespace tessaly::cli
