#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cipher/transform.h"
#include "cipher/notifier.h"

using Bytes = std::vector<std::uint8_t>;

// The platform's own path separator.
extern const char kSeparator[];

// A fresh directory for one test, removed with everything in it afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // A path inside the directory, joined with the platform's separator.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

void WriteBytes(const std::string& path, const Bytes& bytes);
void AppendBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);
bool FileExists(const std::string& path);
bool MakeDirectory(const std::string& path);
// Clears the read-only attribute so the file can be changed again.
void MakeWritable(const std::string& path);
// A file of this length that takes no time to create: zeros except where written.
void MakeSparseFile(const std::string& path, std::int64_t length);

Bytes RandomBytes(std::size_t count, std::uint32_t seed);
Bytes Repeat(std::uint8_t byte, std::size_t count);

// The cipher worked out byte by byte, independently of the engine.
Bytes Expected(const Bytes& data, const Bytes& key, std::uint8_t offset, TransformDirection direction);

struct Warning {
  std::string text;
  std::string caption;
};

// Remembers what the engine told the user; an optional hook runs on each title.
class RecordingNotifier : public Notifier {
 public:
  void Warning(const std::string& text, const std::string& caption) override {
    warnings.push_back({text, caption});
  }
  void Title(const std::string& text) override {
    titles.push_back(text);
    if (on_title) on_title(text);
  }

  std::vector<::Warning> warnings;
  std::vector<std::string> titles;
  std::function<void(const std::string&)> on_title;
};

// Fails the test unless the notifier showed exactly this one warning.
void ExpectOnlyWarning(const RecordingNotifier& notifier, const std::string& text, const std::string& caption);

// Holds a file open, the way another program would, until destroyed.
class HeldOpen {
 public:
  explicit HeldOpen(const std::string& path);
  ~HeldOpen();
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;
  bool ok() const { return handle_ != -1; }

 private:
  std::intptr_t handle_ = -1;
};
