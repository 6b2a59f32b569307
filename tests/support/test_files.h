#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cipher/transform.h"

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

// A stdio stream on the file at path, spelled exactly as given (a name that
// ends in a full stop too, on Windows); null when it cannot be opened.
std::FILE* OpenStream(const std::string& path, const char* mode);

void WriteBytes(const std::string& path, const Bytes& bytes);
void AppendBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);
bool FileExists(const std::string& path);
// Removes the file at path, read-only or not, if there is one.
void RemoveFile(const std::string& path);
bool MakeDirectory(const std::string& path);
// Clears the read-only attribute so the file can be changed again.
void MakeWritable(const std::string& path);
// The bytes free on the disk that holds path, for this user.
std::int64_t FreeBytes(const std::string& path);
// A file of this length that takes no time to create: zeros except where written.
void MakeSparseFile(const std::string& path, std::int64_t length);

Bytes RandomBytes(std::size_t count, std::uint32_t seed);
Bytes Repeat(std::uint8_t byte, std::size_t count);

// The cipher worked out byte by byte, independently of the engine.
Bytes Expected(const Bytes& data, const Bytes& key, std::uint8_t offset, TransformDirection direction);

// Remembers what the engine told; an optional hook runs at each progress
// step, with its percentage.
class RecordingNotifier : public Notifier {
 public:
  void Tell(const Report& report) override { reports.push_back(report); }
  void Progress(const std::string& name, const std::string& extension, int percent) override {
    progress.push_back(name + extension + " " + std::to_string(percent) + "%");
    if (on_progress) on_progress(percent);
  }

  std::vector<Report> reports;
  std::vector<std::string> progress;  // "report.txt 51%"
  std::function<void(int percent)> on_progress;
};

// Fails the test unless the notifier told exactly one thing: this event,
// about this path.
void ExpectOnly(const RecordingNotifier& notifier, Event event, const std::string& path);

// Holds a file open, the way another program would, until destroyed.
class HeldOpen {
 public:
  enum Mode { kReading, kWriting };
  explicit HeldOpen(const std::string& path, Mode mode = kReading);
  ~HeldOpen();
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;
  bool ok() const { return handle_ != -1; }

 private:
  std::intptr_t handle_ = -1;
};
