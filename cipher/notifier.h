#pragma once

#include <string>

#include "os/file_system.h"

enum class TransformDirection { kEncrypt, kDecrypt };

// Why a data file may not be replaced.
enum class ReadOnlyBecause {
  kMarked,        // the read-only attribute, or no write permission bits
  kNoPermission,  // this user may not write it
  kOwnerNotKept,  // the result could not keep its owner and group
  kCheckFailed,   // the system could not say (error)
};

// What the engine tells a front end. Each front end words it its own way: the
// Windows program with the texts its users know, the command line as Unix
// tools write.
enum class Event {
  // Refused before anything is written.
  kSameFile,            // the key file is the data file under another name
  kNotFound,            // path: nothing there
  kIsFolder,            // path: a folder
  kNotRegularFile,      // path: a FIFO, socket or device
  kIsLink,              // path: a symbolic link, which is not followed
  kInUse,               // path: another program has it open for writing
  kCannotOpen,          // path: the system refused to open it (error)
  kCannotMakeReadOnly,  // path (the key): error
  kOffsetOutOfRange,
  kKeyEmpty,            // path (the key) holds no byte
  kKeyMadeAnew,         // path (the key) claims a length its content does not have (/proc, /sys)
  kOutputIsInput,       // a stream's output (path) is its input
  kOutputIsKey,         // a stream's output (path) is the key file
  kWorkingIsInput,      // the working path names the data file or the key file (path: which)
  kWorkingInTheWay,     // another file is at the working path, left by an earlier run
                        // (detail "folder": a folder is there)
  kRunInProgress,       // another run is writing the working file
  kCannotCreate,        // the working file could not be created (error)
  // The run failed; the data file is as it was.
  kCannotRead,          // path: the data file or the key file (error)
  kCannotWrite,         // the working file (error)
  kCannotWriteOutput,   // standard output, for a stream (error)
  kWorkingCutShort,     // another program cut the working file short
  kStopped,             // a stop was requested
  kDataChanged,         // another program changed the data file
  kKeyChanged,          // another program changed the key file
  kWorkingChanged,      // another program removed or replaced the working file
  kGuardNotKept,        // an attribute that narrows access (detail) could not go with the file (error)
  kUnexpected,          // anything else (detail: what)
  // At the end: the result is at the working path, not in the data file's place.
  kReadOnly,            // the data file may not be replaced (why)
  kDataInUse,           // another program holds the data file open
  kDataRemoved,         // another program removed the data file: the result is all that is left
  kNotReplaced,         // the system refused the replacement (error)
  // The data path holds the result, with a remark.
  kAttributeNotKept,    // an attribute that narrows nothing (detail) was not kept (error)
  kNotFlushed,          // the folder could not be flushed (error): the result may not be on disk yet
};

struct Report {
  Event event;
  std::string path;  // the file it is about
  std::string data_path;
  std::string key_path;
  std::string working_path;
  TransformDirection direction = TransformDirection::kEncrypt;
  os::Error error;     // the system's reason, where there is one
  std::string detail;  // an attribute's name, or what went wrong
  ReadOnlyBecause because = ReadOnlyBecause::kMarked;  // kReadOnly
  // Set when the working file should have gone but could not be removed: it
  // stays at working_path.
  os::Error not_removed;
  bool left_behind = false;
  // Set when a run that failed found the data file gone: another program
  // removed it, or its folder, meanwhile; it is not "unchanged".
  bool data_gone = false;
  // A run to standard output, which changes no file: what it wrote so far
  // (if it began to write) is not to be used.
  bool stream = false;
  bool output_begun = false;
};

// A report of event about path, in a run on data_path with key_path.
Report ReportOf(Event event, const std::string& path, const std::string& data_path, const std::string& key_path,
                const os::Error& error = {});

// How the engine reaches the user.
class Notifier {
 public:
  virtual ~Notifier() = default;

  // Something the user must know of; returns once the user has seen it.
  virtual void Tell(const Report& report) = 0;

  // Progress on the status line, as the file's name and extension (each at
  // most 255 characters) and a percentage.
  virtual void Progress(const std::string& name, const std::string& extension, int percent) = 0;

  // Called between blocks of a long run: a moment for the front end to
  // answer its user.
  virtual void Working() {}

  // So many more bytes of the data file are transformed: progress by bytes,
  // for a front end that shows many files as one job.
  virtual void Advanced(std::int64_t) {}
};

// What a front end is told when a file could not be opened.
Event OpenFailure(os::Opened how);
