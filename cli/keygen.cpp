#include "cli/keygen.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "text/path_split.h"
#include "os/file_system.h"
#include "os/stop_request.h"

namespace {

constexpr std::size_t kBlockSize = 1 << 20;
constexpr std::uint64_t kProgressFrom = 16 << 20;

bool FillRandom(std::uint8_t* out, std::size_t size) {
  while (size > 0) {
    const ssize_t got = getrandom(out, size, 0);
    if (got < 0) {
      if (errno == EINTR && !os::StopRequested()) continue;
      return false;
    }
    out += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// Writes the random bytes; the reason when it cannot.
std::string WriteRandomBytes(os::NewFile& key, const std::string& path, std::uint64_t size, std::uint8_t* block,
                             TerminalNotifier& notifier) {
  int shown_percent = -1;
  for (std::uint64_t done = 0; done < size;) {
    if (os::StopRequested()) return "stopped";
    const int percent = static_cast<int>(done * 100 / size);
    if (size >= kProgressFrom && percent != shown_percent) {
      notifier.Status("Writing key file " + path + " " + std::to_string(percent) + "% done.");
      shown_percent = percent;
    }
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, size - done));
    if (!FillRandom(block, count)) {
      return os::StopRequested() ? "stopped" : "the system's random generator failed (" + os::LastErrorText() + ")";
    }
    if (!key.Write(block, count)) return os::StopRequested() ? "stopped" : "could not write it (" + os::LastErrorText() + ")";
    done += count;
  }
  if (!key.FlushAndClose()) return "could not flush it to disk (" + os::LastErrorText() + ")";
  if (os::StopRequested()) return "stopped";  // during the flush
  if (!key.IsStillAtItsPath()) return "another program removed or replaced it meanwhile";
  return "";
}

}  // namespace

bool MakeKeyFile(const std::string& path, std::uint64_t size, TerminalNotifier& notifier) {
  if (NamePart(path).empty()) {
    notifier.Line("vaultine: " + path + ": names a folder; a key file needs a name of its own");
    return false;
  }
  // Before the file exists: a failed allocation leaves nothing behind.
  const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kBlockSize]);
  os::Folder folder;
  if (!folder.OpenFolderOf(path)) {
    notifier.Line("vaultine: " + path + ": cannot create it: " + os::LastErrorText());
    return false;
  }
  os::NewFile key(folder);
  switch (key.Create(path)) {
    case os::NewFile::Created::kAlreadyExists:
    case os::NewFile::Created::kCannotTell:
      notifier.Line("vaultine: " + path + ": already exists; a key is only ever written to a new file");
      return false;
    case os::NewFile::Created::kInUse:
    case os::NewFile::Created::kFailed:
      notifier.Line("vaultine: " + path + ": cannot create it: " + os::LastErrorText());
      return false;
    case os::NewFile::Created::kNew:
      break;
  }
  std::string failure;
  const std::int64_t available = folder.AvailableBytes();
  const os::NewFile::Privacy privacy = key.MakePrivate();
  if (privacy == os::NewFile::Privacy::kFailed) {
    failure = "could not make it private (" + os::LastErrorText() + ")";
  } else if (privacy == os::NewFile::Privacy::kNotKept) {
    failure = "this file system cannot keep a file private to its owner, so every local user could read the key; "
              "keep keys on a Linux file system, such as your home folder";
  } else if (available >= 0 && size >= static_cast<std::uint64_t>(available)) {
    failure = "it would not fit: " + std::to_string(size) + " bytes, and the disk has " + std::to_string(available) +
              " free";
  } else {
    failure = WriteRandomBytes(key, path, size, block.get(), notifier);
  }
  if (!failure.empty()) {
    notifier.Line("vaultine: " + path + ": " + failure + "; nothing was kept");
    return false;  // the unfinished key goes with the file object
  }
  key.Keep();
  notifier.EndProgress();
  // The new name must survive a power cut too.
  if (!folder.Flush()) {
    notifier.Line("vaultine: " + path + ": written, but its folder could not be flushed (" + os::LastErrorText() +
                  "): the key may not be on disk yet");
    return false;
  }
  return true;
}
