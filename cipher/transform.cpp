#include "cipher/transform.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

#include "cipher/key_stream.h"
#include "text/path_split.h"
#include "cipher/progress.h"
#include "os/stop_request.h"

namespace {

// One run: what it was asked to do, and what it tells.
class Run {
 public:
  Run(const std::string& data_path, const std::string& key_path, std::uint8_t offset, TransformDirection direction,
      Notifier& notifier)
      : data_path_(data_path),
        key_path_(key_path),
        working_path_(WorkingPath(data_path)),
        offset_(offset),
        direction_(direction),
        notifier_(notifier) {}

  bool InPlace();

  // A report about path, with the run's paths filled in.
  Report About(Event event, const std::string& path, const os::Error& error = {}) const {
    Report report = ReportOf(event, path, data_path_, key_path_, error);
    report.working_path = working_path_;
    report.direction = direction_;
    return report;
  }
  void Tell(const Report& report) const { notifier_.Tell(report); }

 private:
  bool OpenInputs();
  bool CreateWorkingFile();
  bool WriteTransformed();
  bool FinishWorkingFile();
  bool ReplaceDataFile();
  bool MayReplace(const os::FileFacts& data);
  // The working file goes, and the report says whether it could not.
  void FailWith(Report report);
  void TellOpenFailure(const os::Probed& probed, const std::string& path) const;
  // The data file or the key file when the working path names it, under
  // its own or another spelling; null otherwise.
  const std::string* InputAtWorkingPath() const;

  // The caller's strings, not copies: a Run lives only within the call to
  // TransformFile that is given them.
  const std::string& data_path_;
  const std::string& key_path_;
  const std::string working_path_;
  const std::uint8_t offset_;
  const TransformDirection direction_;
  Notifier& notifier_;

  os::Folder folder_;
  os::InputFile data_;
  os::InputFile key_;
  os::FileStamp data_as_read_;
  os::FileStamp key_as_read_;
  std::int64_t length_ = 0;
  std::int64_t key_length_ = 0;
  std::unique_ptr<os::WorkingFile> working_;
  std::vector<Report> remarks_;  // told once the data path holds the result
};

void Run::TellOpenFailure(const os::Probed& probed, const std::string& path) const {
  Tell(About(OpenFailure(probed.how), path, probed.error));
}

const std::string* Run::InputAtWorkingPath() const {
  for (const std::string* input : {&data_path_, &key_path_}) {
    if (working_path_ == *input || os::SameFile(working_path_, *input)) return input;
  }
  return nullptr;
}

void Run::FailWith(Report report) {
  // A read or write cut short by a stop is the stop.
  if (os::StopRequested() && (report.event == Event::kCannotRead || report.event == Event::kCannotWrite)) {
    report = About(Event::kStopped, data_path_);
  }
  os::Error error;
  if (working_ && working_->Remove(&error) == os::NewFile::Removed::kFailed) {
    report.left_behind = true;
    report.not_removed = error;
  }
  // "Unchanged" is said only of a file that is still there: another program
  // may have removed it, or its whole folder, meanwhile.
  os::FileFacts facts;
  report.data_gone = folder_.Look(NamePart(data_path_), &facts, &error) == os::Looked::kNothing;
  Tell(report);
}

// Not zero-filled first, so that a small file costs no more than its size.
std::unique_ptr<std::uint8_t[]> Buffer(std::int64_t size) {
  return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[static_cast<std::size_t>(size)]);
}

bool Run::OpenInputs() {
  if (!folder_.OpenFolderOf(data_path_)) {
    Tell(About(Event::kCannotOpen, data_path_, os::LastError()));
    return false;
  }
  const os::Probed data = data_.OpenIn(folder_, NamePart(data_path_));
  if (!data.ok()) {
    // Held by a run of its own, whose working file is being written.
    const bool other_run = data.how == os::Opened::kInUse && folder_.IsBeingWritten(NamePart(working_path_));
    if (other_run) Tell(About(Event::kRunInProgress, working_path_));
    if (!other_run) TellOpenFailure(data, data_path_);
    return false;
  }
  length_ = data_.Length();
  const OpenedKey key = OpenKey(key_, key_path_);
  if (!key.ok) {
    Tell(About(key.event, key_path_, key.error));
    return false;
  }
  key_as_read_ = key.as_read;
  key_length_ = key.length;
  return true;
}

bool Run::CreateWorkingFile() {
  working_.reset(new os::WorkingFile(folder_));
  switch (working_->Create(working_path_, data_)) {
    case os::NewFile::Created::kNew:
      return true;
    case os::NewFile::Created::kAlreadyExists:
      // The file in the way may be the data file or the key file under
      // another spelling: never advise removing those.
      if (const std::string* input = InputAtWorkingPath()) {
        Tell(About(Event::kWorkingIsInput, *input));
      } else {
        Report report = About(Event::kWorkingInTheWay, working_path_);
        const os::FileStatus in_the_way = os::StatusOf(working_path_);
        if (in_the_way.exists && !in_the_way.regular) report.detail = "folder";
        Tell(report);
      }
      break;
    case os::NewFile::Created::kInUse:
      Tell(About(Event::kRunInProgress, working_path_));
      break;
    case os::NewFile::Created::kFailed:
      Tell(About(Event::kCannotCreate, working_path_, os::LastError()));
      break;
  }
  working_.reset();
  return false;
}

// Writes the transformed bytes of the data file to the working file, with
// progress on the status line.
bool Run::WriteTransformed() {
  const std::int64_t step = ProgressStep(length_);
  const PathParts parts = SplitPath(data_path_);
  const std::int64_t buffer_size = std::max<std::int64_t>(1, std::min<std::int64_t>(length_, kBlockSize));
  const std::unique_ptr<std::uint8_t[]> block = Buffer(buffer_size);
  const std::unique_ptr<std::uint8_t[]> key_block = Buffer(buffer_size);
  KeyStream keys(key_, key_length_);
  for (std::int64_t i = 0; i < length_;) {
    notifier_.Working();
    if (os::StopRequested()) {
      FailWith(About(Event::kStopped, data_path_));
      return false;
    }
    if (i % step == 0) notifier_.Progress(parts.name, parts.extension, ProgressPercent(i, length_));
    // A block never runs past the next progress position.
    const std::int64_t next_title = (i / step + 1) * step;
    const std::int64_t count = std::min({length_ - i, next_title - i, buffer_size});
    const std::int64_t got = data_.ReadFully(block.get(), static_cast<std::size_t>(count));
    if (got < 0) {
      FailWith(About(Event::kCannotRead, data_path_, os::LastError()));
      return false;
    }
    if (got < count) {  // cut short by another program since its length was taken
      FailWith(About(Event::kDataChanged, data_path_));
      return false;
    }
    switch (keys.Next(key_block.get(), static_cast<std::size_t>(count))) {
      case KeyStream::Read::kDone:
        break;
      case KeyStream::Read::kFailed:
        FailWith(About(Event::kCannotRead, key_path_, os::LastError()));
        return false;
      case KeyStream::Read::kChanged:
        FailWith(About(Event::kKeyChanged, key_path_));
        return false;
    }
    ShiftBytes(block.get(), key_block.get(), static_cast<std::size_t>(count), offset_, direction_);
    if (!working_->Write(block.get(), static_cast<std::size_t>(count))) {
      FailWith(About(Event::kCannotWrite, working_path_, os::LastError()));
      return false;
    }
    i += count;
  }
  return true;
}

bool Run::FinishWorkingFile() {
  const os::WorkingFile::Finished finished = working_->Finish(data_);
  switch (finished.result) {
    case os::WorkingFile::Finished::kDone:
      break;
    case os::WorkingFile::Finished::kGuardNotKept: {
      Report report = About(Event::kGuardNotKept, data_path_, finished.error);
      report.detail = finished.attribute;
      FailWith(report);
      return false;
    }
    case os::WorkingFile::Finished::kFailed:
      FailWith(About(Event::kCannotWrite, working_path_, finished.error));
      return false;
  }
  if (finished.length != length_) {
    FailWith(About(Event::kWorkingCutShort, working_path_));
    return false;
  }
  for (const auto& attribute : finished.not_kept) {
    Report remark = About(Event::kAttributeNotKept, data_path_, attribute.second);
    remark.detail = attribute.first;
    remarks_.push_back(remark);
  }
  return true;
}

// The finished working file takes the data file's place, or says why not.
// The rules come in this order: the key and the data file must be as they
// were read (a file written meanwhile is left to its writer), and the working
// file this run's own, as it was finished; then the data file must be one
// this user may write and the result keep its owner, or the result stays at
// the working path, named.
bool Run::ReplaceDataFile() {
  // The key must still be the one whose bytes were used, or the file could
  // never be deciphered.
  const os::FileStatus key_now = os::StatusOf(key_path_);
  if (!key_now.exists || key_now.stamp != key_as_read_) {
    FailWith(About(Event::kKeyChanged, key_path_));
    return false;
  }
  const std::string data_name = NamePart(data_path_);
  os::FileFacts now;
  os::Error error;
  switch (folder_.Look(data_name, &now, &error)) {
    case os::Looked::kFound:
      break;
    case os::Looked::kNothing:
      // Its folder may have gone with it, and the working file too.
      if (!working_->IsAsFinished()) {
        FailWith(About(Event::kWorkingChanged, working_path_));
        return false;
      }
      working_->Keep();  // the only copy of the content there is now
      Tell(About(Event::kDataRemoved, data_path_));
      return false;
    case os::Looked::kFailed:
      FailWith(About(Event::kCannotRead, data_path_, error));
      return false;
  }
  if (now.stamp != data_.facts().stamp || data_.WrittenElsewhereSince()) {
    FailWith(About(Event::kDataChanged, data_path_));
    return false;
  }
  if (!working_->IsAsFinished()) {
    Tell(About(Event::kWorkingChanged, working_path_));  // not ours to remove any more
    return false;
  }
  if (!MayReplace(now)) return false;
  if (data_.WrittenElsewhereSince()) {  // once more, as late as can be
    FailWith(About(Event::kDataChanged, data_path_));
    return false;
  }
  switch (working_->RenameOver(data_path_, data_, &error)) {
    case os::WorkingFile::Renamed::kDone:
      break;
    case os::WorkingFile::Renamed::kInUse:
      working_->Keep();
      Tell(About(Event::kDataInUse, data_path_, error));
      return false;
    case os::WorkingFile::Renamed::kFailed:
      working_->Keep();
      Tell(About(Event::kNotReplaced, data_path_, error));
      return false;
  }
  if (!folder_.Flush()) remarks_.push_back(About(Event::kNotFlushed, data_path_, os::LastError()));
  for (const Report& remark : remarks_) Tell(remark);
  return true;
}

// Whether the data file, as it now is, may be replaced by this user with a
// result that keeps its owner; when not, the result stays at the working
// path and the report says why.
bool Run::MayReplace(const os::FileFacts& data) {
  Report refusal = About(Event::kReadOnly, data_path_);
  if (data.marked_read_only) {
    refusal.because = ReadOnlyBecause::kMarked;
  } else {
    switch (folder_.MayWrite(NamePart(data_path_), &refusal.error)) {
      case os::WriteRight::kMayNot:
        refusal.because = ReadOnlyBecause::kNoPermission;
        break;
      case os::WriteRight::kUnknown:
        refusal.because = ReadOnlyBecause::kCheckFailed;
        break;
      case os::WriteRight::kMay:
        // One who may write the file but could not give the result its
        // owner and group may not replace it either: the file would change
        // hands, and its owner might lose it.
        if (working_->KeepsOwnerOf(data_)) return true;
        refusal.because = ReadOnlyBecause::kOwnerNotKept;
        break;
    }
  }
  working_->Keep();
  Tell(refusal);
  return false;
}

bool Run::InPlace() {
  if (!OpenInputs() || !CreateWorkingFile()) return false;
  try {
    return WriteTransformed() && FinishWorkingFile() && ReplaceDataFile();
  } catch (const std::exception& error) {
    // The data file was not replaced; the working file goes, or is named.
    Report report = About(Event::kUnexpected, data_path_);
    report.detail = error.what();
    FailWith(report);
    return false;
  }
}

}  // namespace

void ShiftBytes(std::uint8_t* data, const std::uint8_t* key, std::size_t count, std::uint8_t offset,
                TransformDirection direction) {
  if (direction == TransformDirection::kEncrypt) {
    for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<std::uint8_t>(data[i] + key[i] + offset);
  } else {
    for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<std::uint8_t>(data[i] - key[i] - offset);
  }
}

std::string WorkingPath(const std::string& data_path) {
  const std::string::size_type dot = data_path.find('.', FileNameStart(data_path));
  const std::string working = dot == std::string::npos ? data_path + "." : data_path.substr(0, dot + 1);
  return working + os::WorkingSuffix();
}

bool TransformFile(const std::string& data_path, const std::string& key_path, std::uint8_t offset,
                   TransformDirection direction, Notifier& notifier) {
  try {
    Run run(data_path, key_path, offset, direction, notifier);
    return run.InPlace();
  } catch (const std::exception& error) {
    // Before any working file existed: nothing was written.
    Report report = ReportOf(Event::kUnexpected, data_path, data_path, key_path);
    report.working_path = WorkingPath(data_path);
    report.direction = direction;
    report.detail = error.what();
    notifier.Tell(report);
    return false;
  }
}
