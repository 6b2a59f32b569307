#include "os/file_system.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace os {

const char kWorkingSuffix[] = "1\xC3\xAA" "9";

bool IsLeadByte(unsigned char) { return false; }

namespace {

constexpr mode_t kPermissionBits = 0777;
constexpr mode_t kWriteBits = 0222;

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

// Open without blocking on a FIFO and without taking a terminal; only regular
// files are accepted, as a Windows file open would refuse a directory.
int OpenRegularForReading(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

// Windows refuses to open a file with share mode 0 while any other handle to
// it is open. Linux grants a write lease only while no other descriptor of the
// file is open anywhere, which answers the same question. Where no lease can
// be had for other reasons (not the owner, a network file system) the plain
// open stands.
bool OpenedNowhereElse(int fd) {
  if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
    return true;
  }
  return errno != EAGAIN && errno != EBUSY;
}

void SyncDirectoryOf(const std::string& path) {
  std::string::size_type slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

FileProbe::FileProbe(const std::string& path, ProbeShare share) {
  int fd = OpenRegularForReading(path);
  if (fd < 0) return;
  if (share == ProbeShare::kNone && !OpenedNowhereElse(fd)) {
    close(fd);
    return;
  }
  handle_ = fd;
}

FileProbe::~FileProbe() {
  if (IsOpen()) close(Fd(handle_));
}

bool InputFile::Open(const std::string& path) {
  Close();
  handle_ = OpenRegularForReading(path);
  return handle_ != -1;
}

void InputFile::Close() {
  if (handle_ == -1) return;
  close(Fd(handle_));
  handle_ = -1;
}

std::int64_t InputFile::Read(void* buffer, std::size_t size) {
  if (size > SSIZE_MAX) size = SSIZE_MAX;
  for (;;) {
    ssize_t n = read(Fd(handle_), buffer, size);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

std::int64_t InputFile::Tell() { return lseek(Fd(handle_), 0, SEEK_CUR); }
std::int64_t InputFile::SeekToEnd() { return lseek(Fd(handle_), 0, SEEK_END); }
bool InputFile::Seek(std::int64_t position) {
  return lseek(Fd(handle_), position, SEEK_SET) == position;
}

OutputFile::Created OutputFile::Create(const std::string& path, const std::string& model_path) {
  Close();
  struct stat model;
  if (stat(model_path.c_str(), &model) != 0) return Created::kFailed;
  // Owner-writable until Finish, so that an unfinished file can be removed.
  mode_t mode = (model.st_mode & kPermissionBits) | S_IWUSR;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode & ~(S_IRWXG | S_IRWXO));
  if (fd < 0) return errno == EEXIST ? Created::kAlreadyExists : Created::kFailed;
  // Keep the model's owner and group where we may (root may change both, an
  // owner only the group); group bits meant for the model's group must not
  // reach another group.
  if (fchown(fd, model.st_uid, model.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), model.st_gid);
  struct stat created;
  if (fstat(fd, &created) == 0 && created.st_gid != model.st_gid) {
    mode &= ~static_cast<mode_t>(S_IRWXG);
  }
  fchmod(fd, mode);
  handle_ = fd;
  path_ = path;
  model_path_ = model_path;
  return Created::kNew;
}

bool OutputFile::Write(const void* buffer, std::size_t size) {
  const char* bytes = static_cast<const char*>(buffer);
  while (size > 0) {
    ssize_t n = write(Fd(handle_), bytes, size > SSIZE_MAX ? SSIZE_MAX : size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
    written_ += n;
  }
  // Start writing back what is done while the rest is transformed, so the
  // flush at the end has little left to wait for.
  if (written_ - started_writeback_ >= kWritebackChunk) {
    sync_file_range(Fd(handle_), started_writeback_, written_ - started_writeback_, SYNC_FILE_RANGE_WRITE);
    started_writeback_ = written_;
  }
  return true;
}

std::int64_t OutputFile::Finish() {
  int fd = Fd(handle_);
  if (fsync(fd) != 0) return -1;
  struct stat model;
  struct stat self;
  if (stat(model_path_.c_str(), &model) != 0 || fstat(fd, &self) != 0) return -1;
  mode_t mode = model.st_mode & kPermissionBits;
  if (self.st_gid != model.st_gid) mode &= ~static_cast<mode_t>(S_IRWXG);
  if (fchmod(fd, mode) != 0) return -1;
  return self.st_size;
}

bool OutputFile::Close() {
  if (handle_ == -1) return true;
  int result = close(Fd(handle_));
  handle_ = -1;
  return result == 0;
}

void OutputFile::Discard() {
  Close();
  unlink(path_.c_str());
}

bool RemoveFile(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISLNK(st.st_mode) && (st.st_mode & kWriteBits) == 0) {
    errno = EACCES;
    return false;
  }
  return unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  bool moved = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
  if (!moved && (errno == EINVAL || errno == ENOSYS)) {
    // File systems without the no-replace flag: a hard link fails on an
    // existing destination just the same.
    moved = link(from.c_str(), to.c_str()) == 0 && unlink(from.c_str()) == 0;
  }
  if (moved) SyncDirectoryOf(to);
  return moved;
}

bool MakeReadOnly(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  return chmod(path.c_str(), st.st_mode & ~kWriteBits & 07777) == 0;
}

bool IsReadOnly(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & kWriteBits) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa;
  struct stat sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace os
