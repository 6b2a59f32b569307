#pragma once

// What the POSIX side of the file layer offers beyond the portable seam, for
// the command-line companion: the standard streams and the names a path has.

#include <cstddef>
#include <string>

#include "os/file_system.h"

namespace os {

// Lease breaks (a writer opening a file a run holds) are answered by a
// thread of their own, whatever the others are doing: to be called before any
// other thread starts, which then keep the signal out as this one does.
void CatchLeaseBreaks();

// The names of the standard streams, by which the files they are open on can
// be compared with others.
constexpr char kStandardInputName[] = "/dev/stdin";
constexpr char kStandardOutputName[] = "/dev/stdout";

// Writes all size bytes to standard output, or fails.
bool WriteStandardOutput(const void* buffer, std::size_t size);
bool StandardOutputIsTerminal();

// Opens standard input, output and error on the null device where the
// caller left them closed, so that no file opened later takes their place;
// says which were closed. failed: one could not be opened there.
struct ClosedStreams {
  bool input = false;
  bool output = false;
  bool error = false;
  bool failed = false;
};
ClosedStreams KeepStandardStreamsOpen();

// The key of the file name in folder, whose facts were taken, as KeyOf
// gives it: from the open folder, and on a disk that tells files by listing,
// with each folder listed once for all its files.
Keyed KeyIn(const Folder& folder, const std::string& name, const FileFacts& facts, FileKey* key, Error* error);

// A note of the program's own on a file: an extended attribute in the user's
// namespace ("user." and name), which travels with the file (cp -a, rsync -X,
// tar --xattrs) and grants or denies nothing.
enum class Note {
  kFound,    // read, or written or removed
  kNone,     // the file has no such note
  kNotKept,  // its disk keeps no such notes (exFAT, a FUSE layer without them)
  kFailed,   // error
};
Note ReadNote(const InputFile& file, const std::string& name, std::string* value, Error* error);
Note WriteNote(const NewFile& file, const std::string& name, const std::string& value, Error* error);
Note RemoveNote(const NewFile& file, const std::string& name, Error* error);

// The facts of what path names, a link there not followed.
Looked LookAt(const std::string& path, FileFacts* facts, Error* error);

// Where a symbolic link leads, link after link.
struct LinkTarget {
  enum How {
    kFile,       // path: the file at the end, named without links
    kOpenFile,   // through: a link by way of /proc, to a file open in a process or a process's folder, not a path
    kBroken,     // error: it leads nowhere
  } how = kBroken;
  std::string path;
  std::string through;
  Error error;
};
LinkTarget FollowLink(const std::string& link);

}  // namespace os
