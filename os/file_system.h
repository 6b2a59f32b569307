#pragma once

// The file services the engine needs, one implementation per platform:
// file_system_win32.cpp and file_system_posix.cpp. Paths are byte strings in
// the platform's own encoding (the ANSI code page on Windows, UTF-8 on POSIX).

#include <cstddef>
#include <cstdint>
#include <string>

namespace os {

// The three characters that end a working file's name, in this platform's
// path encoding: "1", "e with circumflex", "9".
extern const char kWorkingSuffix[];

// True when this byte starts a two-byte character in the path encoding, so
// the byte after it is never a separator or a full stop.
bool IsLeadByte(unsigned char byte);

enum class ProbeShare {
  kNone,  // fails while any other open of the file exists anywhere
  kRead,  // tolerates others that only read
};

// Opens an existing regular file for reading, only to learn that it can be
// opened; closes it when destroyed.
class FileProbe {
 public:
  FileProbe(const std::string& path, ProbeShare share);
  ~FileProbe();
  FileProbe(const FileProbe&) = delete;
  FileProbe& operator=(const FileProbe&) = delete;

  bool IsOpen() const { return handle_ != -1; }

 private:
  std::intptr_t handle_ = -1;
};

// A byte stream read from an existing file. Others may still read and write
// the file while it is open.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool Open(const std::string& path);
  void Close();

  // Reads up to size bytes; returns how many (0 at end of file) or -1 on error.
  std::int64_t Read(void* buffer, std::size_t size);

  // Positions in bytes; -1 on error.
  std::int64_t Tell();
  std::int64_t SeekToEnd();
  bool Seek(std::int64_t position);

 private:
  std::intptr_t handle_ = -1;
};

// A new file that did not exist before; an existing file is never opened.
class OutputFile {
 public:
  enum class Created { kNew, kAlreadyExists, kFailed };

  OutputFile() = default;
  ~OutputFile() { Close(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Access to the new file is never wider than to the file at model_path.
  Created Create(const std::string& path, const std::string& model_path);

  // Writes all size bytes or fails.
  bool Write(const void* buffer, std::size_t size);

  // Flushes to the disk, gives the file the model's permissions and reports
  // its length, or -1 when any of it failed.
  std::int64_t Finish();

  // Closes; false when the close itself reported an error.
  bool Close();

  // Closes and removes the file, whatever its attributes by now.
  void Discard();

 private:
  std::intptr_t handle_ = -1;
  std::string path_;
  std::string model_path_;
  std::int64_t written_ = 0;
  std::int64_t started_writeback_ = 0;
  static constexpr std::int64_t kWritebackChunk = 8 << 20;
};

// Deletes a file. Fails for a read-only file, as Windows does.
bool RemoveFile(const std::string& path);

// Moves a file to a new path; fails when the destination exists.
bool RenameFile(const std::string& from, const std::string& to);

// Adds the read-only attribute, keeping every other attribute.
bool MakeReadOnly(const std::string& path);
bool IsReadOnly(const std::string& path);

// True only when both paths name one existing file on disk.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace os
