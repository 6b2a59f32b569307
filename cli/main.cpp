// vaultine: the command-line companion. Each FILE goes through the same checks
// and transform as one press of the Windows program's button; keygen writes
// key files.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <utility>
#include <vector>

#include "app/version.h"
#include "cipher/input_checks.h"
#include "cipher/transform.h"
#include "cli/keygen.h"
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

// Standard streams closed by the caller are opened on /dev/null, so that no
// file this command opens takes their place and receives its messages.
void KeepStandardStreamsOpen() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
}

using FileId = std::pair<dev_t, ino_t>;

std::string OtherLinks(nlink_t links) {
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
      const std::string data_path = FollowLink(file);
      // What the engine cannot see: a file named twice in one call would be
      // transformed twice, and the other names of a file with hard links
      // would keep the old bytes.
      struct stat st;
      if (stat(data_path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        const auto earlier = results.find({st.st_dev, st.st_ino});
        if (earlier != results.end()) {
          notifier.Line("vaultine: " + file + ": the same file as " + earlier->second +
                        ", which this call has already " + done_word + "; left as it is");
          continue;
        }
        if (st.st_nlink > 1 && !options.force) {
          notifier.Line("vaultine: " + file + ": has " + OtherLinks(st.st_nlink) +
                        ", whose names would keep the old bytes; left as it is (-f transforms it all the same)");
          all_done = false;
          continue;
        }
      }
      done = CheckInputs(data_path, options.key_path, options.offset, options.make_key_read_only ? 1 : 0,
                         notifier) != 0 &&
             TransformFile(data_path, options.key_path, static_cast<std::uint8_t>(options.offset),
                           options.direction, notifier);
      if (done && stat(data_path.c_str(), &st) == 0) results[{st.st_dev, st.st_ino}] = file;
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
    struct stat st;
    if (stat(file.c_str(), &st) != 0) {
      notifier.Line("vaultine: cannot take the size of " + file + " (" + std::strerror(errno) + ")");
      return kSomeFailed;
    }
    if (!S_ISREG(st.st_mode)) {
      notifier.Line("vaultine: " + file + " is no file of data to make a key for");
      return kSomeFailed;
    }
    size = std::max<std::uint64_t>(size, static_cast<std::uint64_t>(st.st_size));
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
      KeepStandardStreamsOpen();
      CatchStopSignals();
      return MakeKey(options);
    case Command::kTransform:
      break;
  }
  KeepStandardStreamsOpen();
  CatchStopSignals();
  return TransformAll(options);
}
