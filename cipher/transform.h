#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cipher/key_stream.h"
#include "cipher/notifier.h"
#include "os/file_system.h"

// The bytes read, shifted and written at a time: large enough to run at the
// disk's pace, small enough for constant memory.
constexpr std::size_t kBlockSize = 1 << 20;

// Shifts each byte by its key byte plus the offset: up on Encrypt, down on
// Decrypt, modulo 256.
void ShiftBytes(std::uint8_t* data, const std::uint8_t* key, std::size_t count, std::uint8_t offset,
                TransformDirection direction);

// The working file's path: the data file's folder kept whole, its name cut
// after the name's first full stop, and the working suffix appended; a name
// without a full stop gets ".", then the suffix. C:\my.docs\report.txt gives
// C:\my.docs\report.1e9 (e with circumflex).
std::string WorkingPath(const std::string& data_path);

// Enciphers or deciphers the data file in place through the working file, with
// progress on the status line. The data path holds the whole original or the
// whole result at every instant: the working file replaces the data file in
// one step, once it holds all of the result on disk, and only if the data file
// and the key file are still as they were read. Every failure, an exception
// too, is told to the notifier, and a working file that did not replace the
// data file is removed (or the report says it could not be), unless the data
// file may not be replaced or the system refused the replacement: the result
// then stays at the working path. Returns true when the data path now holds
// the result.
bool TransformFile(const std::string& data_path, const std::string& key_path, std::uint8_t offset,
                   TransformDirection direction, Notifier& notifier);

// What a front end adds to each run of many: checks of its own on the opened
// data file, and a record of its own on the finished result.
class RunHooks {
 public:
  virtual ~RunHooks() = default;

  enum class Admission {
    kGo,
    kLeave,  // the file stays as it is; the hook has told why
    kAgain,  // open the file again and ask again: what was opened may be stale
  };
  // Once the data file is open, before anything is written.
  virtual Admission Admit(const os::InputFile&) { return Admission::kGo; }

  // A data file another program has open for writing, as facts found it:
  // kGo says it is in use; a front end at work on it itself may wait and
  // look again (kAgain), or leave it (kLeave, told).
  virtual Admission InUse(const os::FileFacts&) { return Admission::kGo; }

  // Once the working file holds the whole result on disk, before it takes
  // the data file's place: false leaves the data file as it is (the hook has
  // told why), and the working file is removed.
  virtual bool Seal(os::WorkingFile&) { return true; }

  // The moment before the result takes the data file's place, all checks
  // passed: from here on a stop no longer stops the run.
  virtual void PuttingInPlace() {}
};

// One file among many: the file name in folder, which the caller opened and
// flushes once all its files are done, with a key opened once for all.
// Reports name the file by path. As TransformFile, but the folder is not
// flushed. Returns true when the data path holds the result.
bool TransformFileIn(const os::Folder& folder, const std::string& name, const std::string& path, const Key& key,
                     std::uint8_t offset, TransformDirection direction, RunHooks& hooks, Notifier& notifier);
