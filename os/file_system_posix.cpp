#include "os/file_system.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "cipher/path_split.h"

namespace os {

const std::string& WorkingSuffix() {
  static const std::string suffix = "1\xC3\xAA" "9";
  return suffix;
}

namespace {

constexpr mode_t kPermissionBits = 0777;
constexpr mode_t kModeBits = 07777;  // with setuid, setgid and sticky
constexpr mode_t kWriteBits = 0222;
// Without blocking on a FIFO and without taking a terminal.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// Writeback starts every so often while the rest is transformed, so the flush
// at the end has little left to wait for.
constexpr std::int64_t kWritebackChunk = 8 << 20;

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

Error ErrorOf(int code) { return {code, std::strerror(code)}; }

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

// Some file systems (FUSE, NFS) may answer "try again" where a disk never does.
bool TryAgain(int error) {
  if (error == EINTR) return true;
  if (error != EAGAIN) return false;
  const timespec pause = {0, 1000000};
  nanosleep(&pause, nullptr);
  return true;
}

// Whether another program has the file open for writing: Linux then refuses
// a read lease, and grants it while others only read. The lease is given
// back at once. A program that opens the file for writing in between breaks
// it, and the kernel says so by a signal: SIGURG, which is ignored unless
// asked for, rather than SIGIO, which would end this process. Where no lease
// can be had at all (another user's file, a network file system) the open
// stands.
bool WrittenElsewhere(int fd) {
  if (fcntl(fd, F_SETSIG, SIGURG) != 0) return false;
  if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
    return false;
  }
  return errno == EAGAIN;
}

Probed Refused(Opened how, int code = 0) {
  Probed probed;
  probed.how = how;
  if (code != 0) probed.error = ErrorOf(code);
  return probed;
}

Probed FromOpenError(int code) {
  return Refused(code == ENOENT || code == ENOTDIR ? Opened::kNotFound : Opened::kFailed, code);
}

// Takes fd for reading a regular file that nobody writes meanwhile, or
// closes it and says why not.
Probed TakeForReading(int fd, std::intptr_t* handle) {
  if (fd < 0) return FromOpenError(errno);
  struct stat st;
  Probed probed;
  probed.how = Opened::kOpen;
  if (fstat(fd, &st) != 0) {
    probed = Refused(Opened::kFailed, errno);
  } else if (S_ISDIR(st.st_mode)) {
    probed = Refused(Opened::kFolder, EISDIR);
  } else if (!S_ISREG(st.st_mode)) {
    probed = Refused(Opened::kNotRegular);
  } else if (WrittenElsewhere(fd)) {
    probed = Refused(Opened::kInUse);
  }
  if (!probed.ok()) {
    close(fd);
    return probed;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  *handle = fd;
  return probed;
}

// The names of a file's extended attributes. A file system that keeps none
// has none; any other failure to list them is a failure.
bool AttributeNames(int fd, std::vector<std::string>* names) {
  names->clear();
  std::string list;
  for (;;) {
    const ssize_t size = flistxattr(fd, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;
    list.resize(static_cast<std::size_t>(size));
    const ssize_t got = size == 0 ? 0 : flistxattr(fd, &list[0], list.size());
    if (got >= 0) {
      list.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) return false;  // ERANGE: the list grew meanwhile
  }
  for (std::size_t start = 0; start < list.size();) {
    const std::size_t end = list.find('\0', start);
    names->push_back(list.substr(start, end - start));
    start = end == std::string::npos ? list.size() : end + 1;
  }
  return true;
}

bool ReadAttribute(int fd, const std::string& name, std::vector<char>* value) {
  for (;;) {
    const ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return false;
    value->resize(static_cast<std::size_t>(size));
    const ssize_t got = size == 0 ? 0 : fgetxattr(fd, name.c_str(), value->data(), value->size());
    if (got >= 0) {
      value->resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;
  }
}

// A user's own notes on a file ("user." attributes) grant and deny nothing;
// every other attribute (an ACL, a security label) may narrow access.
bool NarrowsNothing(const std::string& name) { return name.compare(0, 5, "user.") == 0; }

bool CannotHold(int error) { return error == ENOTSUP || error == ENOSPC || error == E2BIG || error == ERANGE; }

// The model's extended attributes, its ACL among them, replace the file's
// own: an ACL the file inherited from its folder's default ACL must not
// outlive what the model allows. An attribute that may narrow access and
// cannot be copied fails the file; one that narrows nothing is left out, and
// said.
void CopyExtendedAttributes(int model, int fd, WorkingFile::Finished* finished) {
  using Finished = WorkingFile::Finished;
  std::vector<std::string> wanted;
  std::vector<std::string> own;
  if (!AttributeNames(model, &wanted) || !AttributeNames(fd, &own)) {
    finished->result = Finished::kFailed;
    finished->error = LastError();
    return;
  }
  for (const std::string& name : own) {
    if (std::find(wanted.begin(), wanted.end(), name) != wanted.end()) continue;
    if (fremovexattr(fd, name.c_str()) != 0 && errno != ENODATA) {
      finished->result = Finished::kGuardNotKept;
      finished->attribute = name;
      finished->error = LastError();
      return;
    }
  }
  std::vector<char> value;
  for (const std::string& name : wanted) {
    if (!ReadAttribute(model, name, &value)) {
      if (errno == ENODATA) continue;  // removed meanwhile
      finished->result = Finished::kFailed;
      finished->error = LastError();
      return;
    }
    if (fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) == 0) continue;
    const Error error = LastError();
    if (NarrowsNothing(name) && CannotHold(error.code)) {
      finished->not_kept.emplace_back(name, error);
      continue;
    }
    finished->result = Finished::kGuardNotKept;
    finished->attribute = name;
    finished->error = error;
    return;
  }
}

// Whether another program writes the regular file name in folder.
bool WrittenIn(int folder, const std::string& name) {
  struct stat st;
  const int fd = fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
                     ? openat(folder, name.c_str(), kReadFlags | O_NOFOLLOW)
                     : -1;
  const bool written = fd >= 0 && WrittenElsewhere(fd);
  if (fd >= 0) close(fd);
  return written;
}

// A device or a FIFO is never opened: opening some has effects of its own
// (a FIFO's writer is let go).
Probed OpenRegular(const std::string& path, std::intptr_t* handle) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return FromOpenError(errno);
  if (S_ISDIR(st.st_mode)) return Refused(Opened::kFolder, EISDIR);
  if (!S_ISREG(st.st_mode)) return Refused(Opened::kNotRegular);
  return TakeForReading(open(path.c_str(), kReadFlags), handle);
}

}  // namespace

Error LastError() { return ErrorOf(errno); }
std::string LastErrorText() { return std::strerror(errno); }
bool HasNoEnd(const Error& error) { return error.code == EINVAL || error.code == ESPIPE; }

Probed Probe(const std::string& path) {
  std::intptr_t handle = -1;
  const Probed probed = OpenRegular(path, &handle);
  if (probed.ok()) close(Fd(handle));
  return probed;
}

bool IsBeingWritten(const std::string& path) { return WrittenIn(AT_FDCWD, path); }

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

bool Folder::Flush() const {
  if (fsync(Fd(handle_)) == 0) return true;
  return errno == EBADF;  // opened only to name files in (O_PATH): nothing of ours to flush
}

std::int64_t Folder::AvailableBytes() const {
  struct statvfs disk;
  if (fstatvfs(Fd(handle_), &disk) != 0) return -1;
  return static_cast<std::int64_t>(disk.f_bavail) * static_cast<std::int64_t>(disk.f_frsize);
}

Probed InputFile::Open(const std::string& path) {
  Close();
  return OpenRegular(path, &handle_);
}

Probed InputFile::OpenStream(const std::string& path) {
  Close();
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return FromOpenError(errno);
  if (S_ISREG(st.st_mode)) return OpenRegular(path, &handle_);
  if (S_ISDIR(st.st_mode)) return Refused(Opened::kFolder, EISDIR);
  if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) return Refused(Opened::kNotRegular);
  const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);  // waits for a FIFO's writer
  if (fd < 0) return FromOpenError(errno);
  handle_ = fd;
  Probed probed;
  probed.how = Opened::kOpen;
  return probed;
}

Probed InputFile::OpenIn(const Folder& folder, const std::string& path) {
  Close();
  return TakeForReading(openat(Fd(folder.handle_), NamePart(path).c_str(), kReadFlags | O_NOFOLLOW), &handle_);
}

void InputFile::UseStandardInput() {
  Close();
  handle_ = STDIN_FILENO;
  owned_ = false;
}

void InputFile::Close() {
  if (handle_ != -1 && owned_) close(Fd(handle_));
  handle_ = -1;
  owned_ = true;
}

std::int64_t InputFile::Read(void* buffer, std::size_t size) {
  if (size > SSIZE_MAX) size = SSIZE_MAX;
  for (;;) {
    ssize_t n = read(Fd(handle_), buffer, size);
    if (n >= 0) return n;
    if (!TryAgain(errno)) return -1;
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

NewFile::NewFile(const Folder& folder) : folder_(folder) {}

NewFile::~NewFile() {
  Close();
  if (keep_ || path_.empty()) return;
  Error ignored;
  Remove(&ignored);
}

NewFile::Created NewFile::CreateWith(const std::string& path, const void*) { return Create(path); }

NewFile::Created NewFile::Create(const std::string& path) {
  const std::string name = NamePart(path);
  // Appending: a file cut short by someone else meanwhile stays short, and
  // the length it ends with shows it.
  const int fd = openat(Fd(folder_.handle_), name.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) {
    if (errno != EEXIST) return Created::kFailed;
    // Another run's file while it is being written; a leftover otherwise.
    const bool in_use = WrittenIn(Fd(folder_.handle_), name);
    errno = EEXIST;
    return in_use ? Created::kInUse : Created::kAlreadyExists;
  }
  struct stat created;
  if (fstat(fd, &created) != 0) {
    // Not known as ours yet, but made by us a moment ago: it must not stay
    // in the way of every later run.
    const int reason = errno;
    close(fd);
    unlinkat(Fd(folder_.handle_), name.c_str(), 0);
    errno = reason;
    return Created::kFailed;
  }
  handle_ = fd;
  path_ = path;
  identity_ = StampOf(created);
  return Created::kNew;
}

bool NewFile::Write(const void* buffer, std::size_t size) {
  const char* bytes = static_cast<const char*>(buffer);
  while (size > 0) {
    ssize_t n = write(Fd(handle_), bytes, size > SSIZE_MAX ? SSIZE_MAX : size);
    if (n < 0) {
      if (TryAgain(errno)) continue;
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

NewFile::Privacy NewFile::MakePrivate() {
  struct stat st;
  if (fchmod(Fd(handle_), S_IRUSR | S_IWUSR) != 0 || fstat(Fd(handle_), &st) != 0) return Privacy::kFailed;
  return (st.st_mode & 077) == 0 ? Privacy::kPrivate : Privacy::kNotKept;
}

bool NewFile::FlushAndClose() {
  const int fd = Fd(handle_);
  handle_ = -1;
  const bool flushed = fsync(fd) == 0;
  const int reason = errno;
  const bool closed = close(fd) == 0;
  if (!flushed) errno = reason;
  return flushed && closed;
}

bool NewFile::IsStillAtItsPath() const {
  struct stat st;
  return fstatat(Fd(folder_.handle_), NamePart(path_).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         StampOf(st).IsSameFileAs(identity_);
}

NewFile::Removed NewFile::Remove(Error* error) {
  Close();
  if (path_.empty()) return Removed::kGone;
  // Only this run's own file: another run may have put its own at this path.
  const bool ours = IsStillAtItsPath();
  const std::string name = NamePart(path_);
  path_.clear();  // once, whatever comes of it
  if (!ours) return Removed::kGone;
  if (unlinkat(Fd(folder_.handle_), name.c_str(), 0) == 0) return Removed::kRemoved;
  *error = LastError();
  return Removed::kFailed;
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
  // only the group. Replace sees whether they were given.
  if (fchown(Fd(handle_), model.st_uid, model.st_gid) != 0) {
    (void)!fchown(Fd(handle_), static_cast<uid_t>(-1), model.st_gid);
  }
  return Created::kNew;
}

WorkingFile::Finished WorkingFile::Finish(const InputFile& data) {
  Finished finished;
  const int fd = Fd(handle_);
  struct stat model;
  struct stat self;
  if (fstat(Fd(data.handle_), &model) != 0 || fstat(fd, &self) != 0) {
    finished.error = LastError();
    return finished;
  }
  finished_ = StampOf(self);
  finished.result = Finished::kDone;
  CopyExtendedAttributes(Fd(data.handle_), fd, &finished);
  if (finished.result != Finished::kDone) return finished;
  // The setuid, setgid and sticky bits only for the same owner and group;
  // bits meant for the model's group never reach another group.
  mode_t mode = model.st_mode & kPermissionBits;
  if (self.st_uid == model.st_uid && self.st_gid == model.st_gid) mode = model.st_mode & kModeBits;
  if (self.st_gid != model.st_gid) {
    // The model's group would count as others for the result: others get no
    // more than that group had.
    mode &= ~static_cast<mode_t>(S_IRWXG);
    mode &= ~static_cast<mode_t>(S_IRWXO) | ((model.st_mode & S_IRWXG) >> 3);
  }
  if (fchmod(fd, mode) != 0 || fstat(fd, &self) != 0 || !FlushAndClose()) {
    finished.result = Finished::kFailed;
    finished.error = LastError();
    return finished;
  }
  finished.length = self.st_size;
  return finished;
}

WorkingFile::Replacement WorkingFile::Replace(const std::string& data_path, const FileStamp& data_as_read) {
  Replacement replacement;
  const int folder = Fd(folder_.handle_);
  const std::string data_name = NamePart(data_path);
  const std::string working_name = NamePart(path_);
  struct stat data;
  if (fstatat(folder, data_name.c_str(), &data, AT_SYMLINK_NOFOLLOW) != 0) {
    replacement.how = errno == ENOENT ? Replaced::kDataGone : Replaced::kCheckFailed;
    replacement.error = LastError();
    return replacement;
  }
  if (StampOf(data) != data_as_read) {
    replacement.how = Replaced::kDataChanged;
    return replacement;
  }
  // Still this run's file, as its last write left it: what Finish itself
  // changed (owner, permissions) shows in the change time only.
  struct stat working;
  if (fstatat(folder, working_name.c_str(), &working, AT_SYMLINK_NOFOLLOW) != 0) {
    replacement.how = Replaced::kWorkingChanged;
    return replacement;
  }
  const FileStamp now = StampOf(working);
  if (!now.IsSameFileAs(finished_) || now.size != finished_.size || now.modified != finished_.modified) {
    replacement.how = Replaced::kWorkingChanged;
    return replacement;
  }
  // Root may write any file; one without write bits is read-only all the
  // same, as the read-only attribute is on Windows. A user who may write the
  // file but could not give the result its owner and group may not replace
  // it either: the file would change hands, and its owner might lose it.
  replacement.how = Replaced::kDataReadOnly;
  if ((data.st_mode & kWriteBits) == 0) {
    replacement.because = ReadOnlyBecause::kMarked;
    return replacement;
  }
  if (faccessat(folder, data_name.c_str(), W_OK, AT_EACCESS) != 0) {
    const int reason = errno;
    replacement.because = reason == EACCES || reason == EPERM || reason == EROFS || reason == ETXTBSY
                              ? ReadOnlyBecause::kNoPermission
                              : ReadOnlyBecause::kCheckFailed;
    replacement.error = ErrorOf(reason);
    return replacement;
  }
  if (working.st_uid != data.st_uid || working.st_gid != data.st_gid) {
    replacement.because = ReadOnlyBecause::kOwnerNotKept;
    return replacement;
  }
  if (renameat(folder, working_name.c_str(), folder, data_name.c_str()) != 0) {
    replacement.how = Replaced::kFailed;
    replacement.error = LastError();
    return replacement;
  }
  keep_ = true;  // it is the data file now
  replacement.how = Replaced::kDone;
  if (!folder_.Flush()) {
    replacement.how = Replaced::kDoneNotFlushed;
    replacement.error = LastError();
  }
  return replacement;
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

std::string AbsolutePath(const std::string& path) {
  char* target = realpath(path.c_str(), nullptr);
  if (target == nullptr) return path;
  std::string resolved = target;
  std::free(target);
  return resolved;
}

std::string ResolveLink(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  return AbsolutePath(path);
}

bool WriteStandardOutput(const void* buffer, std::size_t size) {
  const char* bytes = static_cast<const char*>(buffer);
  while (size > 0) {
    const ssize_t n = write(STDOUT_FILENO, bytes, size > SSIZE_MAX ? SSIZE_MAX : size);
    if (n < 0) {
      if (TryAgain(errno)) continue;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

ClosedStreams KeepStandardStreamsOpen() {
  ClosedStreams closed;
  bool* was_closed[] = {&closed.input, &closed.output, &closed.error};
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    *was_closed[fd] = true;
    open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
  return closed;
}

bool MakeReadOnly(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || chmod(path.c_str(), st.st_mode & ~kWriteBits & kModeBits) != 0) return false;
  // Some file systems (exFAT, FAT) take the request and keep a mode of their own.
  if (stat(path.c_str(), &st) != 0) return false;
  if ((st.st_mode & kWriteBits) == 0) return true;
  errno = EPERM;
  return false;
}

bool IsReadOnly(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & kWriteBits) == 0;
}

}  // namespace os
