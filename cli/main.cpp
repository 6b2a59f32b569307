// vaultine: the command-line companion. Each FILE goes through the same checks
// and transform as one press of the Windows program's button.

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/version.h"
#include "cipher/input_checks.h"
#include "cipher/transform.h"
#include "cli/options.h"
#include "cli/stop_signals.h"
#include "cli/terminal_notifier.h"
#include "os/stop_request.h"

namespace {

enum ExitStatus { kAllDone = 0, kSomeFailed = 1, kUsageError = 2 };

// A link is followed to its file, so the working file goes beside the file
// itself and the link keeps pointing at the result.
std::string FollowLink(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* target = realpath(path.c_str(), nullptr);
  if (target == nullptr) return path;
  std::string resolved = target;
  std::free(target);
  return resolved;
}

int TransformAll(const Options& options) {
  TerminalNotifier notifier(stderr, !options.quiet && isatty(STDERR_FILENO));
  bool all_done = true;
  std::size_t handled = 0;
  for (const std::string& file : options.files) {
    if (os::StopRequested()) break;
    ++handled;
    bool done = false;
    try {
      const std::string data_path = FollowLink(file);
      done = CheckInputs(data_path, options.key_path, options.offset, options.make_key_read_only ? 1 : 0,
                         notifier) != 0 &&
             TransformFile(data_path, options.key_path, static_cast<std::uint8_t>(options.offset),
                           options.direction, notifier);
    } catch (const std::exception& error) {
      // The transform cleans up after itself; this escaped the checks, and
      // the next file may still go well.
      notifier.EndProgress();
      std::fprintf(stderr, "vaultine: %s: %s\n", file.c_str(), error.what());
    }
    notifier.EndProgress();
    all_done = all_done && done;
  }
  // A stop that came while the last result was already taking its file's
  // place stopped nothing: the status must not send a script to run again.
  const bool stopped_something = !all_done || handled < options.files.size();
  if (StopSignal() != 0 && stopped_something) return 128 + StopSignal();
  return all_done ? kAllDone : kSomeFailed;
}

}  // namespace

int main(int argc, char* argv[]) {
  Options options;
  std::string error;
  switch (ParseCommandLine(argc, argv, &options, &error)) {
    case Command::kHelp:
      std::fputs(kHelp, stdout);
      return kAllDone;
    case Command::kVersion:
      std::printf("vaultine %s\n", VAULTINE_DISPLAY_VERSION);
      return kAllDone;
    case Command::kUsageError:
      std::fprintf(stderr, "vaultine: %s\n%s", error.c_str(), kUsage);
      return kUsageError;
    case Command::kTransform:
      break;
  }
  CatchStopSignals();
  return TransformAll(options);
}
