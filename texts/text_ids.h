#pragma once

// Ids of the texts of a language file (text N is the N-th text line after the
// file's first line). One list for every program; the comment gives the text of
// english.lng where the name alone does not say it.
namespace tessaly::text {

// Menus and the file list
inline constexpr int kFileMenu = 1;
inline constexpr int kSettingsMenu = 2;
inline constexpr int kHelpMenu = 3;
inline constexpr int kSourceFileColumn = 4;
inline constexpr int kNotReadColumn = 5;
inline constexpr int kSizeColumn = 6;
inline constexpr int kChooseFolderToAdd = 7;
inline constexpr int kChooseOutputFolder = 8;
inline constexpr int kCopyingSettings = 9;
inline constexpr int kGeneralPage = 10;

// Questions and messages of a copy
inline constexpr int kCopyInUse = 12;          // the chosen file is already in use as a copy
inline constexpr int kChooseAnotherCopy = 13;  // do you want to choose another copy?
inline constexpr int kFileWord = 14;           // stands before a file name in file messages
inline constexpr int kSectorsUnreadable = 15;  // choose another copy to read them from?
inline constexpr int kReservedCopyCaption = 16;
inline constexpr int kYes = 17;
inline constexpr int kNo = 18;
inline constexpr int kCancel = 19;
inline constexpr int kLogMissing = 20;  // the log needed to continue does not exist
inline constexpr int kConfirmationCaption = 21;
inline constexpr int kDontShowAgain = 22;
inline constexpr int kCaption = 23;          // "Error": caption of every error box
inline constexpr int kCannotOpen = 24;       // after a file name: cannot be opened
inline constexpr int kProblemWithCopy = 25;  // the problem is with the copy
inline constexpr int kCannotCreate = 26;     // before a file name: cannot create the file
inline constexpr int kCheckFolder = 27;      // check that the folder exists, ... free space
inline constexpr int kProblemWithLog = 28;   // the problem is with the copy's log
inline constexpr int kNoFreeSpace = 29;      // before a file name: not enough free space
inline constexpr int kWriteFailed = 30;

// Commands
inline constexpr int kAddFilesCommand = 31;
inline constexpr int kAddFolderCommand = 32;
inline constexpr int kSetOutputFolderCommand = 33;
inline constexpr int kStartCommand = 34;
inline constexpr int kStopCommand = 35;
inline constexpr int kExitCommand = 36;
inline constexpr int kAlgorithmCommand = 37;
inline constexpr int kReservedCopiesCommand = 38;
inline constexpr int kMiscellaneousCommand = 39;
inline constexpr int kLanguageMenu = 40;
inline constexpr int kAboutCommand = 41;

// Main window and settings pages
inline constexpr int kTotalSizeLabel = 42;
inline constexpr int kOutputFolderLabel = 43;
inline constexpr int kNotChosen = 44;
inline constexpr int kLogFileGroup = 45;
inline constexpr int kCreateLog = 46;
inline constexpr int kDeleteLogIfNoErrors = 47;
inline constexpr int kRereadCountLabel = 48;
inline constexpr int kAuto = 49;
inline constexpr int kOptimizeFor = 50;
inline constexpr int kOptimizeData = 51;
inline constexpr int kOptimizeSpeed = 52;
inline constexpr int kFillGroup = 53;
inline constexpr int kFillZeros = 54;
inline constexpr int kFillValues = 55;
inline constexpr int kFillStrings = 56;
inline constexpr int kFillNothing = 57;
inline constexpr int kReservedPlacementGroup = 58;
inline constexpr int kReservedInFolder = 59;
inline constexpr int kReservedBesideSource = 60;
inline constexpr int kReservedAsk = 61;
inline constexpr int kCopyingGroup = 62;
inline constexpr int kAutoStart = 63;
inline constexpr int kKeepOutputFolder = 64;
inline constexpr int kFillLastGood = 65;
inline constexpr int kViewMenu = 66;
inline constexpr int kShowDetails = 67;
inline constexpr int kTimeThisFile = 69;
inline constexpr int kTimeAllFiles = 70;
inline constexpr int kUnknown = 71;
inline constexpr int kExistingGroup = 72;
inline constexpr int kExistingReplace = 73;
inline constexpr int kExistingAppend = 74;
inline constexpr int kExistingResume = 75;
inline constexpr int kExistingSkip = 76;
inline constexpr int kDestinationExists = 77;  // continue with it as the settings say?
inline constexpr int kAskForConfirmation = 78;

// The companion tool
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

// Quick start, messages page, list menu
inline constexpr int kQuickStartGroup = 94;
inline constexpr int kUseQuickStart = 95;
inline constexpr int kQuickAddFolder = 96;
inline constexpr int kQuickAddFiles = 97;
inline constexpr int kMessagesGroup = 98;
inline constexpr int kAskForAddReserveds = 99;
inline constexpr int kAskForMissingLog = 100;
inline constexpr int kDeleteFromList = 111;
inline constexpr int kContinueCopying = 112;
inline constexpr int kSpeedLabel = 116;
inline constexpr int kSecondsUnit = 117;

// Refusals before a copy starts
inline constexpr int kFreeSpaceUnknown = 119;
inline constexpr int kWorkerStartFailed = 120;  // the copy thread could not be started
inline constexpr int kDestinationInUse = 121;   // another copy run holds the copy or its log

// After a copy log's name: it lists regions beyond the end of its file (Get, Put)
inline constexpr int kRegionsBeyondEnd = 122;
// After "File NAME", why a transfer job refused to write anything:
inline constexpr int kDataShorterThanRegions = 135;  // Get, the data file: not the same file
inline constexpr int kNothingFillLog = 136;          // Put, the log: fill Nothing, other offsets
inline constexpr int kTransferTooLong = 137;         // Put, the transfer file: not from this log
inline constexpr int kCopyHeldByRun = 138;           // Put, the copy: another copy run holds it
inline constexpr int kNoLogHeader = 139;             // Put, the log: fill and offsets unknown
inline constexpr int kDamagedLog = 175;              // Get, Put, the log: a record cannot be read

// Block map cell tooltips
inline constexpr int kMapBytes = 126;       // before a cell's byte range
inline constexpr int kMapNotReached = 127;  // state: not yet reached
inline constexpr int kMapRead = 128;        // state: read
inline constexpr int kMapUnread = 129;      // before the count of unread bytes
inline constexpr int kMapCurrent = 130;     // state: current position
inline constexpr int kMapNotTried = 173;    // state: holds areas skipped, not tried yet

// After "File NAME" (132, 133 on their own): why a copy ended or was not made
inline constexpr int kLogWriteFailed = 132;   // a log record could not be written
inline constexpr int kLinkInWay = 133;        // a symbolic link where the copy or its log belongs
inline constexpr int kCopiedWithoutLog = 134; // the name is too long for a log beside the copy
// After "File NAME": why the run did not copy a line
inline constexpr int kSameCopyInRun = 140;    // another line of the run makes the same copy
inline constexpr int kOwnCopy = 141;          // the file itself lies where its copy belongs
inline constexpr int kCopyAndLogClash = 142;  // a copy of one line, the log of another's
// The run's report of damaged files
inline constexpr int kSaveReport = 143;         // File menu: save the run's report as CSV
inline constexpr int kShowDamagedOnly = 144;    // show only the lines with unread parts or failures
inline constexpr int kSummaryComplete = 145;    // before the count of complete files
inline constexpr int kSummaryDamaged = 146;     // before the count of files with unread parts
inline constexpr int kSummaryNotRead = 147;     // after the bytes those files lack
inline constexpr int kSummaryFailed = 148;      // before the count of failed or not copied files
inline constexpr int kReportNotWritten = 149;   // before the reason the report was not written
// After "File NAME": Resume found a source that is not the file its copy was made from
inline constexpr int kSourceMismatch = 150;
// 151 is the Algorithm page's label of the number of retry passes; 152: not used
// 170 is the Algorithm page's check box "Read easy data first"
// The pass line while the easy data of a file is read first
inline constexpr int kEasyData = 171;      // the pass of chunk reads that skips past failures
inline constexpr int kSkippedAreas = 172;  // the main pass over the areas it skipped
inline constexpr int kAgain = 153;  // after the pass's name: a finished copy's rerun reads its unread areas again
// The copier's line below its bars while a pass after the main pass runs
inline constexpr int kTrimming = 154;     // the trim pass runs
inline constexpr int kRegionsLeft = 155;  // before the count of regions the pass has left
inline constexpr int kRetrying = 156;     // a retry pass runs: before its number
// Waiting for a medium that went away in the middle of a file
inline constexpr int kWaitForMedium = 157;   // Miscellaneous: check box "Wait for a removed medium"
inline constexpr int kMediumGone = 158;      // status, before the time waited so far
inline constexpr int kOtherMedium = 159;     // status, another file under the name: before the time
inline constexpr int kDriveSilent = 160;     // status, before the time a read has not returned
// After "File NAME": the output's file system cannot hold a file of this size
inline constexpr int kDestinationTooSmall = 161;
// Note below "File NAME cannot be opened." for a device the user may not read
inline constexpr int kDeviceAccess = 162;
// After "File NAME": the log the passes after the copy rewrite could not be written
inline constexpr int kLogNotUpdated = 163;
// After "File NAME": a continued copy's source differs from the one its log recorded
inline constexpr int kSourceChanged = 168;
// After "File NAME": a copy without a log, as long as its source, not found equal to it
inline constexpr int kCopyNotProven = 169;
// Tooltip of a list line after its copy, below its path: how the copy ended
inline constexpr int kLineComplete = 181;
inline constexpr int kLineDamaged = 182;     // reached its end, with parts not read
inline constexpr int kLineUnfinished = 183;  // stopped or the medium went away
inline constexpr int kLineFailed = 184;
inline constexpr int kLineSkipped = 185;     // an existing copy was left as it was
// The output folder, checked once at the start of a run: "186 FOLDER\nREASON"
inline constexpr int kOutputFolderWord = 186;
inline constexpr int kOutputMissing = 187;
inline constexpr int kOutputNotWritable = 188;
inline constexpr int kOutputInsideSource = 189;
inline constexpr int kOutputNoRoom = 190;
// Files out of an image or a device read without mounting
inline constexpr int kAddFromVolume = 191;     // File menu command, and its dialog's title
inline constexpr int kVolumeUnreadable = 192;  // before the path and the reason it cannot be read
inline constexpr int kNotListed = 193;         // before the entries a volume could not list
inline constexpr int kFolderUnreadable = 194;  // after such a folder's path: why
// The tree of an image's or a device's files to pick from
inline constexpr int kPickFromVolume = 176;    // the dialog's title
inline constexpr int kPickNameColumn = 177;    // "Name": the heading of the tree's first column
inline constexpr int kLeadsAbove = 178;        // tooltip: a folder that is one of those above it
inline constexpr int kFolderIncomplete = 179;  // tooltip: some entries of the folder cannot be read
inline constexpr int kPickHint = 180;          // below the path: what is added, folders read when opened

}  // namespace tessaly::text
