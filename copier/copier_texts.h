#pragma once

namespace tessaly::copier_text {

// Ids of the language-file texts that the copier's window shows.
inline constexpr int kMenuFile = 1;
inline constexpr int kMenuHelp = 3;
inline constexpr int kSourceColumn = 4;
inline constexpr int kNotReadColumn = 5;
inline constexpr int kSizeColumn = 6;
inline constexpr int kAddFolderTitle = 7;
inline constexpr int kOutputFolderTitle = 8;
inline constexpr int kFileWord = 14;
inline constexpr int kErrorCaption = 23;
inline constexpr int kCannotOpen = 24;
inline constexpr int kAddFiles = 31;
inline constexpr int kAddFolder = 32;
inline constexpr int kSetOutputFolder = 33;
inline constexpr int kStartCopying = 34;
inline constexpr int kStopCopying = 35;
inline constexpr int kExit = 36;
inline constexpr int kAbout = 41;
inline constexpr int kTotalSizeLabel = 42;
inline constexpr int kOutputFolderLabel = 43;
inline constexpr int kNoOutputFolder = 44;
inline constexpr int kTimeThisFileLabel = 69;
inline constexpr int kTimeAllFilesLabel = 70;
inline constexpr int kUnknown = 71;
inline constexpr int kDeleteFromList = 111;
inline constexpr int kContinueCopying = 112;
inline constexpr int kSpeedLabel = 116;
inline constexpr int kSecond = 117;

}  // namespace tessaly::copier_text
