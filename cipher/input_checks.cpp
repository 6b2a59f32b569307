#include "cipher/input_checks.h"

#include "os/file_system.h"
#include "text/fold.h"
#include "text/path_split.h"

os::Sameness CompareInputs(const std::string& data_path, const std::string& key_path, os::Error* error) {
  // Windows names are the same whatever the case of their letters.
  const bool same_text = kNativePaths.drive_letters ? SamePathText(data_path, key_path) : data_path == key_path;
  if (same_text) return os::Sameness::kSame;
  // Two spellings of one file pass the text test; using a file as its own key
  // would destroy it beyond recovery, so the disk is asked too.
  const os::Sameness sameness = os::CompareFiles(data_path, key_path, error);
  if (sameness != os::Sameness::kDifferent) return sameness;
  // And where the disk numbers one file twice (another mount of its folder;
  // exFAT through FUSE under Wine), a file that looks like the data file is
  // taken for it: a key refused wrongly costs a choice, a file enciphered
  // with itself is lost.
  const os::FileStatus data = os::StatusOf(data_path);
  const os::FileStatus key = os::StatusOf(key_path);
  return data.regular && key.regular && data.stamp.LooksLike(key.stamp) ? os::Sameness::kSame
                                                                          : os::Sameness::kDifferent;
}

bool CheckInputs(const std::string& data_path, const std::string& key_path, std::int32_t offset,
                 bool make_key_read_only, Notifier& notifier) {
  os::Error error;
  switch (CompareInputs(data_path, key_path, &error)) {
    case os::Sameness::kSame:
      notifier.Tell(ReportOf(Event::kSameFile, key_path, data_path, key_path));
      return false;
    case os::Sameness::kUnknown:  // a check that cannot be made is no pass
      notifier.Tell(ReportOf(Event::kCannotOpen, data_path, data_path, key_path, error));
      return false;
    case os::Sameness::kDifferent:
      break;
  }
  for (const std::string* path : {&data_path, &key_path}) {
    const os::Probed probed = os::Probe(*path);
    if (!probed.ok()) {
      notifier.Tell(ReportOf(OpenFailure(probed.how), *path, data_path, key_path, probed.error));
      return false;
    }
  }
  // Before the offset is checked, as in version 1.0x: an offset refused
  // afterwards still leaves the key guarded, which costs the user nothing.
  if (make_key_read_only && !os::MakeReadOnly(key_path)) {
    notifier.Tell(ReportOf(Event::kCannotMakeReadOnly, key_path, data_path, key_path, os::LastError()));
    return false;
  }
  if (offset < 0 || offset > 255) {
    notifier.Tell(ReportOf(Event::kOffsetOutOfRange, data_path, data_path, key_path));
    return false;
  }
  return true;
}

bool CheckStreamInputs(const std::string& input_path, const std::string& key_path, const std::string& output_path,
                       Notifier& notifier) {
  const auto refuse = [&](Event event, const std::string& path, const os::Error& error = {}) {
    Report report = ReportOf(event, path, input_path, key_path, error);
    report.stream = true;
    notifier.Tell(report);
    return false;
  };
  os::Error error;
  switch (CompareInputs(input_path, key_path, &error)) {
    case os::Sameness::kSame:
      return refuse(Event::kSameFile, key_path);
    case os::Sameness::kUnknown:
      return refuse(Event::kCannotOpen, input_path, error);
    case os::Sameness::kDifferent:
      break;
  }
  for (const std::string* input : {&input_path, &key_path}) {
    switch (os::CompareFiles(output_path, *input, &error)) {
      case os::Sameness::kSame:
        return refuse(input == &input_path ? Event::kOutputIsInput : Event::kOutputIsKey, output_path);
      case os::Sameness::kUnknown:
        return refuse(Event::kCannotOpen, output_path, error);
      case os::Sameness::kDifferent:
        break;
    }
  }
  return true;
}
