#include "cipher/input_checks.h"

#include "cipher/format.h"
#include "cipher/messages.h"
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

int CheckInputs(const std::string& data_path, const std::string& key_path, std::int32_t offset,
                int make_key_read_only, Notifier& notifier) {
  // Two spellings of one file pass the text test; using a file as its own key
  // would destroy it beyond recovery, so the disk is asked too.
  if (SamePathText(data_path, key_path) || os::SameFile(data_path, key_path)) {
    notifier.Warning(messages::kSameFile, messages::kSameFileCaption);
    return 0;
  }

  {
    os::FileProbe data(data_path, os::ProbeShare::kNone);
    if (!data.IsOpen()) {
      notifier.Warning(Format(messages::kCannotFind, data_path.c_str()), messages::kCannotFindCaption);
      return 0;
    }
  }

  {
    os::FileProbe key(key_path, os::ProbeShare::kRead);
    if (!key.IsOpen()) {
      notifier.Warning(Format(messages::kCannotFind, key_path.c_str()), messages::kCannotFindCaption);
      return 0;
    }
    // Before the offset is checked, as in version 1.0x: an offset refused
    // afterwards still leaves the key guarded, which costs the user nothing.
    if (make_key_read_only != 0 && !os::MakeReadOnly(key_path)) {
      notifier.Warning(messages::kCannotMakeReadOnly, messages::kCannotMakeReadOnlyCaption);
      return 0;
    }
  }

  if (offset < 0 || offset > 255) {
    notifier.Warning(messages::kOffsetRange, messages::kOffsetRangeCaption);
    return 0;
  }
  return 1;
}
