#include "cli/transform_files.h"

#include <string>
#include <vector>

#include "cipher/input_checks.h"
#include "text/path_split.h"
#include "cipher/transform.h"
#include "cipher/transform_stream.h"
#include "cli/stop_signals.h"
#include "cli/terminal_notifier.h"
#include "os/file_set.h"
#include "os/file_system.h"
#include "os/posix.h"
#include "os/stop_request.h"
#include "os/tree_walk.h"

namespace {

std::string OtherLinks(std::uint64_t links) {
  const unsigned long others = static_cast<unsigned long>(links - 1);
  return std::to_string(others) + " other link" + (others == 1 ? "" : "s");
}

// A working file left by an earlier run: its own working path.
bool IsWorkingFile(const std::string& path) { return WorkingPath(path) == path; }

class FileRuns {
 public:
  explicit FileRuns(const Options& options)
      : options_(options),
        notifier_(stderr, !options.quiet),
        done_word_(options.direction == TransformDirection::kEncrypt ? "encrypted" : "decrypted") {}

  int Run();

 private:
  // here: the path from the current folder; shown: the name the user gave,
  // or the path from the root of a walk; shown_from: the folder of the walk
  // the engine's paths are shown from.
  void TransformOne(const std::string& here, const std::string& shown, const std::string& shown_from = "");
  void Walk(const std::vector<std::string>& roots);
  void Skip(const std::string& shown, const std::string& why) { notifier_.Line("vaultine: " + shown + ": " + why); }
  void Fail(const std::string& shown, const std::string& why) {
    Skip(shown, why);
    all_done_ = false;
  }

  const Options& options_;
  std::string key_path_;
  TerminalNotifier notifier_;
  const char* done_word_;
  os::FileSet done_;               // the files this call transformed, as they are now
  std::vector<std::string> done_names_;
  bool all_done_ = true;
  bool done_despite_stop_ = false;
};

void FileRuns::TransformOne(const std::string& here, const std::string& shown, const std::string& shown_from) {
  notifier_.ShowPathsFrom(shown_from);
  // What the engine cannot see: a file named twice in one call would be
  // transformed twice.
  std::string earlier;
  os::Error error;
  switch (done_.Find(here, &earlier, &error)) {
    case os::FileSet::Found::kYes:
      notifier_.Line("vaultine: " + shown + ": the same file as " + earlier + ", which this call has already " +
                     done_word_ + "; left as it is");
      return;
    case os::FileSet::Found::kUnknown:
      return Fail(shown, "cannot tell whether this call has already " + std::string(done_word_) + " it (" +
                             error.text + "); left as it is");
    case os::FileSet::Found::kNo:
      break;
  }
  const int failures_before = notifier_.failures();
  bool done = CheckInputs(here, key_path_, options_.offset, options_.key_read_only, notifier_);
  // The other names of a file with hard links would keep the old bytes.
  const os::FileStatus status = os::StatusOf(here);
  if (done && status.links > 1 && !options_.force) {
    notifier_.Line("vaultine: " + shown + ": has " + OtherLinks(status.links) +
                   ", whose names would keep the old bytes; left as it is (-f transforms it all the same)");
    done = false;
  }
  done = done && TransformFile(here, key_path_, options_.offset, options_.direction, notifier_);
  notifier_.EndProgress();
  if (done) {
    done_.Add(here, shown);
    done_names_.push_back(shown);
  }
  done_despite_stop_ = done && os::StopRequested();
  all_done_ = all_done_ && done && notifier_.failures() == failures_before;
}

void FileRuns::Walk(const std::vector<std::string>& roots) {
  os::WalkTrees(roots, [&](const os::WalkEntry& entry) {
    if (os::StopRequested()) return false;
    os::Error error;
    switch (entry.kind) {
      case os::WalkEntry::kFile:
        if (IsWorkingFile(entry.here)) {
          Skip(entry.shown, "skipped: a working file, left by a run that did not finish");
          break;
        }
        switch (os::CompareFiles(entry.here, key_path_, &error)) {
          case os::Sameness::kSame:
            Skip(entry.shown, "skipped: it is the key file");
            break;
          case os::Sameness::kUnknown:
            Fail(entry.shown, "cannot tell whether it is the key file (" + error.text + "); left as it is");
            break;
          case os::Sameness::kDifferent:
            TransformOne(entry.here, entry.shown, entry.here == entry.shown ? "" : FolderPart(entry.shown));
            break;
        }
        break;
      case os::WalkEntry::kLink:
        Skip(entry.shown, "skipped: a symbolic link, which -r does not follow");
        break;
      case os::WalkEntry::kOther:
        Skip(entry.shown, "skipped: not a regular file");
        break;
      case os::WalkEntry::kFailed:
        Fail(entry.shown, entry.error.text);
        break;
    }
    return true;
  });
}

int FileRuns::Run() {
  // The walk enters each folder, so the key is named from the root.
  key_path_ = options_.recursive ? os::AbsolutePath(options_.key_path) : options_.key_path;
  for (const std::string& file : options_.files) {
    if (os::StopRequested()) break;
    // A link is followed to its file, so the working file goes beside the
    // file itself and the link keeps leading to the result.
    const std::string path = os::ResolveLink(file);
    if (options_.recursive) {
      Walk({path});
    } else {
      TransformOne(path, file);
    }
  }
  if (StopSignal() == 0) return all_done_ ? kAllDone : kSomeFailed;
  // Stopped: say which files are done, the one that was already being put in
  // place when the stop came in any case, then end by the signal.
  for (std::size_t i = 0; i < done_names_.size(); ++i) {
    const bool last_and_late = done_despite_stop_ && i + 1 == done_names_.size();
    if (!options_.quiet || last_and_late) notifier_.Line("vaultine: " + done_names_[i] + ": " + done_word_);
  }
  EndByStopSignal();
}

}  // namespace

int TransformFiles(const Options& options) { return FileRuns(options).Run(); }

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
  const bool done = TransformStream(input, options.key_path, options.offset, options.direction, notifier);
  if (StopSignal() != 0) EndByStopSignal();
  return done ? kAllDone : kSomeFailed;
}
