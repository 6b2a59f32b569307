#include "cli/transform_files.h"

#include <sys/resource.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cipher/transform.h"
#include "cipher/transform_stream.h"
#include "cli/batch.h"
#include "cli/file_rules.h"
#include "cli/job_progress.h"
#include "cli/messages.h"
#include "cli/run_gates.h"
#include "cli/stop_signals.h"
#include "cli/terminal_notifier.h"
#include "os/file_system.h"
#include "os/posix.h"
#include "os/stop_request.h"
#include "os/tree_walk.h"
#include "text/path_split.h"

namespace {

// Files at work at once. Most of a small file's time goes in flushes, which
// wait on the disk, not the processor: measured on 10,000 files of 4 KiB,
// 8 workers did as well as 16 and clearly better than 4 (bench/run.sh).
constexpr int kWorkers = 8;

// A working file: its own working path.
bool IsWorkingFile(const std::string& name) { return WorkingPath(name) == name; }

// A walk holds a folder open for each level it is in and for each folder
// whose files are at work: as many as the system allows. Returns how many.
std::uint64_t AllowAllOpenFiles() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur != limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur;
}

// Keeps a run's reports for the command to tell in order; on the command's
// own thread, its progress goes to the terminal as it comes.
class RunNotifier : public Notifier {
 public:
  RunNotifier(BatchResult& result, Notifier& bytes, TerminalNotifier* terminal)
      : result_(result), bytes_(bytes), terminal_(terminal) {}
  void Tell(const Report& report) override { result_.reports.push_back(report); }
  void Progress(const std::string& name, const std::string& extension, int percent) override {
    if (terminal_ != nullptr) terminal_->Progress(name, extension, percent);
  }
  void Advanced(std::int64_t bytes) override {
    result_.bytes += bytes;
    bytes_.Advanced(bytes);
  }

 private:
  BatchResult& result_;
  Notifier& bytes_;
  TerminalNotifier* terminal_;
};

class FileCommand {
 public:
  explicit FileCommand(const Options& options)
      : options_(options),
        terminal_(stderr, !options.quiet),
        done_word_(DoneWord(options.direction)),
        state_(options, key_) {}

  int Run();

 private:
  bool OpenKey();
  bool Stopping() const { return os::StopRequested() || key_changed_; }
  void AddOperand(const std::string& file);
  void AddFile(BatchJob job) {
    if (job.folder->TellsFilesByListing()) job.turn = fuse_line_.Join();
    batch_->Add(std::move(job));
  }
  void Walk(const std::string& root);
  // The open folder of an operand, shared by the operands in it.
  std::shared_ptr<const os::Folder> FolderOf(const std::string& path, os::Error* error);
  BatchResult RunFile(const BatchJob& job, Notifier& bytes);
  void Tell(const BatchJob& job, BatchResult& result);
  void ShowProgress();
  void Say(const std::string& line) { terminal_.Line(line); }

  const Options& options_;
  TerminalNotifier terminal_;
  const char* done_word_;
  Key key_;
  CommandState state_;
  JobProgress progress_;
  std::unique_ptr<Batch> batch_;
  bool one_file_ = false;  // the per-file progress line, and no workers
  bool all_found_ = false;
  // The folder of the last operand, which the next one often shares.
  std::string operand_folder_path_;
  std::shared_ptr<const os::Folder> operand_folder_;
  // The files done, for a stop to name; late: put in place after the stop.
  std::vector<std::pair<std::string, bool>> done_names_;
  bool failed_ = false;
  std::atomic<bool> key_changed_{false};
  Line fuse_line_;
  WorkingNames working_names_;
};

bool FileCommand::OpenKey() {
  Event refused = Event::kCannotOpen;
  os::Error error;
  const auto refuse = [&](Event event, const os::Error& reason) {
    Say(MessageFor(ReportOf(event, options_.key_path, "", options_.key_path, reason)));
    return false;
  };
  // Marked before it is opened, so that its stamp is taken as it then is.
  if (options_.key_read_only) {
    const os::Probed probed = os::Probe(options_.key_path);
    if (!probed.ok()) return refuse(OpenFailure(probed.how), probed.error);
    if (!os::MakeReadOnly(options_.key_path)) return refuse(Event::kCannotMakeReadOnly, os::LastError());
  }
  if (!key_.Open(options_.key_path, &refused, &error)) return refuse(refused, error);
  // Each file is told from the key by this, however it is spelled.
  if (os::KeyOf(options_.key_path, &state_.key_identity, &error) == os::Keyed::kFailed) {
    return refuse(Event::kCannotOpen, error);
  }
  return true;
}

std::shared_ptr<const os::Folder> FileCommand::FolderOf(const std::string& path, os::Error* error) {
  const std::string folder_path = FolderPart(path);
  if (operand_folder_ && folder_path == operand_folder_path_) return operand_folder_;
  auto folder = std::make_shared<os::Folder>();
  if (!folder->OpenFolderOf(path) || !folder->LookAtDisk()) {
    *error = os::LastError();
    return nullptr;
  }
  operand_folder_path_ = folder_path;
  operand_folder_ = folder;
  return folder;
}

void FileCommand::AddOperand(const std::string& file) {
  // A name ending in a slash ("link/", "dir/.") is what it names: a link
  // there is a link all the same.
  std::string path = file;
  while (path.size() > 1 && (path.back() == '/' || (path.size() > 2 && path.compare(path.size() - 2, 2, "/.") == 0))) {
    path.erase(path.size() - (path.back() == '/' ? 1 : 2));
  }
  os::FileFacts facts;
  os::Error error;
  if (os::LookAt(path, &facts, &error) == os::Looked::kFound && facts.kind == os::FileFacts::Kind::kLink) {
    const os::LinkTarget target = os::FollowLink(path);
    if (target.how == os::LinkTarget::kOpenFile) {
      return batch_->AddLine("vaultine: " + file + ": leads through /proc (" + target.through +
                                 "), whose links name what processes have open, not files by name; to read "
                                 "standard input, use -c",
                             true);
    }
    // Followed only when asked: a link someone else may change must not
    // choose which file is replaced. Named from then on as the file it leads
    // to, whose folder gets the working file.
    if (options_.force) {
      if (target.how == os::LinkTarget::kBroken) {
        return batch_->AddLine("vaultine: " + file + ": a symbolic link that leads nowhere (" + target.error.text + ")",
                               true);
      }
      path = target.path;
      os::LookAt(path, &facts, &error);
    }
  }
  if (facts.kind == os::FileFacts::Kind::kFolder) {
    if (options_.recursive) return Walk(path);
    return batch_->AddLine("vaultine: " + file + ": Is a directory", true);
  }
  const std::shared_ptr<const os::Folder> folder = FolderOf(path, &error);
  if (!folder) return batch_->AddLine("vaultine: " + path + ": " + error.text, true);
  AddFile(BatchJob{folder, NamePart(path), path, false});
}

void FileCommand::Walk(const std::string& root) {
  os::TreeWalk walk(root);
  os::WalkEntry entry;
  while (!Stopping() && walk.Next(&entry)) {
    switch (entry.kind) {
      case os::WalkEntry::kFile:
        if (IsWorkingFile(entry.name)) {
          const os::Folder::Writing writing = entry.folder->IsBeingWritten(entry.name);
          if (writing == os::Folder::Writing::kGone) break;
          batch_->AddLine("vaultine: " + entry.shown + ": skipped: " +
                              (writing == os::Folder::Writing::kYes
                                   ? "the working file of a run at work, which will put it in place itself"
                               : writing == os::Folder::Writing::kCannotTell
                                   ? "a working file, another user's: left by an earlier run, or at work in one"
                                   : "a working file, left by an earlier run"),
                          false);
        } else {
          AddFile(BatchJob{entry.folder, entry.name, entry.shown, true});
        }
        break;
      case os::WalkEntry::kLink:
        batch_->AddLine("vaultine: " + entry.shown + ": skipped: a symbolic link, which -r does not follow", false);
        break;
      case os::WalkEntry::kOther:
        batch_->AddLine("vaultine: " + entry.shown + ": skipped: not a regular file", false);
        break;
      case os::WalkEntry::kFailed:
        batch_->AddLine("vaultine: " + entry.shown + ": " + entry.error.text, true);
        break;
    }
  }
}

BatchResult FileCommand::RunFile(const BatchJob& job, Notifier& bytes) {
  const Line::Turn turn(fuse_line_, job.turn);
  const WorkingNames::Hold working_name(working_names_, job.folder->stamp(), WorkingPath(job.name));
  BatchResult result;
  // Once a stop is asked for, or the key changed, no file starts.
  if (Stopping()) return result;
  RunNotifier notifier(result, bytes, one_file_ ? &terminal_ : nullptr);
  {
    FileRules rules(state_, job, result);
    result.done = TransformFileIn(*job.folder, job.name, job.shown, key_, options_.offset, options_.direction, rules,
                                  notifier);
  }
  for (const Report& report : result.reports) {
    // One command uses one key: once it changed, no later file may use it.
    if (report.event == Event::kKeyChanged) key_changed_ = true;
    if (report.event != Event::kAttributeNotKept) result.failed = true;
  }
  if (!result.done && result.reports.empty() && result.lines.empty() && !Stopping()) result.failed = true;
  return result;
}

void FileCommand::Tell(const BatchJob& job, BatchResult& result) {
  if (one_file_) terminal_.EndProgress();
  for (const std::string& line : result.lines) Say(line);
  for (const Report& report : result.reports) terminal_.Tell(report);
  if (result.done) {
    if (!result.flushed) {
      // Done, and said so, but the rename may not be on disk yet.
      Report report = ReportOf(Event::kNotFlushed, job.shown, job.shown, key_.path(), result.flush_error);
      report.direction = options_.direction;
      terminal_.Tell(report);
      result.failed = true;
    }
    if (options_.verbose || result.remark_needed) {
      Say("vaultine: " + job.shown + ": " + done_word_ + result.done_remark);
    }
    done_names_.emplace_back(job.shown, result.done_after_stop);
  }
  failed_ = failed_ || result.failed;
  ShowProgress();
}

void FileCommand::ShowProgress() {
  if (one_file_ || !batch_) return;
  const std::string line =
      progress_.Line(batch_->files_done(), batch_->files_added(), all_found_, batch_->bytes_done());
  if (!line.empty()) terminal_.Status(line);
}

int FileCommand::Run() {
  if (!CanFingerprint()) {
    Say("vaultine: the library that makes the records of files cannot start; nothing was done");
    return kSomeFailed;
  }
  if (!OpenKey()) return kSomeFailed;
  const std::uint64_t open_files = AllowAllOpenFiles();
  one_file_ = options_.files.size() == 1 && !options_.recursive;
  // Each worker holds up to three files open, each folder at work one, and a
  // deep walk one a level: a low limit gets fewer of each, never a failure.
  const int workers = one_file_ ? 0 : static_cast<int>(std::min<std::uint64_t>(kWorkers, open_files / 32 + 1));
  batch_.reset(new Batch(
      workers, [this](const BatchJob& job, Notifier& bytes) { return RunFile(job, bytes); },
      [this](const BatchJob& job, BatchResult& result) { Tell(job, result); }, [this] { ShowProgress(); },
      std::max<std::size_t>(4, open_files / 4)));
  for (const std::string& file : options_.files) {
    if (Stopping()) break;
    AddOperand(file);
  }
  all_found_ = true;
  batch_->Finish();
  terminal_.EndProgress();
  if (StopSignal() == 0 && !key_changed_) return failed_ ? kSomeFailed : kAllDone;
  // Stopped: say which files are done (a file already being put in place
  // when the stop came in any case, and all of them where no record tells).
  for (const auto& done : done_names_) {
    if ((!options_.quiet && !options_.verbose) || done.second) Say("vaultine: " + done.first + ": " + done_word_);
  }
  // After a key change the same command would go on with the new key.
  if (!options_.quiet && !key_changed_) {
    const char* why_left_out = state_.records_not_kept ? "their disk keeps no record"
                               : options_.force        ? "-f would transform them once more"
                                                       : nullptr;
    Say(why_left_out != nullptr ? std::string("vaultine: stopped before the end; the files named ") + done_word_ +
                                      " are done: leave them out of the next run, as " + why_left_out
                                : std::string("vaultine: stopped before the end; to finish, run the same command "
                                              "again: the files done carry a record, and are left as they are"));
  }
  if (StopSignal() != 0) EndByStopSignal();
  Say("vaultine: " + key_.path() + ": changed by another program during the command, which stopped there; the "
      "files named " + done_word_ + " used it as it was before");
  return kSomeFailed;
}

}  // namespace

int TransformFiles(const Options& options) { return FileCommand(options).Run(); }

int TransformToStandardOutput(const Options& options, const os::ClosedStreams& closed) {
  TerminalNotifier notifier(stderr, false);
  const std::string& input = options.files.front();
  const auto refuse = [&](const std::string& why) {
    notifier.Line("vaultine: " + why);
    return kSomeFailed;
  };
  if (closed.output) return refuse("standard output: it was closed");
  if (input == "-" && closed.input) return refuse("standard input: it was closed");
  if (os::StandardOutputIsTerminal() && !options.force) {
    return refuse("standard output is a terminal; the transformed bytes are not written there (-f writes them all "
                  "the same)");
  }
  // A file's record says what it is, as it does for a run in place: no layer
  // is put on twice, or taken off with another key, in the output either.
  const auto admit = [&](const os::InputFile& file, const Key& key) {
    if (input == "-") return true;
    os::Error error;
    Record record;
    RecordVerdict verdict;
    switch (ReadRecordOf(file, &record, &error, &verdict.why)) {
      case os::Note::kNone:
      case os::Note::kNotKept:
        return true;
      case os::Note::kFailed:
        verdict.what = RecordVerdict::kRefuse;
        break;
      case os::Note::kFound:
        verdict = JudgeRecord(record, record.Describes(file.facts().stamp), options, key, file.facts().stamp.size);
        break;
    }
    if (verdict.what == RecordVerdict::kGo) return true;
    notifier.Line("vaultine: " + input + ": " + verdict.why + "; nothing was written");
    return false;
  };
  const bool done = TransformStream(input, options.key_path, options.offset, options.direction, notifier, admit);
  if (StopSignal() != 0) EndByStopSignal();
  return done ? kAllDone : kSomeFailed;
}
