#pragma once

namespace tessaly::text {

// Ids of the language-file texts that the transfer jobs show.
inline constexpr int kFileWord = 14;          // stands before a file name in file messages
inline constexpr int kCaption = 23;           // caption of every message box of the tool
inline constexpr int kCannotOpen = 24;        // after a file name: the file cannot be opened
inline constexpr int kCannotCreateHead = 26;  // before a transfer file name: cannot be created
inline constexpr int kCannotCreateTail = 27;  // after it
inline constexpr int kWriteFailed = 30;       // State: writing failed
inline constexpr int kDataFromLabel = 79;
inline constexpr int kDataToLabel = 80;
inline constexpr int kStateLabel = 81;
inline constexpr int kGetCommand = 82;
inline constexpr int kPutCommand = 83;
inline constexpr int kChooseLogTitle = 84;
inline constexpr int kNoFileName = 85;     // the log holds no usable file name
inline constexpr int kLocateForGet = 86;   // locate dialog title, Get
inline constexpr int kMissingForGet = 87;  // after a file name: not found, locate it (Get)
inline constexpr int kLocateForPut = 88;
inline constexpr int kMissingForPut = 89;
inline constexpr int kGetRunning = 90;
inline constexpr int kDone = 91;
inline constexpr int kReadFailed = 92;
inline constexpr int kPutRunning = 93;
// After a log's name: it lists regions beyond the end of its file; nothing moved.
inline constexpr int kRegionsBeyondEnd = 122;

}  // namespace tessaly::text
