#include "cli/messages.h"

#include "os/posix.h"

namespace {

std::string Result(const Report& report) {
  return report.direction == TransformDirection::kEncrypt ? "the encrypted result" : "the decrypted result (plain text)";
}

std::string Done(const Report& report) { return DoneWord(report.direction); }

std::string WhyReadOnly(const Report& report) {
  switch (report.because) {
    case ReadOnlyBecause::kMarked:
      return "it is read-only";
    case ReadOnlyBecause::kNoPermission:
      return "you may not write it (" + report.error.text + ")";
    case ReadOnlyBecause::kOwnerNotKept:
      return "its owner and group could not be kept for the result";
    case ReadOnlyBecause::kCheckFailed:
      break;
  }
  return "whether it may be written could not be learnt (" + report.error.text + ")";
}

// A path as the user knows it: the standard streams by what they are.
std::string Named(const std::string& path, bool stream) {
  if (path == os::kStandardInputName || (stream && path == "-")) return "standard input";
  if (path == os::kStandardOutputName) return "standard output";
  return path;
}

// What happened to the file the report is about, after "vaultine: FILE: ".
std::string What(const Report& report) {
  const std::string& working = report.working_path;
  const std::string& reason = report.error.text;
  const std::string unchanged = report.data_gone     ? "; another program removed the file meanwhile"
                                : !report.stream     ? "; the file is unchanged"
                                : report.output_begun ? "; the output is incomplete"
                                                      : "; nothing was written";
  switch (report.event) {
    case Event::kSameFile:
      return (report.path == report.data_path ? std::string("is the key file")
                                              : "is " + Named(report.data_path, report.stream) + " itself under another name") +
             "; a file enciphered with itself could never be recovered";
    case Event::kNotFound:
      return reason.empty() ? "No such file or directory" : reason;
    case Event::kIsFolder:
      return "Is a directory";
    case Event::kNotRegularFile:
      return "not a regular file";
    case Event::kIsLink:
      return "a symbolic link, which is not followed; name the file it leads to";
    case Event::kInUse:
      return "another program has it open for writing; try again once it is done";
    case Event::kCannotOpen:
      return reason;
    case Event::kCannotMakeReadOnly:
      return "cannot make it read-only: " + reason;
    case Event::kOffsetOutOfRange:
      return "the offset must be from 0 to 255";
    case Event::kKeyEmpty:
      return "the key file is empty; a key needs at least one byte";
    case Event::kKeyMadeAnew:
      return "its content is made anew at each read, so it could never decrypt the file";
    case Event::kOutputIsInput:
    case Event::kOutputIsKey:
      break;  // said whole, in MessageFor
    case Event::kWorkingIsInput:
      return "its working file would be " + working + ", which is this file or the key file; rename that file, "
             "then try again";
    case Event::kWorkingInTheWay:
      if (report.detail == "folder") return "a folder, " + working + ", is in the way of its working file; rename it";
      if (!report.detail.empty()) {
        return working + " is in the way of its working file: " + report.detail +
               ", left by an earlier run or at work in one, which cannot be told; the file is whole: once no run is "
               "at work on it, have " + working + " removed or renamed, then try again";
      }
      return working + " is in the way of its working file, left by an earlier run that did not finish or could "
             "not replace the file; the file is whole: remove or rename " + working + ", then try again";
    case Event::kRunInProgress:
      return "another run is working on it (writing " + working + "); try again once it is done";
    case Event::kCannotCreate:
      return "cannot create the working file " + working + ": " + reason;
    case Event::kCannotRead:
      return "read error: " + reason + unchanged;
    case Event::kCannotWrite:
      return "cannot write the working file " + working + ": " + reason + unchanged;
    case Event::kCannotWriteOutput:
      return reason + unchanged;
    case Event::kWorkingCutShort:
      return "another program cut the working file " + working + " short" + unchanged;
    case Event::kStopped:
      return "stopped" + unchanged;
    case Event::kDataChanged:
      return "changed by another program during the run; left as it now is";
    case Event::kKeyChanged:
      if (report.stream) return "changed by another program during the run; the output is not to be used";
      return "changed by another program during the run; " + report.data_path + " is unchanged";
    case Event::kWorkingChanged:
      return "another program removed or replaced the working file " + working + unchanged;
    case Event::kGuardNotKept:
      return "cannot give the working file its " + report.detail + " (" + reason +
             "), which may decide who can read it" + unchanged;
    case Event::kUnexpected:
      return report.detail + unchanged;
    case Event::kReadOnly:
      return "not replaced: " + WhyReadOnly(report) + "; " + Result(report) + " is in " + working;
    case Event::kDataRemoved:
      return "removed by another program during the run; " + Result(report) + " is in " + working;
    case Event::kDataInUse:
      return "in use by another program, so not replaced; " + Result(report) + " is in " + working;
    case Event::kNotReplaced:
      return "could not be replaced (" + reason + "); " + Result(report) + " is in " + working;
    case Event::kAttributeNotKept:
      return Done(report) + " without its attribute " + report.detail + ", which this file system cannot keep (" +
             reason + ")";
    case Event::kNotFlushed:
      return Done(report) + ", but its folder could not be flushed (" + reason +
             "): the result may not be on disk yet";
  }
  return report.detail;
}

// Whom the line is about: the data file, where the report concerns its
// working file.
const std::string& Subject(const Report& report) {
  switch (report.event) {
    case Event::kCannotCreate:
    case Event::kCannotWrite:
    case Event::kWorkingCutShort:
    case Event::kWorkingChanged:
    case Event::kWorkingInTheWay:
    case Event::kRunInProgress:
      return report.data_path;
    default:
      return report.path;
  }
}

}  // namespace

std::string MessageFor(const Report& report) {
  if (report.event == Event::kOutputIsInput || report.event == Event::kOutputIsKey) {
    return "vaultine: " + Named(report.path, true) + " is " +
           (report.event == Event::kOutputIsInput ? "the input" : "the key file") + "; nothing was written";
  }
  std::string message = "vaultine: " + Named(Subject(report), report.stream) + ": " + What(report);
  if (report.left_behind) {
    message += "; the working file " + report.working_path + " could not be removed (" + report.not_removed.text + ")";
  }
  return message;
}

const char* DoneWord(TransformDirection direction) {
  return direction == TransformDirection::kEncrypt ? "encrypted" : "decrypted";
}
