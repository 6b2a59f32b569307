#include "os/file_system.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cipher/path_split.h"

namespace os {

const char kWorkingSuffix[] = "1\xC3\xAA" "9";

namespace {

constexpr mode_t kPermissionBits = 0777;
constexpr mode_t kWriteBits = 0222;
// Without blocking on a FIFO and without taking a terminal.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// Writeback starts every so often while the rest is transformed, so the flush
// at the end has little left to wait for.
constexpr std::int64_t kWritebackChunk = 8 << 20;

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

std::string FolderOf(const std::string& path) {
  const std::string folder = FolderPart(path);
  return folder.empty() ? "." : folder;
}

FileStamp StampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.volume = st.st_dev;
  stamp.index = st.st_ino;
  stamp.size = st.st_size;
  stamp.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}

// Only regular files are accepted, as a Windows open refuses a directory.
int KeepIfRegular(int fd) {
  if (fd < 0) return -1;
  struct stat st;
  int reason = 0;
  if (fstat(fd, &st) != 0) {
    reason = errno;
  } else if (!S_ISREG(st.st_mode)) {
    reason = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  if (reason != 0) {
    close(fd);
    errno = reason;
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

std::vector<std::string> AttributeNames(int fd) {
  std::vector<std::string> names;
  ssize_t size = flistxattr(fd, nullptr, 0);
  if (size <= 0) return names;
  std::string list(static_cast<std::size_t>(size), '\0');
  size = flistxattr(fd, &list[0], list.size());
  for (std::size_t start = 0; size > 0 && start < static_cast<std::size_t>(size);) {
    const std::size_t end = list.find('\0', start);
    names.push_back(list.substr(start, end - start));
    start = end == std::string::npos ? list.size() : end + 1;
  }
  return names;
}

// The model's extended attributes, its ACL among them, replace the file's own:
// an ACL inherited from the folder's default ACL must not outlive what the
// model allows. Attributes the caller may not set are skipped.
void CopyExtendedAttributes(int model, int fd) {
  const std::vector<std::string> wanted = AttributeNames(model);
  for (const std::string& name : AttributeNames(fd)) {
    if (std::find(wanted.begin(), wanted.end(), name) == wanted.end()) fremovexattr(fd, name.c_str());
  }
  std::vector<char> value;
  for (const std::string& name : wanted) {
    const ssize_t size = fgetxattr(model, name.c_str(), nullptr, 0);
    if (size < 0) continue;
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = fgetxattr(model, name.c_str(), value.data(), value.size());
    if (got >= 0) fsetxattr(fd, name.c_str(), value.data(), static_cast<std::size_t>(got), 0);
  }
}

}  // namespace

FileProbe::FileProbe(const std::string& path, ProbeShare share) {
  int fd = KeepIfRegular(open(path.c_str(), kReadFlags));
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

Folder::~Folder() {
  if (handle_ != -1) close(Fd(handle_));
}

bool Folder::OpenFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // A folder its user may enter and write but not list still serves for
  // every step; only the flush of its entries is then left to the system.
  if (fd < 0 && errno == EACCES) fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  handle_ = fd;
  return fd >= 0;
}

bool InputFile::Open(const std::string& path) {
  Close();
  handle_ = KeepIfRegular(open(path.c_str(), kReadFlags));
  return handle_ != -1;
}

bool InputFile::OpenIn(const Folder& folder, const std::string& path) {
  Close();
  handle_ = KeepIfRegular(openat(Fd(folder.handle_), NamePart(path).c_str(), kReadFlags | O_NOFOLLOW));
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

FileStamp InputFile::Stamp() const {
  struct stat st;
  return fstat(Fd(handle_), &st) == 0 ? StampOf(st) : FileStamp();
}

bool Folder::Flush() const { return fsync(Fd(handle_)) == 0; }

std::int64_t Folder::AvailableBytes() const {
  struct statvfs disk;
  if (fstatvfs(Fd(handle_), &disk) != 0) return -1;
  return static_cast<std::int64_t>(disk.f_bavail) * static_cast<std::int64_t>(disk.f_frsize);
}

NewFile::NewFile(const Folder& folder) : folder_(folder) {}

NewFile::~NewFile() {
  Close();
  if (keep_ || path_.empty()) return;
  // Only this run's own file: another run may have put its own at this path.
  if (IsStillAtItsPath()) unlinkat(Fd(folder_.handle_), NamePart(path_).c_str(), 0);
}

NewFile::Created NewFile::Create(const std::string& path) {
  // Appending: a file cut short by someone else meanwhile stays short, and
  // the length it ends with shows it.
  const int fd = openat(Fd(folder_.handle_), NamePart(path).c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) return errno == EEXIST ? Created::kAlreadyExists : Created::kFailed;
  handle_ = fd;
  path_ = path;
  struct stat created;
  if (fstat(fd, &created) != 0) return Created::kFailed;
  identity_ = StampOf(created);
  return Created::kNew;
}

bool NewFile::Write(const void* buffer, std::size_t size) {
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
  if (written_ - started_writeback_ >= kWritebackChunk) {
    sync_file_range(Fd(handle_), started_writeback_, written_ - started_writeback_, SYNC_FILE_RANGE_WRITE);
    started_writeback_ = written_;
  }
  return true;
}

bool NewFile::MakePrivate() { return fchmod(Fd(handle_), S_IRUSR | S_IWUSR) == 0; }

bool NewFile::FlushAndClose() {
  const int fd = Fd(handle_);
  handle_ = -1;
  const bool flushed = fsync(fd) == 0;
  return close(fd) == 0 && flushed;
}

bool NewFile::IsStillAtItsPath() const {
  struct stat st;
  return fstatat(Fd(folder_.handle_), NamePart(path_).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         StampOf(st).IsSameFileAs(identity_);
}

void NewFile::Close() {
  if (handle_ == -1) return;
  close(Fd(handle_));
  handle_ = -1;
}

NewFile::Created WorkingFile::Create(const std::string& path, const InputFile& data) {
  struct stat model;
  if (fstat(Fd(data.handle_), &model) != 0) return Created::kFailed;
  const Created created = NewFile::Create(path);
  if (created != Created::kNew) return created;
  // The model's owner and group where we may: root may give both, an owner
  // only the group.
  if (fchown(Fd(handle_), model.st_uid, model.st_gid) != 0) {
    (void)!fchown(Fd(handle_), static_cast<uid_t>(-1), model.st_gid);
  }
  return Created::kNew;
}

std::int64_t WorkingFile::Finish(const InputFile& data) {
  const int fd = Fd(handle_);
  struct stat model;
  struct stat self;
  if (fstat(Fd(data.handle_), &model) != 0 || fstat(fd, &self) != 0) return -1;
  finished_ = StampOf(self);
  CopyExtendedAttributes(Fd(data.handle_), fd);
  mode_t mode = model.st_mode & kPermissionBits;
  // Bits meant for the model's group must not reach another group.
  if (self.st_gid != model.st_gid) mode &= ~static_cast<mode_t>(S_IRWXG);
  if (fchmod(fd, mode) != 0 || fstat(fd, &self) != 0 || !FlushAndClose()) return -1;
  return self.st_size;
}

WorkingFile::Replaced WorkingFile::Replace(const std::string& data_path, const FileStamp& data_as_read) {
  const int folder = Fd(folder_.handle_);
  const std::string data_name = NamePart(data_path);
  const std::string working_name = NamePart(path_);
  struct stat data;
  if (fstatat(folder, data_name.c_str(), &data, AT_SYMLINK_NOFOLLOW) != 0 || StampOf(data) != data_as_read) {
    return Replaced::kDataChanged;
  }
  // Still this run's file, as its last write left it: what Finish itself
  // changed (owner, permissions) shows in the change time only.
  struct stat working;
  if (fstatat(folder, working_name.c_str(), &working, AT_SYMLINK_NOFOLLOW) != 0) return Replaced::kWorkingChanged;
  const FileStamp now = StampOf(working);
  if (!now.IsSameFileAs(finished_) || now.size != finished_.size || now.modified != finished_.modified) {
    return Replaced::kWorkingChanged;
  }
  // Root may write any file; one without write bits is read-only all the
  // same, as the read-only attribute is on Windows. A user who may write the
  // file but could not give the result its owner and group may not replace
  // it either: the file would change hands, and its owner might lose it.
  if ((data.st_mode & kWriteBits) == 0 || faccessat(folder, data_name.c_str(), W_OK, AT_EACCESS) != 0 ||
      working.st_uid != data.st_uid || working.st_gid != data.st_gid) {
    return Replaced::kDataReadOnly;
  }
  if (renameat(folder, working_name.c_str(), folder, data_name.c_str()) != 0) return Replaced::kFailed;
  keep_ = true;  // it is the data file now
  folder_.Flush();
  return Replaced::kDone;
}

std::string LastErrorText() { return std::strerror(errno); }

bool MakeReadOnly(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  return chmod(path.c_str(), st.st_mode & ~kWriteBits & 07777) == 0;
}

bool IsReadOnly(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & kWriteBits) == 0;
}

FileStatus StatusOf(const std::string& path) {
  FileStatus status;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return status;
  status.exists = true;
  status.regular = S_ISREG(st.st_mode);
  status.links = st.st_nlink;
  status.stamp = StampOf(st);
  return status;
}

std::string ResolveLink(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* target = realpath(path.c_str(), nullptr);
  if (target == nullptr) return path;
  std::string resolved = target;
  std::free(target);
  return resolved;
}

void KeepStandardStreamsOpen() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa;
  struct stat sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace os
