#pragma once

#include <atomic>
#include <string>

#include "cipher/key_stream.h"
#include "cipher/transform.h"
#include "cli/batch.h"
#include "cli/done_files.h"
#include "cli/options.h"
#include "cli/record.h"
#include "os/file_system.h"
#include "os/stop_request.h"

// What all the files of one command share.
struct CommandState {
  CommandState(const Options& options, const Key& key) : options(options), key(key) {}

  const Options& options;
  const Key& key;
  os::FileKey key_identity;  // the key, however it is spelled
  DoneFiles done;
  // Said once per command: a disk that keeps no records.
  std::atomic<bool> records_not_kept{false};
};

// What a file's record lets a command do with it, before a byte is touched.
struct RecordVerdict {
  enum What {
    kGo,      // transform it
    kSkip,    // done already, as the record says: left as it is, and counted as done
    kRefuse,  // left as it is, a failure
  } what = kGo;
  std::string why;  // kSkip, kRefuse
};
// Reads a file's record. kFound: *record holds it. kNone, kNotKept (*error
// says why): it has none. kFailed: it has one that cannot be used, and *why
// says why, as the reason of a line about the file.
os::Note ReadRecordOf(const os::InputFile& file, Record* record, os::Error* error, std::string* why);
// describes: the record describes the file as it is now (length and time).
RecordVerdict JudgeRecord(const Record& record, bool describes, const Options& options, const Key& key,
                          std::int64_t length);

// What the command adds to one file's run, on top of the engine's own
// guards: the key met in a walk, a file done already under another name,
// other hard links, and the record of what was done to the file.
class FileRules : public RunHooks {
 public:
  FileRules(CommandState& command, const BatchJob& job, BatchResult& result)
      : command_(command), job_(job), result_(result) {}
  ~FileRules() override;

  Admission Admit(const os::InputFile& data) override;
  Admission InUse(const os::FileFacts& facts) override;
  bool Seal(os::WorkingFile& working) override;
  // A stop asked for by then came while the result was put in place.
  void PuttingInPlace() override { result_.done_after_stop = os::StopRequested(); }

 private:
  bool Encrypting() const { return command_.options.direction == TransformDirection::kEncrypt; }
  // A line about the file; failed: the command's status is a failure.
  void Say(const std::string& what, bool failed);
  // What the file's record says it is, and whether it may go on.
  Admission ReadRecord(const os::InputFile& data);
  // Said once per command, of the first file on a disk that keeps no records.
  void NoRecords(const os::Error& why);

  CommandState& command_;
  const BatchJob& job_;
  BatchResult& result_;
  bool claimed_ = false;
  DoneFiles::Identity identity_;
  os::FileStamp result_stamp_;
  bool has_record_ = false;  // a record that describes the file as it is
  bool stale_note_ = false;  // a note that no longer does
  bool over_unknown_ = false;  // encrypted, forced past a stale note that said encrypted
  Record record_;
  std::int64_t length_ = 0;
  std::int64_t replaced_modified_ = 0;  // the time of the file as it was
};
