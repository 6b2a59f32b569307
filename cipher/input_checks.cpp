#include "cipher/input_checks.h"

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

bool IsSameFile(const std::string& data_path, const std::string& key_path) {
  // Two spellings of one file pass the text test; using a file as its own key
  // would destroy it beyond recovery, so the disk is asked too.
  return SamePathText(data_path, key_path) || os::SameFile(data_path, key_path);
}

int CheckInputs(const std::string& data_path, const std::string& key_path, std::int32_t offset,
                int make_key_read_only, Notifier& notifier) {
  if (IsSameFile(data_path, key_path)) {
    notifier.Tell(ReportOf(Event::kSameFile, key_path, data_path, key_path));
    return 0;
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
