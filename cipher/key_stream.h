#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cipher/notifier.h"
#include "os/file_system.h"

// A key file opened once, for one run or for every file of a command. Runs
// side by side share it: its bytes are read where they lie, and a key of up
// to kKeptKeyBytes is read once and kept.
class Key {
 public:
  static constexpr std::size_t kKeptKeyBytes = 1 << 20;

  // Opens the key file at path and checks that it holds bytes that can be
  // had again: an empty key protects nothing, and a key whose last byte is
  // not where its length says is no file of bytes but one the system makes
  // anew at each read (/proc, /sys), which could never decipher. False, with
  // the event and the system's reason, when it cannot serve.
  bool Open(const std::string& path, Event* event, os::Error* error);

  const std::string& path() const { return path_; }
  std::int64_t length() const { return length_; }
  const os::FileStamp& as_read() const { return as_read_; }

  // Whether the path still names the key file as it was read: a key
  // rewritten, renamed over or removed since could never decipher what was
  // enciphered with it.
  bool StillAsRead() const;

  enum class Read { kDone, kFailed, kChanged };

  // Copies count bytes of the key from position, all within its length:
  // done, or the system could not read the key file, or it no longer holds
  // what it held.
  Read BytesAt(std::int64_t position, std::uint8_t* out, std::size_t count) const;

 private:
  mutable os::InputFile file_;  // read only where its bytes lie, by any thread
  std::string path_;
  std::int64_t length_ = 0;
  os::FileStamp as_read_;
  std::vector<std::uint8_t> kept_;  // the whole key, where it is short enough
};

// A key's bytes in order; once they run out, the last one again and again.
class KeyStream {
 public:
  explicit KeyStream(const Key& key) : key_(key) {}

  // Fills out with the next count key bytes.
  Key::Read Next(std::uint8_t* out, std::size_t count);

 private:
  const Key& key_;
  std::int64_t position_ = 0;
  std::uint8_t last_ = 0;
};
