#pragma once

#include <cstddef>
#include <cstdint>

#include "cipher/notifier.h"
#include "os/file_system.h"

// A key file opened for a run, or why it cannot serve.
struct OpenedKey {
  bool ok = false;
  Event event = Event::kCannotOpen;  // when not ok
  os::Error error;
  std::int64_t length = 0;
  os::FileStamp as_read;
};

// Opens the key file at path for the whole run and checks that it holds
// bytes that can be had again, read where they lie (so that runs side by side
// may share one open key): an empty key protects nothing, and a key whose
// last byte is not where its length says is no file of bytes but one the
// system makes anew at each read (/proc, /sys), which could never decipher.
OpenedKey OpenKey(os::InputFile& key, const std::string& path);

// The key file's bytes in order; once they run out, the last one again and
// again. The key file must hold exactly the length it had when the run began:
// bytes missing before that length, or found after it, make the key file
// unreadable, since its bytes could never be had again to decipher.
class KeyStream {
 public:
  KeyStream(os::InputFile& file, std::int64_t length);

  enum class Read { kDone, kFailed, kChanged };

  // Fills out with the next count key bytes: done, or the system could not
  // read the key file, or it no longer holds what it held.
  Read Next(std::uint8_t* out, std::size_t count);

 private:
  os::InputFile& file_;
  const std::int64_t length_;
  std::int64_t position_ = 0;
  bool end_checked_ = false;
  std::uint8_t last_ = 0;
};
