// vaultine: the command-line companion. Each FILE goes through the same checks
// and transform as one press of the Windows program's button; keygen writes
// key files.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <utility>
#include <vector>

#include "version.h"
#include "cipher/input_checks.h"
#include "cipher/transform.h"
#include "cli/keygen.h"
#include "cli/options.h"
#include "cli/stop_signals.h"
#include "cli/terminal_notifier.h"
#include "os/file_system.h"
#include "os/stop_request.h"

namespace {

enum ExitStatus { kAllDone = 0, kSomeFailed = 1, kUsageError = 2 };

using FileId = std::pair<std::uint64_t, std::uint64_t>;

FileId IdOf(const os::FileStamp& stamp) { return {stamp.volume, stamp.index}; }

std::string OtherLinks(std::uint64_t links) {
  const unsigned long others = static_cast<unsigned long>(links - 1);
  return std::to_string(others) + " other link" + (others == 1 ? "" : "s");
}

int TransformAll(const Options& options) {
  TerminalNotifier notifier(stderr, !options.quiet);
  const char* done_word = options.direction == TransformDirection::Encrypt ? "encrypted" : "decrypted";
  std::map<FileId, std::string> results;  // the files this call transformed, as they are now
  std::vector<std::string> done_files;
  bool all_done = true;
  bool done_despite_stop = false;
  for (const std::string& file : options.files) {
    if (os::StopRequested()) break;
    bool done = false;
    try {
      const std::string data_path = os::ResolveLink(file);
      // What the engine cannot see: a file named twice in one call would be
      // transformed twice, and the other names of a file with hard links
      // would keep the old bytes.
      const os::FileStatus status = os::StatusOf(data_path);
      if (status.regular) {
        const auto earlier = results.find(IdOf(status.stamp));
        if (earlier != results.end()) {
          notifier.Line("vaultine: " + file + ": the same file as " + earlier->second +
                        ", which this call has already " + done_word + "; left as it is");
          continue;
        }
        if (status.links > 1 && !options.force) {
          notifier.Line("vaultine: " + file + ": has " + OtherLinks(status.links) +
                        ", whose names would keep the old bytes; left as it is (-f transforms it all the same)");
          all_done = false;
          continue;
        }
      }
      done = CheckInputs(data_path, options.key_path, options.offset, options.make_key_read_only ? 1 : 0,
                         notifier) != 0 &&
             TransformFile(data_path, options.key_path, static_cast<std::uint8_t>(options.offset),
                           options.direction, notifier);
      const os::FileStatus result = os::StatusOf(data_path);
      if (done && result.exists) results[IdOf(result.stamp)] = file;
    } catch (const std::exception& error) {
      // The transform cleans up after itself; this escaped the checks, and
      // the next file may still go well.
      notifier.Line("vaultine: " + file + ": " + error.what());
    }
    notifier.EndProgress();
    if (done) done_files.push_back(file);
    done_despite_stop = done && os::StopRequested();
    all_done = all_done && done;
  }
  if (StopSignal() == 0) return all_done ? kAllDone : kSomeFailed;
  // Stopped: say which files are done, the one that was already being put in
  // place when the stop came in any case, then end by the signal.
  for (std::size_t i = 0; i < done_files.size(); ++i) {
    const bool last_and_late = done_despite_stop && i + 1 == done_files.size();
    if (!options.quiet || last_and_late) notifier.Line("vaultine: " + done_files[i] + ": " + done_word);
  }
  EndByStopSignal();
}

int MakeKey(const Options& options) {
  TerminalNotifier notifier(stderr, !options.quiet);
  std::uint64_t size = options.key_size;
  for (const std::string& file : options.files) {
    const os::FileStatus status = os::StatusOf(file);
    if (!status.exists) {
      notifier.Line("vaultine: cannot take the size of " + file + " (" + os::LastErrorText() + ")");
      return kSomeFailed;
    }
    if (!status.regular) {
      notifier.Line("vaultine: " + file + " is no file of data to make a key for");
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
    std::fprintf(stderr, "vaultine: could not write to standard output (%s)\n", std::strerror(errno));
    return kSomeFailed;
  }
  return kAllDone;
}

}  // namespace

int main(int argc, char* argv[]) {
  Options options;
  std::string error;
  switch (ParseCommandLine(argc, argv, &options, &error)) {
    case Command::kHelp:
      return Print(kHelp);
    case Command::kVersion:
      return Print("vaultine " VAULTINE_DISPLAY_VERSION "\n");
    case Command::kUsageError:
      std::fprintf(stderr, "vaultine: %s\n%s", error.c_str(), kUsage);
      return kUsageError;
    case Command::kKeygen:
      os::KeepStandardStreamsOpen();
      CatchStopSignals();
      return MakeKey(options);
    case Command::kTransform:
      break;
  }
  os::KeepStandardStreamsOpen();
  CatchStopSignals();
  return TransformAll(options);
}
