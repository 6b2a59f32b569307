#include "cipher/transform.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

#include "cipher/progress.h"
#include "os/stop_request.h"
#include "text/path_split.h"

namespace {

// One run on one file: what it was asked to do, and what it tells.
class Run {
 public:
  Run(const os::Folder& folder, const std::string& name, const std::string& path, const Key& key,
      std::uint8_t offset, TransformDirection direction, RunHooks& hooks, Notifier& notifier)
      : folder_(folder),
        name_(name),
        path_(path),
        working_path_(WorkingPath(path)),
        key_(key),
        offset_(offset),
        direction_(direction),
        hooks_(hooks),
        notifier_(notifier) {}

  // All but the flush of the folder.
  bool InPlace();

 private:
  // A report about path, with the run's paths filled in.
  Report About(Event event, const std::string& path, const os::Error& error = {}) const {
    Report report = ReportOf(event, path, path_, key_.path(), error);
    report.working_path = working_path_;
    report.direction = direction_;
    return report;
  }
  void Tell(const Report& report) const { notifier_.Tell(report); }

  bool OpenData();
  bool CreateWorkingFile();
  bool WriteTransformed();
  bool FinishWorkingFile();
  bool ReplaceDataFile();
  bool MayReplace(const os::FileFacts& data);
  // The working file goes, and the report says whether it could not.
  void FailWith(Report report);
  // The data file or the key file when the working path names it, under
  // its own or another spelling; null otherwise.
  const std::string* InputAtWorkingPath() const;

  // The caller's, not copies: a Run lives only within the call that is given
  // them.
  const os::Folder& folder_;
  const std::string& name_;  // in folder_
  const std::string& path_;  // as reports name it
  const std::string working_path_;
  const Key& key_;
  const std::uint8_t offset_;
  const TransformDirection direction_;
  RunHooks& hooks_;
  Notifier& notifier_;

  os::InputFile data_;
  std::int64_t length_ = 0;
  std::unique_ptr<os::WorkingFile> working_;
  std::vector<Report> remarks_;  // told once the data path holds the result
};

const std::string* Run::InputAtWorkingPath() const {
  os::FileFacts in_the_way;
  os::Error ignored;
  const bool looked = folder_.Look(NamePart(working_path_), &in_the_way, &ignored) == os::Looked::kFound;
  if (looked && in_the_way.stamp.IsSameFileAs(data_.facts().stamp)) return &path_;
  if (looked && in_the_way.stamp.IsSameFileAs(key_.as_read())) return &key_.path();
  // A disk that gives each spelling a number of its own is asked by name.
  for (const std::string* input : {&path_, &key_.path()}) {
    if (os::SameFile(working_path_, *input)) return input;
  }
  return nullptr;
}

void Run::FailWith(Report report) {
  // A read or write cut short by a stop is the stop.
  if (os::StopRequested() && (report.event == Event::kCannotRead || report.event == Event::kCannotWrite)) {
    report = About(Event::kStopped, path_);
  }
  os::Error error;
  if (working_ && working_->Remove(&error) == os::NewFile::Removed::kFailed) {
    report.left_behind = true;
    report.not_removed = error;
  }
  // "Unchanged" is said only of a file that is still there: another program
  // may have removed it, or its whole folder, meanwhile.
  os::FileFacts facts;
  report.data_gone = folder_.Look(name_, &facts, &error) == os::Looked::kNothing;
  Tell(report);
}

// Not zero-filled first, so that a small file costs no more than its size.
std::unique_ptr<std::uint8_t[]> Buffer(std::int64_t size) {
  return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[static_cast<std::size_t>(size)]);
}

bool Run::OpenData() {
  for (;;) {
    const os::Probed data = data_.OpenIn(folder_, name_);
    if (data.how == os::Opened::kInUse && data.facts.stamp.known()) {
      const RunHooks::Admission admission = hooks_.InUse(data.facts);
      if (admission == RunHooks::Admission::kAgain) continue;
      if (admission == RunHooks::Admission::kLeave) return false;
    }
    if (!data.ok()) {
      // Held by a run of its own, whose working file is being written.
      const bool other_run = data.how == os::Opened::kInUse &&
                             folder_.IsBeingWritten(NamePart(working_path_)) == os::Folder::Writing::kYes;
      Tell(other_run ? About(Event::kRunInProgress, working_path_) : About(OpenFailure(data.how), path_, data.error));
      return false;
    }
    const RunHooks::Admission admission = hooks_.Admit(data_);
    if (admission == RunHooks::Admission::kLeave) return false;
    if (admission == RunHooks::Admission::kGo) break;
  }
  // Enciphered with itself, a file could never be recovered.
  if (data_.facts().stamp.IsSameFileAs(key_.as_read()) || data_.facts().stamp.LooksLike(key_.as_read())) {
    Tell(About(Event::kSameFile, key_.path()));
    return false;
  }
  length_ = data_.Length();
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
        os::FileFacts in_the_way;
        os::Error ignored;
        if (folder_.Look(NamePart(working_path_), &in_the_way, &ignored) == os::Looked::kFound &&
            in_the_way.kind == os::FileFacts::Kind::kFolder) {
          report.detail = "folder";
        }
        Tell(report);
      }
      break;
    case os::NewFile::Created::kInUse:
      Tell(About(Event::kRunInProgress, working_path_));
      break;
    case os::NewFile::Created::kCannotTell: {
      // Another user's, which this user may not look into: a leftover, or
      // that user's run at work.
      Report report = About(Event::kWorkingInTheWay, working_path_);
      report.detail = "another user's";
      Tell(report);
      break;
    }
    case os::NewFile::Created::kFailed:
      Tell(About(Event::kCannotCreate, working_path_, os::LastError()));
      break;
  }
  working_.reset();
  return false;
}

// Writes the transformed bytes of the data file to the working file, a whole
// block at a time, with progress on the status line at each of its steps.
bool Run::WriteTransformed() {
  const std::int64_t step = ProgressStep(length_);
  const PathParts parts = SplitPath(path_);
  const std::int64_t buffer_size = std::max<std::int64_t>(1, std::min<std::int64_t>(length_, kBlockSize));
  const std::unique_ptr<std::uint8_t[]> block = Buffer(buffer_size);
  const std::unique_ptr<std::uint8_t[]> key_block = Buffer(buffer_size);
  KeyStream keys(key_);
  for (std::int64_t i = 0; i < length_;) {
    notifier_.Working();
    if (os::StopRequested()) {
      FailWith(About(Event::kStopped, path_));
      return false;
    }
    // A writer that opened it meanwhile has it now: nothing more is read.
    if (i > 0 && data_.WrittenElsewhereSince()) {
      FailWith(About(Event::kDataChanged, path_));
      return false;
    }
    const std::int64_t count = std::min(length_ - i, buffer_size);
    for (std::int64_t position = (i + step - 1) / step * step; position < i + count; position += step) {
      notifier_.Progress(parts.name, parts.extension, ProgressPercent(position, length_));
      if (os::StopRequested()) {  // asked for while the status line was shown
        FailWith(About(Event::kStopped, path_));
        return false;
      }
    }
    const std::int64_t got = data_.ReadFully(block.get(), static_cast<std::size_t>(count));
    if (got < 0) {
      FailWith(About(Event::kCannotRead, path_, os::LastError()));
      return false;
    }
    if (got < count) {  // cut short by another program since its length was taken
      FailWith(About(Event::kDataChanged, path_));
      return false;
    }
    switch (keys.Next(key_block.get(), static_cast<std::size_t>(count))) {
      case Key::Read::kDone:
        break;
      case Key::Read::kFailed:
        FailWith(About(Event::kCannotRead, key_.path(), os::LastError()));
        return false;
      case Key::Read::kChanged:
        FailWith(About(Event::kKeyChanged, key_.path()));
        return false;
    }
    ShiftBytes(block.get(), key_block.get(), static_cast<std::size_t>(count), offset_, direction_);
    if (!working_->Write(block.get(), static_cast<std::size_t>(count))) {
      FailWith(About(Event::kCannotWrite, working_path_, os::LastError()));
      return false;
    }
    notifier_.Advanced(count);
    i += count;
  }
  return true;
}

bool Run::FinishWorkingFile() {
  const os::WorkingFile::Finished finished = working_->Finish(data_, [this] { return hooks_.Seal(*working_); });
  switch (finished.result) {
    case os::WorkingFile::Finished::kDone:
      break;
    case os::WorkingFile::Finished::kRefused: {
      // The hook has told why; the working file goes, or is named.
      os::Error error;
      if (working_->Remove(&error) == os::NewFile::Removed::kFailed) {
        Report report = About(Event::kUnexpected, path_);
        report.detail = "its run was refused";
        report.left_behind = true;
        report.not_removed = error;
        Tell(report);
      }
      return false;
    }
    case os::WorkingFile::Finished::kGuardNotKept: {
      Report report = About(Event::kGuardNotKept, path_, finished.error);
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
    Report remark = About(Event::kAttributeNotKept, path_, attribute.second);
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
  if (!key_.StillAsRead()) {
    FailWith(About(Event::kKeyChanged, key_.path()));
    return false;
  }
  os::FileFacts now;
  os::Error error;
  switch (folder_.Look(name_, &now, &error)) {
    case os::Looked::kFound:
      break;
    case os::Looked::kNothing:
      // Its folder may have gone with it, and the working file too.
      if (!working_->IsAsFinished()) {
        FailWith(About(Event::kWorkingChanged, working_path_));
        return false;
      }
      working_->Keep();  // the only copy of the content there is now
      Tell(About(Event::kDataRemoved, path_));
      return false;
    case os::Looked::kFailed:
      FailWith(About(Event::kCannotRead, path_, error));
      return false;
  }
  if (now.stamp != data_.facts().stamp) {
    FailWith(About(Event::kDataChanged, path_));
    return false;
  }
  if (!working_->IsAsFinished()) {
    Tell(About(Event::kWorkingChanged, working_path_));  // not ours to remove any more
    return false;
  }
  if (!MayReplace(now)) return false;
  // A writer that opened it since: as late as can be, so that the rename
  // comes before any other could.
  if (data_.WrittenElsewhereSince()) {
    FailWith(About(Event::kDataChanged, path_));
    return false;
  }
  hooks_.PuttingInPlace();
  switch (working_->RenameOver(path_, data_, &error)) {
    case os::WorkingFile::Renamed::kDone:
      break;
    case os::WorkingFile::Renamed::kInUse:
      working_->Keep();
      Tell(About(Event::kDataInUse, path_, error));
      return false;
    case os::WorkingFile::Renamed::kFailed:
      working_->Keep();
      Tell(About(Event::kNotReplaced, path_, error));
      return false;
  }
  for (const Report& remark : remarks_) Tell(remark);
  return true;
}

// Whether the data file, as it now is, may be replaced by this user with a
// result that keeps its owner; when not, the result stays at the working
// path and the report says why.
bool Run::MayReplace(const os::FileFacts& data) {
  Report refusal = About(Event::kReadOnly, path_);
  if (data.marked_read_only) {
    refusal.because = ReadOnlyBecause::kMarked;
  } else {
    switch (folder_.MayWrite(name_, data, &refusal.error)) {
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
  if (!OpenData() || !CreateWorkingFile()) return false;
  try {
    return WriteTransformed() && FinishWorkingFile() && ReplaceDataFile();
  } catch (const std::exception& error) {
    // The data file was not replaced; the working file goes, or is named.
    Report report = About(Event::kUnexpected, path_);
    report.detail = error.what();
    FailWith(report);
    return false;
  }
}

// Before any working file existed: nothing was written.
void TellUnexpected(const std::exception& error, const std::string& path, const std::string& key_path,
                    TransformDirection direction, Notifier& notifier) {
  Report report = ReportOf(Event::kUnexpected, path, path, key_path);
  report.working_path = WorkingPath(path);
  report.direction = direction;
  report.detail = error.what();
  notifier.Tell(report);
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

bool TransformFileIn(const os::Folder& folder, const std::string& name, const std::string& path, const Key& key,
                     std::uint8_t offset, TransformDirection direction, RunHooks& hooks, Notifier& notifier) {
  try {
    Run run(folder, name, path, key, offset, direction, hooks, notifier);
    return run.InPlace();
  } catch (const std::exception& error) {
    TellUnexpected(error, path, key.path(), direction, notifier);
    return false;
  }
}

bool TransformFile(const std::string& data_path, const std::string& key_path, std::uint8_t offset,
                   TransformDirection direction, Notifier& notifier) {
  try {
    const auto tell = [&](Event event, const std::string& path, const os::Error& error) {
      Report report = ReportOf(event, path, data_path, key_path, error);
      report.working_path = WorkingPath(data_path);
      report.direction = direction;
      notifier.Tell(report);
      return false;
    };
    os::Folder folder;
    if (!folder.OpenFolderOf(data_path)) return tell(Event::kCannotOpen, data_path, os::LastError());
    Key key;
    Event refused = Event::kCannotOpen;
    os::Error error;
    if (!key.Open(key_path, &refused, &error)) return tell(refused, key_path, error);
    RunHooks no_hooks;
    const std::string name = NamePart(data_path);
    if (!TransformFileIn(folder, name, data_path, key, offset, direction, no_hooks, notifier)) return false;
    // The new name must survive a power cut too.
    if (!folder.Flush()) tell(Event::kNotFlushed, data_path, os::LastError());
    return true;
  } catch (const std::exception& error) {
    TellUnexpected(error, data_path, key_path, direction, notifier);
    return false;
  }
}
