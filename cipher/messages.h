#pragma once

// Every text the engine shows, with its caption. The first group is the
// wording of version 1.0x, which users know and must not change by a
// character; the second covers failures that version left unreported, in the
// same style, with the system's reason where there is one.

namespace messages {

constexpr char kProgressTitle[] = "Working file %s%s %i%% done.";

constexpr char kSameFile[] =
    "Using  the same filename for encrypting file and a key file destroys the key file.\r\n"
    "You won't be able to recover the encrypted file.\r\n"
    "Choose a differnt key file.";
constexpr char kSameFileCaption[] = "Filename error. (Bad idea.)";
constexpr char kCannotFind[] = "Cannot find %s.";
constexpr char kCannotFindCaption[] = "Encrypt file error.";
constexpr char kCannotMakeReadOnly[] = "Cannot make key file read only.";
constexpr char kCannotMakeReadOnlyCaption[] = "Set Attribute Error.";
constexpr char kOffsetRange[] = "Offset must be value between 0 and 255.";
constexpr char kOffsetRangeCaption[] = "Error";
constexpr char kCouldNotDelete[] = "Could not delete %s.";
constexpr char kCouldNotDeleteCaption[] = "Error: Could not delete original file!";
constexpr char kNameLeftAs[] = "Encrypted file's name is left as: %s";
constexpr char kNameLeftAsCaption[] = "Error: Could not rename encrypted file!";

constexpr char kWorkingFileExists[] =
    "A file named %s is in the way of the working file.\r\n"
    "It was left by a run that did not finish or could not replace the file; the data file itself is whole. "
    "Remove or rename it, then try again.";
constexpr char kWorkingFileIsInput[] =
    "The working file for this file would be %s, which is the file itself or the key file.\r\n"
    "Rename that file, then try again.";
constexpr char kCouldNotCreate[] = "Could not create the working file %s (%s).";
constexpr char kWorkingFileCaption[] = "Error: Could not create working file!";
constexpr char kCouldNotOpen[] = "Could not open %s (%s).";
constexpr char kCouldNotRead[] = "Could not read %s (%s). The file is unchanged.";
constexpr char kReadCaption[] = "Error: Could not read file!";
constexpr char kCouldNotWrite[] = "Could not write the working file %s (%s). The original file is unchanged.";
// Reasons of the engine's own, where the system gave none.
constexpr char kChangedWhileRead[] = "it changed while it was read";
constexpr char kCutShort[] = "another program cut it short";
constexpr char kWriteCaption[] = "Error: Could not write encrypted file!";
constexpr char kStopped[] = "Stopped before the end. %s is unchanged.";
constexpr char kStoppedCaption[] = "Interrupted!";
constexpr char kDataChanged[] =
    "%s was changed by another program during the run, so it was not replaced.\r\n"
    "It is left as it now is. Try again once nothing else is using it.";
constexpr char kWorkingFileChanged[] =
    "The working file %s was removed or replaced by another program during the run, so nothing was replaced.\r\n"
    "The data file is unchanged. Try again.";
constexpr char kChangedCaption[] = "Error: File changed during the run!";
constexpr char kKeyUnusable[] =
    "The key file %s holds no bytes to encrypt with: it is empty, or its content is made anew each time it is "
    "read, so the file could never be decrypted.\r\n"
    "Choose another key file.";
constexpr char kKeyUnusableCaption[] = "Key file error.";
constexpr char kUnexpected[] = "Could not finish with %s: %s. The file was not replaced.";
constexpr char kUnexpectedCaption[] = "Error: Could not finish!";

}  // namespace messages
