#include "cipher/input_checks.h"

#include "cipher/path_split.h"
#include "os/file_system.h"

namespace {

char FoldAsciiCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool SamePathText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::string::size_type i = 0; i < a.size(); ++i) {
    if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) return false;
  }
  return true;
}

os::Sameness CompareInputs(const std::string& data_path, const std::string& key_path, os::Error* error) {
  // Windows names are the same whatever the case of their letters.
  const bool same_text = kNativePaths.drive_letters ? SamePathText(data_path, key_path) : data_path == key_path;
  if (same_text) return os::Sameness::kSame;
  // Two spellings of one file pass the text test; using a file as its own key
  // would destroy it beyond recovery, so the disk is asked too.
  return os::CompareFiles(data_path, key_path, error);
}

int CheckInputs(const std::string& data_path, const std::string& key_path, std::int32_t offset,
                int make_key_read_only, Notifier& notifier) {
  os::Error error;
  switch (CompareInputs(data_path, key_path, &error)) {
    case os::Sameness::kSame:
      notifier.Tell(ReportOf(Event::kSameFile, key_path, data_path, key_path));
      return 0;
    case os::Sameness::kUnknown:  // a check that cannot be made is no pass
      notifier.Tell(ReportOf(Event::kCannotOpen, data_path, data_path, key_path, error));
      return 0;
    case os::Sameness::kDifferent:
      break;
  }
  for (const std::string* path : {&data_path, &key_path}) {
    const os::Probed probed = os::Probe(*path);
    if (!probed.ok()) {
      notifier.Tell(ReportOf(OpenFailure(probed.how), *path, data_path, key_path, probed.error));
      return 0;
    }
  }
  // Before the offset is checked, as in version 1.0x: an offset refused
  // afterwards still leaves the key guarded, which costs the user nothing.
  if (make_key_read_only != 0 && !os::MakeReadOnly(key_path)) {
    notifier.Tell(ReportOf(Event::kCannotMakeReadOnly, key_path, data_path, key_path, os::LastError()));
    return 0;
  }
  if (offset < 0 || offset > 255) {
    notifier.Tell(ReportOf(Event::kOffsetOutOfRange, data_path, data_path, key_path));
    return 0;
  }
  return 1;
}
