#pragma once

// The file services the engine needs, one implementation per platform:
// file_system_win32.cpp and file_system_posix.cpp; file_system.cpp holds what
// both share. Paths are UTF-8 on Windows, converted at the Win32 calls, and
// bytes on POSIX, as the system gives them. Every result that can fail
// carries the system's reason, taken at the call that failed. Every call to
// the system goes through the hook of system_calls.h.
//
// These are primitives: what counts as a changed file, and in which order
// the rules of a replacement apply, the engine decides (cipher/).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace os {

// The three characters that end a working file's name: "1", "e with
// circumflex", "9", as this system has always spelled them on disk.
const std::string& WorkingSuffix();

// The system's reason for a failure.
struct Error {
  int code = 0;      // errno, or the Windows error code
  std::string text;  // in words: "Permission denied"
  bool operator==(const Error& other) const { return code == other.code && text == other.text; }
};

// The reason for the last call that failed; to be taken at once, before
// other calls replace it.
Error LastError();
std::string LastErrorText();

// Whether a file could not be read at a position because it has no
// positions: its content is made as it is read (some files under /proc).
bool HasNoEnd(const Error& error);

// How opening an existing file for reading went.
enum class Opened {
  kOpen,
  kNotFound,    // nothing is there
  kFolder,      // a folder is there
  kNotRegular,  // a FIFO, socket or device is there
  kLink,        // a symbolic link is there, which is not followed
  kInUse,       // another program has it open for writing
  kFailed,      // the system refused (error)
};

// Which file a path named, and how it stood: the same file with the same size
// and times has not been written since, nor had its owner or permissions
// changed (POSIX keeps a time of that change; Windows leaves it 0). Times are
// in nanoseconds (POSIX) or hundreds of them (Windows) from the system's
// epoch, whatever the year.
struct FileStamp {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::int64_t size = -1;  // -1: not known
  std::int64_t modified = 0;
  std::int64_t changed = 0;
  std::int64_t created = 0;  // Windows only; POSIX leaves it 0

  bool known() const { return size >= 0; }
  bool IsSameFileAs(const FileStamp& other) const {
    return volume == other.volume && index == other.index;
  }
  bool operator==(const FileStamp& other) const {
    return IsSameFileAs(other) && size == other.size && modified == other.modified && changed == other.changed;
  }
  bool operator!=(const FileStamp& other) const { return !(*this == other); }
  // Another number, but the same size and times: on POSIX the change time
  // too, to the nanosecond, on another disk: the same file seen through
  // another mount of its folder (a bind mount, bindfs), which numbers it
  // apart. On Windows the creation time too, to the hundred nanoseconds,
  // wherever the numbers disagree: under Wine a FUSE disk (exFAT) gives each
  // spelling of a name a number of its own, and Wine shows no other sign.
  bool LooksLike(const FileStamp& other) const {
    if (IsSameFileAs(other) || size != other.size || modified != other.modified) return false;
    if (changed != 0) return volume != other.volume && changed == other.changed;
    return created != 0 && created == other.created;
  }
};

// What one look at a file tells.
struct FileFacts {
  enum class Kind { kRegular, kFolder, kLink, kOther };
  Kind kind = Kind::kOther;
  FileStamp stamp;
  std::uint64_t links = 0;
  // The read-only attribute, or (POSIX) no write permission bit at all: root
  // may write it, but it is meant to stay as it is.
  bool marked_read_only = false;
  std::uint32_t mode = 0;   // POSIX: the permission bits, with setuid, setgid and sticky
  std::uint32_t owner = 0;  // POSIX: the owner and group; Windows: 0
  std::uint32_t group = 0;
};

struct Probed {
  Opened how = Opened::kFailed;
  Error error;  // for kFailed
  // kInUse (POSIX): what was found there, so that a caller at work on it
  // itself can tell.
  FileFacts facts;
  bool ok() const { return how == Opened::kOpen; }
};

// Whether the file at path can be opened for reading, and is not open for
// writing in another program; nothing stays open. Others that only read it
// do not count.
Probed Probe(const std::string& path);

// What tells a file from every other: its disk and its number, or, on a disk
// that gives each spelling of a name a number of its own (exFAT and others
// through FUSE), its disk and its path as the folders list it, found as the
// disk folds names.
struct FileKey {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::string listed;  // only where numbers do not tell

  bool IsSameFileAs(const FileKey& other) const {
    return volume == other.volume && (index == other.index || (!listed.empty() && listed == other.listed));
  }
};
enum class Keyed { kKeyed, kNothing, kFailed };

// A note of the program's own on a file (POSIX: see posix.h).
enum class Note;

// How a look at a name in a folder went.
enum class Looked { kFound, kNothing, kFailed };

// Whether this user may write a file, beyond its read-only mark.
enum class WriteRight { kMay, kMayNot, kUnknown };

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
  // names none), closing any folder opened before.
  bool OpenFolderOf(const std::string& path);

  // The facts of the entry name in this folder, without following a link.
  Looked Look(const std::string& name, FileFacts* facts, Error* error) const;

  // Whether this user may write the file name in this folder, as facts
  // found it (its access list, a read-only disk); error says why not.
  WriteRight MayWrite(const std::string& name, const FileFacts& facts, Error* error) const;

  // Whether another program is writing the file name in this folder
  // (another run, its working file): POSIX cannot tell for a file this user
  // may not open, or may not take a lease on (another user's). A working file
  // that is gone was most often put in place by its run a moment ago.
  enum class Writing { kNo, kYes, kCannotTell, kGone };
  Writing IsBeingWritten(const std::string& name) const;

  // Flushes the folder's entries to the disk, so that a new or renamed file
  // survives a power cut.
  bool Flush() const;

  // The bytes its file system has free for this user, or -1.
  std::int64_t AvailableBytes() const;

  // Learns what it is and whether its disk is a FUSE one, where each
  // spelling of a name may get a number of its own (exFAT), so that files
  // there may be told apart by their names as listed; false (LastError says
  // why) when it cannot.
  bool LookAtDisk();
  bool TellsFilesByListing() const { return by_listing_; }
  // What it is, as LookAtDisk found.
  const FileStamp& stamp() const { return stamp_; }

 private:
  friend class InputFile;
  friend class NewFile;
  friend class WorkingFile;
  friend class TreeWalk;
  friend Keyed KeyIn(const Folder&, const std::string&, const FileFacts&, FileKey*, Error*);
  // POSIX: takes fd, a folder just opened.
  void Take(int fd);
  std::intptr_t handle_ = -1;
  bool listable_ = true;  // POSIX: false when opened only to name files in
  bool by_listing_ = false;  // as LookAtDisk found
  FileStamp stamp_;
  std::string path_;      // Windows: the folder, from which its files are named
};

// A byte stream read from an existing regular file.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens the file at path (following links) for the whole run. Others may
  // read it meanwhile; where the system allows, nobody may write it.
  Probed Open(const std::string& path);
  // The same for the file name in folder, without following a link there,
  // and for the whole run: a read lease, where one can be had, tells when
  // another program opens it for writing.
  Probed OpenIn(const Folder& folder, const std::string& name);
  // Opens what a stream is read from: a regular file as Open does, or a
  // FIFO or a device, which may wait for its writer.
  Probed OpenStream(const std::string& path);
  // Reads standard input, which stays open.
  void UseStandardInput();
  void Close();

  // The facts of the file as it was opened, taken once.
  const FileFacts& facts() const { return facts_; }
  // Its length as opened; -1 for a stream.
  std::int64_t Length() const { return facts_.stamp.size; }

  // Reads up to size bytes; returns how many (0 at end of file) or -1 on error.
  std::int64_t Read(void* buffer, std::size_t size);
  // Reads size bytes unless the file ends first; returns how many, or -1.
  std::int64_t ReadFully(void* buffer, std::size_t size);
  // Reads up to size bytes from position, leaving the stream's own position
  // where it was, so that threads may share one file; -1 on error.
  std::int64_t ReadAt(void* buffer, std::size_t size, std::int64_t position);

  // The open file's stamp now; not known() when the system cannot say.
  FileStamp Stamp() const;

  // Whether another program opened the file for writing since OpenIn opened
  // it here: that program got it at once, and the run must not replace it.
  // Also true when the system cannot tell any more; false where it never
  // could (another user's file, a network disk).
  bool WrittenElsewhereSince() const;

 private:
  friend class WorkingFile;
  friend Note ReadNote(const InputFile&, const std::string&, std::string*, Error*);
  // Takes handle, open for reading, as a regular file that no other program
  // writes, or closes it and says why not; a lease is held on it when asked.
  // known: its facts, where they were taken already.
  Probed Take(std::intptr_t handle, bool hold_lease, const FileFacts* known = nullptr);
  std::intptr_t handle_ = -1;
  bool owned_ = true;
  bool leased_ = false;  // POSIX: a read lease is held, which a writer's open breaks
  FileFacts facts_;
};

// A file this run creates in a folder, where nothing was before. Unless it
// is kept, it is removed when this object goes, whatever way the run ends;
// a file that another program put at its path is never touched.
class NewFile {
 public:
  enum class Created {
    kNew,
    kAlreadyExists,  // another file is at the path
    kInUse,          // and another program is writing it
    kCannotTell,     // and whether another program is writing it cannot be told
    kFailed,         // the system refused (LastError says why)
  };
  enum class Removed { kRemoved, kGone, kFailed };

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

  // Readable and writable by its owner only, whatever the umask. Some file
  // systems (exFAT, FAT) take the request and keep a mode of their own.
  enum class Privacy { kPrivate, kNotKept, kFailed };
  Privacy MakePrivate();

  // Flushes its bytes to the disk, then closes it.
  bool FlushAndClose();

  // Whether its path still names this file.
  bool IsStillAtItsPath() const;

  // Removes it now, if its path still names it; error says why it could not.
  Removed Remove(Error* error);

  // What it is, as looked at through its handle (once); null when the
  // system cannot say.
  const FileFacts* Identity();

  // Leaves the file where it is when this object goes.
  void Keep() { keep_ = true; }

  const std::string& path() const { return path_; }

 protected:
  friend Note WriteNote(const NewFile&, const std::string&, const std::string&, Error*);
  friend Note RemoveNote(const NewFile&, const std::string&, Error*);
  friend void RemoveUnfinishedFiles();
  // Creates it as Create does, guarded as security says (a Windows security
  // descriptor) rather than by the folder's defaults; POSIX guards a file
  // once it is written.
  Created CreateWith(const std::string& path, const void* security);
  // Closes it; false (LastError says why) when the system reports a failure.
  bool Close();

  const Folder& folder_;
  std::intptr_t handle_ = -1;
  std::string path_;
  FileFacts created_;  // what it is, once looked at
  bool keep_ = false;
  std::int64_t written_ = 0;
  std::int64_t started_writeback_ = 0;
};

// The working file of one run: a new file beside the data file that receives
// the result and then takes the data file's place in one step. Which checks
// come before that step, and in which order, is the engine's to decide.
class WorkingFile : public NewFile {
 public:
  struct Finished {
    enum Result { kDone, kGuardNotKept, kFailed, kRefused } result = kFailed;
    std::int64_t length = -1;
    std::string attribute;  // kGuardNotKept: which
    Error error;
    // Attributes that narrow nothing and that this file system could not
    // take: the result goes without them.
    std::vector<std::pair<std::string, Error>> not_kept;
  };

  enum class Renamed {
    kDone,    // the data path now holds this file
    kInUse,   // another program holds the data file so that it cannot be replaced (error)
    kFailed,  // the system refused (error); the data file is whole
  };

  using NewFile::NewFile;

  // Creates it, with the data file's owner and group where this user may give
  // them.
  Created Create(const std::string& path, const InputFile& data);

  // Gives the file what guards the data file (owner, group, permission bits,
  // POSIX ACL and extended attributes; the hidden and system attributes on
  // Windows), never wider access than the data file's, flushes it to the disk
  // and tells its length. An attribute that narrows access and cannot go with
  // the file fails it. Once its attributes are copied and its stamp is taken
  // (finished()), and before its permissions narrow, noted may add notes of
  // its own; false from it leaves the file unfinished (kRefused). It stays
  // open until it is renamed or removed, so that another run tells it from a
  // leftover.
  Finished Finish(const InputFile& data, const std::function<bool()>& noted = nullptr);

  // Whether it has the data file's owner and group, so that the file would
  // not change hands.
  bool KeepsOwnerOf(const InputFile& data) const;

  // Whether the working path still names this file, as Finish left it.
  // Windows renames no open file: there it is closed first, and from then on
  // others could write it.
  bool IsAsFinished();

  // Puts it at data_path in one step, over the data file, and closes data;
  // the folder is not flushed. The data path holds the whole original or the
  // whole result at every instant. Windows replaces no file that is open, so
  // data is closed just before; POSIX closes it just after, so that its lease
  // keeps writers out until then.
  Renamed RenameOver(const std::string& data_path, InputFile& data, Error* error);

  // Its stamp as Finish left it: what the data path holds once it is renamed.
  const FileStamp& finished() const { return finished_; }

  // POSIX, from Finish's noted: gives it the modification time modified
  // (nanoseconds since 1970), and finished() with it; false (errno says why)
  // when it cannot.
  bool SetModified(std::int64_t modified);

 private:
  // POSIX: gives the model's owner and group, where this user may.
  void GiveOwner(const FileFacts& model);

  FileStamp finished_;
  std::uint32_t owner_ = 0;  // POSIX: as given at Create, then as Finish found
  std::uint32_t group_ = 0;
  [[maybe_unused]] bool keeps_owner_ = true;  // Windows: as Finish found it
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

// Adds the read-only attribute, keeping every other attribute.
bool MakeReadOnly(const std::string& path);
bool IsReadOnly(const std::string& path);

Keyed KeyOf(const std::string& path, FileKey* key, Error* error);

// Whether two paths name one file, however each is spelled; unknown (with
// the system's reason) when the system cannot say. A path that names nothing
// names no file the other does.
enum class Sameness { kDifferent, kSame, kUnknown };
Sameness CompareFiles(const std::string& a, const std::string& b, Error* error);
// The same, where only a sure yes counts.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace os
