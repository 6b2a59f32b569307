#include "cli/keygen.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "os/stop_request.h"

namespace {

constexpr std::size_t kBlockSize = 1 << 20;
constexpr std::uint64_t kProgressFrom = 16 << 20;

std::string Reason() { return std::strerror(errno); }

bool FillRandom(std::uint8_t* out, std::size_t size) {
  while (size > 0) {
    const ssize_t got = getrandom(out, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// The new name must survive a power cut too.
void SyncFolderOf(const std::string& path) {
  const std::string::size_type slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

bool MakeKeyFile(const std::string& path, std::uint64_t size, TerminalNotifier& notifier) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) {
    notifier.Line(errno == EEXIST ? "vaultine: " + path + " already exists: a key is only ever written to a new file"
                                  : "vaultine: could not create " + path + " (" + Reason() + ")");
    return false;
  }
  fchmod(fd, S_IRUSR | S_IWUSR);  // whatever the umask took away, the owner reads and writes it
  const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kBlockSize]);
  std::string failure;
  struct statvfs disk;
  if (fstatvfs(fd, &disk) == 0 && size / disk.f_frsize >= disk.f_bavail) {
    failure = "it would not fit: " + std::to_string(size) + " bytes, and the disk has " +
              std::to_string(static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize) + " free";
  }
  int shown_percent = -1;
  for (std::uint64_t done = 0; done < size && failure.empty();) {
    if (os::StopRequested()) {
      failure = "stopped";
      break;
    }
    const int percent = static_cast<int>(done * 100 / size);
    if (size >= kProgressFrom && percent != shown_percent) {
      notifier.Title("Writing key file " + path + " " + std::to_string(percent) + "% done.");
      shown_percent = percent;
    }
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, size - done));
    if (!FillRandom(block.get(), count)) {
      failure = "the system's random generator failed (" + Reason() + ")";
    } else if (!WriteAll(fd, block.get(), count)) {
      failure = "could not write it (" + Reason() + ")";
    }
    done += count;
  }
  if (failure.empty() && fsync(fd) != 0) failure = "could not flush it to disk (" + Reason() + ")";
  if (close(fd) != 0 && failure.empty()) failure = "could not write it (" + Reason() + ")";
  if (failure.empty() && os::StopRequested()) failure = "stopped";  // during the flush
  if (!failure.empty()) {
    unlink(path.c_str());
    notifier.Line("vaultine: " + path + ": " + failure + "; nothing was kept");
    return false;
  }
  notifier.EndProgress();
  SyncFolderOf(path);
  return true;
}
