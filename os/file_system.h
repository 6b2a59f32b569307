#pragma once

// The file services the engine needs, one implementation per platform:
// file_system_win32.cpp and file_system_posix.cpp; file_system.cpp holds what
// both share. Paths are byte strings in the platform's own encoding (the ANSI
// code page on Windows, UTF-8 on POSIX).

#include <cstddef>
#include <cstdint>
#include <string>

namespace os {

// The three characters that end a working file's name, in this platform's
// path encoding: "1", "e with circumflex", "9".
extern const char kWorkingSuffix[];

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

// Which file a path named, and how it stood: the same file with the same size
// and times has not been written since, nor had its owner or permissions
// changed (POSIX keeps a time of that change; Windows leaves it 0).
struct FileStamp {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::int64_t size = -1;
  std::int64_t modified = 0;
  std::int64_t changed = 0;

  bool IsSameFileAs(const FileStamp& other) const {
    return volume == other.volume && index == other.index;
  }
  bool operator==(const FileStamp& other) const {
    return IsSameFileAs(other) && size == other.size && modified == other.modified && changed == other.changed;
  }
  bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

// The folder that holds a file, opened once for a run. On POSIX every later
// step names its file relative to it, so a folder renamed or swapped for a
// link during the run cannot send a step elsewhere. Windows names files by
// full path; there the files a run holds open cannot be renamed away.
class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Opens the folder of the file at path (the current folder when the path
  // names none).
  bool OpenFolderOf(const std::string& path);

  // Flushes the folder's entries to the disk, so that a new or renamed file
  // survives a power cut.
  bool Flush() const;

  // The bytes its file system has free for this user, or -1.
  std::int64_t AvailableBytes() const;

 private:
  friend class InputFile;
  friend class NewFile;
  friend class WorkingFile;
  std::intptr_t handle_ = -1;
};

// A byte stream read from an existing regular file. Others may still read and
// write the file while it is open.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool Open(const std::string& path);
  // Opens the file at path, which lies in folder, without following a link
  // in its last part.
  bool OpenIn(const Folder& folder, const std::string& path);
  void Close();

  // Reads up to size bytes; returns how many (0 at end of file) or -1 on error.
  std::int64_t Read(void* buffer, std::size_t size);
  // Reads size bytes unless the file ends first; returns how many, or -1.
  std::int64_t ReadFully(void* buffer, std::size_t size);

  // Positions in bytes; -1 on error.
  std::int64_t Tell();
  std::int64_t SeekToEnd();
  bool Seek(std::int64_t position);

  // The open file's stamp; its size is -1 when it cannot be learnt.
  FileStamp Stamp() const;

 private:
  friend class WorkingFile;
  std::intptr_t handle_ = -1;
};

// A file this run creates in a folder, where nothing was before. Unless it
// is kept, it is removed when this object goes, whatever way the run ends;
// a file that another program put at its path is never touched.
class NewFile {
 public:
  enum class Created { kNew, kAlreadyExists, kFailed };

  explicit NewFile(const Folder& folder);
  virtual ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // Creates the file at path, in the folder, only if nothing is there yet.
  // Until it is finished only its owner may use it, and nobody else may
  // write it.
  Created Create(const std::string& path);

  // Writes all size bytes or fails.
  bool Write(const void* buffer, std::size_t size);

  // Readable and writable by its owner only, whatever the umask.
  bool MakePrivate();

  // Flushes its bytes to the disk, then closes it.
  bool FlushAndClose();

  // Whether its path still names this file.
  bool IsStillAtItsPath() const;

  // Leaves the file where it is when this object goes.
  void Keep() { keep_ = true; }

 protected:
  void Close();

  const Folder& folder_;
  std::intptr_t handle_ = -1;
  std::string path_;
  FileStamp identity_;
  bool keep_ = false;
  std::int64_t written_ = 0;
  std::int64_t started_writeback_ = 0;
};

// The working file of one run: a new file beside the data file that receives
// the result and then takes the data file's place in one step.
class WorkingFile : public NewFile {
 public:
  enum class Replaced {
    kDone,            // the data path now holds the result
    kDataReadOnly,    // the data file is read-only, its user may not write it, or
                      // the result could not keep its owner and group
    kDataChanged,     // the data file is gone or was written since it was read
    kWorkingChanged,  // the working path no longer names this run's file
    kFailed,          // the system refused the replacement; the data file is whole
  };

  using NewFile::NewFile;

  // Creates it, with the data file's owner and group where this user may give
  // them.
  Created Create(const std::string& path, const InputFile& data);

  // Gives the file what guards the data file (owner, group, permission bits,
  // POSIX ACL and extended attributes; the hidden and system attributes on
  // Windows; never wider access), flushes it to the disk and returns its
  // length, or -1 when any of it failed.
  std::int64_t Finish(const InputFile& data);

  // Puts the finished file in the data file's place in one step, provided the
  // data file is still as it was read, the working path still names this file
  // as Finish left it, and the data file may be written and keep its owner and
  // group. The data path holds the whole original or the whole result at every
  // instant.
  Replaced Replace(const std::string& data_path, const FileStamp& data_as_read);

 private:
  FileStamp finished_;
};

// What a path names, following links: whether it exists and is a regular
// file, how many names it has, and its stamp.
struct FileStatus {
  bool exists = false;
  bool regular = false;
  std::uint64_t links = 0;
  FileStamp stamp;
};
FileStatus StatusOf(const std::string& path);

// The file a symbolic link leads to, so that a working file goes beside the
// file itself and the link keeps leading to the result; any other path as it
// is.
std::string ResolveLink(const std::string& path);

// Opens standard input, output and error on the null device where the
// caller left them closed, so that no file opened later takes their place.
void KeepStandardStreamsOpen();

// The system's reason for the last call of this seam that failed, in words
// ("Permission denied"); to be taken at once, before other calls replace it.
std::string LastErrorText();

// Adds the read-only attribute, keeping every other attribute.
bool MakeReadOnly(const std::string& path);
bool IsReadOnly(const std::string& path);

// True only when both paths name one existing file on disk.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace os
