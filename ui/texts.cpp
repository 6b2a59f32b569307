#include "ui/texts.h"

#include "os/win32.h"
#include "ui/format.h"

namespace {

// The wording of version 1.0x.
constexpr char kSameFile[] =
    "Using  the same filename for encrypting file and a key file destroys the key file.\r\n"
    "You won't be able to recover the encrypted file.\r\n"
    "Choose a differnt key file.";
constexpr char kSameFileCaption[] = "Filename error. (Bad idea.)";
constexpr char kCannotFind[] = "Cannot find %s.";
constexpr char kInputCaption[] = "Encrypt file error.";
constexpr char kCannotMakeReadOnly[] = "Cannot make key file read only.";
constexpr char kCannotMakeReadOnlyCaption[] = "Set Attribute Error.";
constexpr char kOffsetRange[] = "Offset must be value between 0 and 255.";
constexpr char kOffsetRangeCaption[] = "Error";
constexpr char kCouldNotDelete[] = "Could not delete %s.";
constexpr char kCouldNotDeleteCaption[] = "Error: Could not delete original file!";
constexpr char kNameLeftAs[] = "Encrypted file's name is left as: %s";
constexpr char kNameLeftAsCaption[] = "Error: Could not rename encrypted file!";
constexpr char kProgressTitle[] = "Working file %s%s %i%% done.";

// What version 1.0x left unreported.
constexpr char kIsFolder[] = "Cannot use %s: it is a folder, not a file.";
constexpr char kIsLink[] =
    "Cannot use %s: it is a link to another file, which would stay as it is.\r\n"
    "Choose the file it leads to.";
constexpr char kNotRegularFile[] = "Cannot use %s: it is a device, a pipe or a socket, not a file.";
constexpr char kInUse[] =
    "%s is in use: another program has it open.\r\n"
    "Close it there, then try again.";
constexpr char kCouldNotOpen[] = "Could not open %s (%s).";
constexpr char kKeyEmpty[] =
    "The key file %s is empty: it holds no bytes to encrypt with.\r\n"
    "Choose another key file.";
constexpr char kKeyMadeAnew[] =
    "The content of the key file %s is made anew each time it is read, so the file could never be decrypted.\r\n"
    "Choose another key file.";
constexpr char kKeyCaption[] = "Key file error.";
constexpr char kWorkingFileIsInput[] =
    "The working file for this file would be %s, which is the file itself or the key file.\r\n"
    "Rename that file, then try again.";
constexpr char kWorkingFileExists[] =
    "A file named %s is in the way of the working file.\r\n"
    "It was left by a run that did not finish or could not replace the file; the data file itself is whole. "
    "Remove or rename it, then try again.";
constexpr char kRunInProgress[] =
    "Another run is writing %s, the working file this file needs.\r\n"
    "Wait until it is done, then try again.";
constexpr char kFolderInTheWay[] =
    "A folder named %s is in the way of the working file.\r\n"
    "Rename it, then try again.";
constexpr char kCouldNotCreate[] = "Could not create the working file %s (%s).";
constexpr char kWorkingFileCaption[] = "Error: Could not create working file!";
constexpr char kCouldNotRead[] = "Could not read %s (%s). %s";
constexpr char kReadCaption[] = "Error: Could not read file!";
constexpr char kCouldNotWrite[] = "Could not write the working file %s (%s). %s";
constexpr char kCutShort[] = "another program cut it short";
constexpr char kCouldNotWriteOutput[] = "Could not write the output (%s).";
constexpr char kGuardNotKept[] =
    "The working file could not be given what guards %s (%s: %s): the result would have been open to more "
    "people than the file.\r\n"
    "%s";
constexpr char kWriteCaption[] = "Error: Could not write encrypted file!";
constexpr char kStopped[] = "Stopped before the end. %s";
constexpr char kStoppedCaption[] = "Interrupted!";
constexpr char kDataChanged[] =
    "%s was changed by another program during the run, so it was not replaced.\r\n"
    "%s";
constexpr char kKeyChanged[] =
    "The key file %s was changed by another program during the run, so the file was not replaced.\r\n"
    "%s";
constexpr char kWorkingFileChanged[] =
    "The working file %s was removed or replaced by another program during the run, so nothing was replaced.\r\n"
    "%s";
constexpr char kChangedCaption[] = "Error: File changed during the run!";
constexpr char kUnexpected[] = "Could not finish with %s: %s. The file was not replaced.";
constexpr char kUnexpectedCaption[] = "Error: Could not finish!";
constexpr char kDataInUse[] =
    "%s is in use by another program, so it was not replaced; it is unchanged.\r\n"
    "The %s result is in %s.";
constexpr char kDataInUseCaption[] = "Error: File in use!";
constexpr char kResultIn[] = "\r\n%s The %s result is in %s.";
constexpr char kNotReplacedWhy[] = "\r\nIt could not take the place of %s (%s), which is unchanged; it holds the %s result.";
constexpr char kDataRemoved[] =
    "%s was removed by another program during the run.\r\n"
    "The %s result is in %s.";
constexpr char kMarked[] = "It is read-only.";
constexpr char kNoPermission[] = "You may not change it.";
constexpr char kOwnerNotKept[] = "The result could not keep its owner and group.";
constexpr char kCheckFailed[] = "Whether it may be changed could not be learnt (%s).";
constexpr char kNotRemoved[] = "\r\nThe working file %s could not be removed (%s); remove it yourself.";
constexpr char kAttributeNotKept[] = "%s was replaced without its attribute %s, which this disk cannot keep (%s).";
constexpr char kNotFlushed[] =
    "%s was replaced, but its folder could not be flushed (%s): the result may not be on disk yet.";
constexpr char kRemarkCaption[] = "Warning";
// What became of the data file when a run failed: as it was, or, where
// another program removed it meanwhile (its folder too, maybe), gone.
constexpr char kFileUnchanged[] = "The file is unchanged.";
constexpr char kOriginalUnchanged[] = "The original file is unchanged.";
constexpr char kNamedUnchanged[] = "%s is unchanged.";
constexpr char kLeftAsItIs[] = "It is left as it now is. Try again once nothing else is using it.";
constexpr char kKeyUnchanged[] = "The file is unchanged. Try again once nothing else is using the key file.";
constexpr char kDataUnchanged[] = "The data file is unchanged. Try again.";
constexpr char kRemovedMeanwhile[] = "%s was removed by another program during the run.";

// "encrypted", or "decrypted, in plain text": what the working file holds.
const char* ResultWord(TransformDirection direction) {
  return direction == TransformDirection::kEncrypt ? "encrypted" : "decrypted (plain text)";
}

// The sentence that ends a failed run's report: what it says of a file that
// is still there, or that another program removed it.
std::string Outcome(const Report& report, const std::string& unchanged) {
  return report.data_gone ? Format(kRemovedMeanwhile, report.data_path.c_str()) : unchanged;
}

std::string WhyReadOnly(const Report& report) {
  switch (report.because) {
    case ReadOnlyBecause::kMarked:
      return kMarked;
    case ReadOnlyBecause::kNoPermission:
      return kNoPermission;
    case ReadOnlyBecause::kOwnerNotKept:
      return kOwnerNotKept;
    case ReadOnlyBecause::kCheckFailed:
      break;
  }
  return Format(kCheckFailed, report.error.text.c_str());
}

WarningText Text(const Report& report) {
  const char* path = report.path.c_str();
  const char* reason = report.error.text.c_str();
  switch (report.event) {
    case Event::kSameFile:
      return {kSameFile, kSameFileCaption, ""};
    case Event::kNotFound:
      return {Format(kCannotFind, path), kInputCaption, ""};
    case Event::kIsFolder:
      return {Format(kIsFolder, path), kInputCaption, ""};
    case Event::kNotRegularFile:
      return {Format(kNotRegularFile, path), kInputCaption, ""};
    case Event::kIsLink:
      return {Format(kIsLink, path), kInputCaption, ""};
    case Event::kInUse:
      return {Format(kInUse, path), kInputCaption, ""};
    case Event::kCannotOpen:
      return {Format(kCouldNotOpen, path, reason), kReadCaption, ""};
    case Event::kCannotMakeReadOnly:
      return {kCannotMakeReadOnly, kCannotMakeReadOnlyCaption, ""};
    case Event::kOffsetOutOfRange:
      return {kOffsetRange, kOffsetRangeCaption, ""};
    case Event::kKeyEmpty:
      return {Format(kKeyEmpty, path), kKeyCaption, ""};
    case Event::kKeyMadeAnew:
      return {Format(kKeyMadeAnew, path), kKeyCaption, ""};
    case Event::kOutputIsInput:  // streams are the command line's
    case Event::kOutputIsKey:
      break;
    case Event::kWorkingIsInput:
      return {Format(kWorkingFileIsInput, report.working_path.c_str()), kWorkingFileCaption, ""};
    case Event::kWorkingInTheWay:
      return {Format(report.detail == "folder" ? kFolderInTheWay : kWorkingFileExists, path), kWorkingFileCaption, ""};
    case Event::kRunInProgress:
      return {Format(kRunInProgress, path), kWorkingFileCaption, ""};
    case Event::kCannotCreate:
      return {Format(kCouldNotCreate, path, reason), kWorkingFileCaption, ""};
    case Event::kCannotRead:
      return {Format(kCouldNotRead, path, reason, Outcome(report, kFileUnchanged).c_str()), kReadCaption, ""};
    case Event::kCannotWrite:
      return {Format(kCouldNotWrite, path, reason, Outcome(report, kOriginalUnchanged).c_str()), kWriteCaption, ""};
    case Event::kCannotWriteOutput:
      return {Format(kCouldNotWriteOutput, reason), kWriteCaption, ""};
    case Event::kWorkingCutShort:
      return {Format(kCouldNotWrite, path, kCutShort, Outcome(report, kOriginalUnchanged).c_str()), kWriteCaption, ""};
    case Event::kStopped:
      return {Format(kStopped, Outcome(report, Format(kNamedUnchanged, path)).c_str()), kStoppedCaption, ""};
    case Event::kDataChanged:
      return {Format(kDataChanged, path, Outcome(report, kLeftAsItIs).c_str()), kChangedCaption, ""};
    case Event::kKeyChanged:
      return {Format(kKeyChanged, path, Outcome(report, kKeyUnchanged).c_str()), kChangedCaption, ""};
    case Event::kWorkingChanged:
      return {Format(kWorkingFileChanged, path, Outcome(report, kDataUnchanged).c_str()), kChangedCaption, ""};
    case Event::kGuardNotKept:
      return {Format(kGuardNotKept, path, report.detail.c_str(), reason, Outcome(report, kFileUnchanged).c_str()),
              kWriteCaption, ""};
    case Event::kUnexpected:
      return {Format(kUnexpected, path, report.detail.c_str()), kUnexpectedCaption, ""};
    case Event::kReadOnly: {
      const std::string first = Format(kCouldNotDelete, path);
      return {first + Format(kResultIn, WhyReadOnly(report).c_str(), ResultWord(report.direction),
                             report.working_path.c_str()),
              kCouldNotDeleteCaption, first};
    }
    case Event::kDataInUse:
      return {Format(kDataInUse, path, ResultWord(report.direction), report.working_path.c_str()), kDataInUseCaption,
              ""};
    case Event::kNotReplaced: {
      const std::string first = Format(kNameLeftAs, report.working_path.c_str());
      return {first + Format(kNotReplacedWhy, report.data_path.c_str(), reason, ResultWord(report.direction)),
              kNameLeftAsCaption, first};
    }
    case Event::kDataRemoved:
      return {Format(kDataRemoved, path, ResultWord(report.direction), report.working_path.c_str()), kChangedCaption,
              ""};
    case Event::kAttributeNotKept:
      return {Format(kAttributeNotKept, path, report.detail.c_str(), reason), kRemarkCaption, ""};
    case Event::kNotFlushed:
      return {Format(kNotFlushed, path, reason), kRemarkCaption, ""};
  }
  return {report.path, kUnexpectedCaption, ""};
}

}  // namespace

WarningText WarningFor(const Report& report) {
  WarningText warning = Text(report);
  if (report.left_behind) {
    warning.text += Format(kNotRemoved, report.working_path.c_str(), report.not_removed.text.c_str());
  }
  return warning;
}

std::string ProgressTitle(const std::string& name, const std::string& extension, int percent) {
  return Format(kProgressTitle, name.c_str(), extension.c_str(), percent);
}
