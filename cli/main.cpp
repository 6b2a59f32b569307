// vaultine: the command-line companion. Each FILE goes through the same checks
// and transform as one press of the Windows program's button; keygen writes
// key files.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/keygen.h"
#include "cli/options.h"
#include "cli/stop_signals.h"
#include "cli/terminal_notifier.h"
#include "cli/transform_files.h"
#include "os/file_system.h"
#include "os/posix.h"
#include "text/escape.h"

namespace {

int MakeKey(const Options& options) {
  TerminalNotifier notifier(stderr, !options.quiet);
  std::uint64_t size = options.key_size;
  for (const std::string& file : options.files) {
    const os::FileStatus status = os::StatusOf(file);
    if (!status.exists) {
      notifier.Line("vaultine: " + file + ": " + os::LastErrorText());
      return kSomeFailed;
    }
    if (!status.regular) {
      notifier.Line("vaultine: " + file + ": not a file of data to make a key for");
      return kSomeFailed;
    }
    size = std::max<std::uint64_t>(size, static_cast<std::uint64_t>(status.stamp.size));
  }
  if (size == 0) {
    notifier.Line("vaultine: the files are empty, and a key needs at least one byte");
    return kSomeFailed;
  }
  const bool made = MakeKeyFile(options.key_path, size, notifier);
  if (StopSignal() != 0) {
    if (made) notifier.Line("vaultine: " + options.key_path + ": written");  // the stop came too late
    EndByStopSignal();
  }
  return made ? kAllDone : kSomeFailed;
}

// Help and version go to standard output; a full or closed output is a
// failure the caller must hear of.
int Print(const char* text) {
  std::fputs(text, stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout) || std::fclose(stdout) != 0) {
    std::fprintf(stderr, "vaultine: standard output: %s\n", std::strerror(errno));
    return kSomeFailed;
  }
  return kAllDone;
}

}  // namespace

int main(int argc, char* argv[]) {
  Options options;
  std::string error;
  const Command command = ParseCommandLine(argc, argv, &options, &error);
  switch (command) {
    case Command::kHelp:
      return Print(kHelp);
    case Command::kVersion:
      return Print(kVersion);
    case Command::kUsageError:
      // The error may quote a file's name.
      if (!error.empty()) std::fprintf(stderr, "vaultine: %s\n", Escaped(error).c_str());
      std::fputs(kUsage, stderr);
      return kUsageError;
    case Command::kKeygen:
    case Command::kTransform:
      break;
  }
  // Before the workers start, which keep its signal out.
  os::CatchLeaseBreaks();
  // A file opened later must not take the place of a stream the caller
  // closed: messages or output would go into it.
  const os::ClosedStreams closed = os::KeepStandardStreamsOpen();
  if (closed.failed) {
    std::fputs("vaultine: a standard stream was closed and cannot be opened on /dev/null; nothing was done\n", stderr);
    return kSomeFailed;
  }
  // With -c there is nothing to clean up: a reader of the output gone ends
  // the command, as it ends any program in a pipe.
  if (!CatchStopSignals(options.to_stdout ? StopSignals::kStreaming : StopSignals::kCleanUp)) {
    std::fprintf(stderr, "vaultine: cannot catch the signals that stop it (%s); nothing was done\n",
                 std::strerror(errno));
    return kSomeFailed;
  }
  if (command == Command::kKeygen) return MakeKey(options);
  if (options.to_stdout) return TransformToStandardOutput(options, closed);
  return TransformFiles(options);
}
