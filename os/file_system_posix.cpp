#include "os/file_system.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <thread>

#include "os/calls_posix.h"
#include "os/handles.h"
#include "os/posix.h"
#include "os/stop_request.h"
#include "text/path_split.h"

namespace os {

const std::string& WorkingSuffix() {
  static const std::string suffix = "1\xC3\xAA" "9";
  return suffix;
}

namespace {

using namespace posix;

constexpr mode_t kPermissionBits = 0777;
constexpr mode_t kModeBits = 07777;  // with setuid, setgid and sticky
constexpr mode_t kWriteBits = 0222;
// Without blocking on a FIFO and without taking a terminal.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// Writeback starts every so often while the rest is transformed, so the flush
// at the end has little left to wait for.
constexpr std::int64_t kWritebackChunk = 8 << 20;
// FUSE, whose disks may give each spelling of a name a number of its own.
constexpr long kFuseMagic = 0x65735546;

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

Error ErrorOf(int code) { return {code, std::strerror(code)}; }

std::string FolderOf(const std::string& path) {
  const std::string folder = FolderPart(path);
  return folder.empty() ? "." : folder;
}

// A time as one number, for comparing two stamps only: it wraps past the
// year 2262 rather than overflow, and a wrapped time still differs from
// every other time of the same file.
std::int64_t Nanoseconds(const timespec& time) {
  const std::uint64_t wrapped =
      static_cast<std::uint64_t>(time.tv_sec) * 1000000000u + static_cast<std::uint64_t>(time.tv_nsec);
  return static_cast<std::int64_t>(wrapped);
}

FileStamp StampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.volume = st.st_dev;
  stamp.index = st.st_ino;
  stamp.size = st.st_size;
  stamp.modified = Nanoseconds(st.st_mtim);
  stamp.changed = Nanoseconds(st.st_ctim);
  return stamp;
}

FileFacts FactsOf(const struct stat& st) {
  FileFacts facts;
  facts.kind = S_ISREG(st.st_mode)   ? FileFacts::Kind::kRegular
               : S_ISDIR(st.st_mode) ? FileFacts::Kind::kFolder
               : S_ISLNK(st.st_mode) ? FileFacts::Kind::kLink
                                     : FileFacts::Kind::kOther;
  facts.stamp = StampOf(st);
  facts.links = st.st_nlink;
  facts.marked_read_only = (st.st_mode & kWriteBits) == 0;
  facts.mode = st.st_mode & kModeBits;
  facts.owner = st.st_uid;
  facts.group = st.st_gid;
  return facts;
}

// Some file systems (FUSE, NFS) may answer "try again" where a disk never
// does, and a signal cuts short a call that waits; neither is tried again
// once a stop is asked for.
bool TryAgain(int error) {
  if (StopRequested()) return false;
  if (error == EINTR) return true;
  if (error != EAGAIN) return false;
  const timespec pause = {0, 1000000};
  nanosleep(&pause, nullptr);
  return true;
}

// A lease held on a file breaks when another program opens it for writing:
// the kernel holds that open back and sends SIGURG (rather than SIGIO, which
// would end this process), with the file's descriptor. The lease is given
// back at once, so the writer waits no longer than the signal takes; the run
// sees it gone and leaves the file to the writer.
void OnLeaseBreak(int, siginfo_t* info, void*) {
  const int saved = errno;
  fcntl(info->si_fd, F_SETLEASE, F_UNLCK);
  errno = saved;
}

// The thread of its own that answers lease breaks: every other thread may
// be deep in a write or a flush, where no handler runs until the disk is
// done, and the writer would wait as long.
void AnswerLeaseBreaks() {
  sigset_t breaks;
  sigemptyset(&breaks);
  sigaddset(&breaks, SIGURG);
  for (;;) {
    siginfo_t info;
    if (sigwaitinfo(&breaks, &info) == SIGURG) fcntl(info.si_fd, F_SETLEASE, F_UNLCK);
  }
}

}  // namespace

void CatchLeaseBreaks() {
  static std::once_flag caught;
  std::call_once(caught, [] {
    // A thread that does not keep SIGURG out answers it at once itself.
    struct sigaction action = {};
    action.sa_sigaction = OnLeaseBreak;
    sigemptyset(&action.sa_mask);
    // A read or write interrupted by a writer's open goes on by itself.
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigaction(SIGURG, &action, nullptr);
    sigset_t breaks;
    sigemptyset(&breaks);
    sigaddset(&breaks, SIGURG);
    pthread_sigmask(SIG_BLOCK, &breaks, nullptr);
    std::thread(AnswerLeaseBreaks).detach();
  });
}

namespace {

enum class Lease { kHeld, kWrittenElsewhere, kNone };

// A read lease on fd, granted only while no other program has the file open
// for writing. Where none can be had at all (another user's file, a network
// file system) there is no telling, and kNone says so.
Lease TakeReadLease(int fd) {
  CatchLeaseBreaks();
  if (LeaseControl(fd, F_SETSIG, SIGURG) != 0) return Lease::kNone;
  if (LeaseControl(fd, F_SETLEASE, F_RDLCK) == 0) return Lease::kHeld;
  return errno == EAGAIN ? Lease::kWrittenElsewhere : Lease::kNone;
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

// The names of a file's extended attributes. A file system that keeps none
// has none; any other failure to list them is a failure.
bool AttributeNames(int fd, std::vector<std::string>* names) {
  names->clear();
  std::string list;
  for (;;) {
    const ssize_t size = ListAttributes(fd, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;
    list.resize(static_cast<std::size_t>(size));
    const ssize_t got = size == 0 ? 0 : ListAttributes(fd, &list[0], list.size());
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
    const ssize_t size = GetAttribute(fd, name.c_str(), nullptr, 0);
    if (size < 0) return false;
    value->resize(static_cast<std::size_t>(size));
    const ssize_t got = size == 0 ? 0 : GetAttribute(fd, name.c_str(), value->data(), value->size());
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
    if (RemoveAttribute(fd, name.c_str()) != 0 && errno != ENODATA) {
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
    if (SetAttribute(fd, name.c_str(), value.data(), value.size()) == 0) continue;
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

// Opens the regular file at path for reading, after a look at what it is: a
// device or a FIFO is never opened, since opening some has effects of their
// own (a FIFO's writer is let go).
int OpenRegular(const std::string& path, Probed* refused) {
  struct stat st;
  if (Stat(path.c_str(), &st) != 0) {
    *refused = FromOpenError(errno);
    return -1;
  }
  if (S_ISDIR(st.st_mode)) {
    *refused = Refused(Opened::kFolder, EISDIR);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    *refused = Refused(Opened::kNotRegular);
    return -1;
  }
  const int fd = Open(path.c_str(), kReadFlags);
  if (fd < 0) *refused = FromOpenError(errno);
  return fd;
}

}  // namespace

namespace handles {

std::int64_t WriteSome(std::intptr_t handle, const void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t written = posix::Write(Fd(handle), buffer, std::min<std::size_t>(size, SSIZE_MAX));
    if (written > 0) return written;
    if (written == 0) errno = EIO;  // no room, yet no error: say so rather than loop
    if (written < 0 && TryAgain(errno)) continue;
    return -1;
  }
}

}  // namespace handles

Error LastError() { return ErrorOf(errno); }
bool HasNoEnd(const Error& error) { return error.code == EINVAL || error.code == ESPIPE; }
std::string LastErrorText() { return std::strerror(errno); }

Probed Probe(const std::string& path) {
  InputFile file;
  return file.Open(path);
}

Folder::~Folder() {
  if (handle_ != -1) Close(Fd(handle_));
}

void Folder::Take(int fd) {
  if (handle_ != -1) Close(Fd(handle_));
  handle_ = fd;
  listable_ = true;
}

bool Folder::LookAtDisk() {
  struct statfs disk;
  struct stat self;
  if (Fstatfs(Fd(handle_), &disk) != 0 || Fstat(Fd(handle_), &self) != 0) return false;
  by_listing_ = disk.f_type == kFuseMagic;
  stamp_ = StampOf(self);
  return true;
}

bool Folder::OpenFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  const int fd = posix::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    Take(fd);
    return true;
  }
  if (errno != EACCES) return false;
  // A folder its user may enter and write but not list still serves for
  // every step; only its flush then takes another way.
  const int named = posix::Open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (named < 0) return false;
  Take(named);
  listable_ = false;
  return true;
}

Looked Folder::Look(const std::string& name, FileFacts* facts, Error* error) const {
  struct stat st;
  if (FstatAt(Fd(handle_), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    *error = LastError();
    return errno == ENOENT ? Looked::kNothing : Looked::kFailed;
  }
  *facts = FactsOf(st);
  return Looked::kFound;
}

WriteRight Folder::MayWrite(const std::string& name, const FileFacts& facts, Error* error) const {
  // Its owner may write what its mode lets the owner write: no access list
  // narrows that, and a read-only disk or an unchangeable file refuses the
  // rename itself.
  static const uid_t self = geteuid();
  if (facts.owner == self && (facts.mode & S_IWUSR) != 0) return WriteRight::kMay;
  if (FaccessAt(Fd(handle_), name.c_str(), W_OK, AT_EACCESS) == 0) return WriteRight::kMay;
  *error = LastError();
  return errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY ? WriteRight::kMayNot
                                                                                  : WriteRight::kUnknown;
}

Folder::Writing Folder::IsBeingWritten(const std::string& name) const {
  struct stat st;
  if (FstatAt(Fd(handle_), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? Writing::kGone : Writing::kCannotTell;
  }
  if (!S_ISREG(st.st_mode)) return Writing::kNo;
  const int fd = OpenAt(Fd(handle_), name.c_str(), kReadFlags | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT ? Writing::kGone : Writing::kCannotTell;
  const Lease lease = TakeReadLease(fd);
  if (lease == Lease::kHeld) LeaseControl(fd, F_SETLEASE, F_UNLCK);
  Close(fd);
  return lease == Lease::kHeld ? Writing::kNo : lease == Lease::kWrittenElsewhere ? Writing::kYes : Writing::kCannotTell;
}

bool Folder::Flush() const {
  if (listable_) return Fsync(Fd(handle_)) == 0;
  // Opened only to name files in: it cannot be flushed on its own, so every
  // disk is.
  if (Refused(SystemCall::kFlush)) return false;
  sync();
  return true;
}

std::int64_t Folder::AvailableBytes() const {
  struct statvfs disk;
  if (Fstatvfs(Fd(handle_), &disk) != 0) return -1;
  return static_cast<std::int64_t>(disk.f_bavail) * static_cast<std::int64_t>(disk.f_frsize);
}

Probed InputFile::Take(std::intptr_t handle, bool hold_lease, const FileFacts* known) {
  const int fd = Fd(handle);
  FileFacts facts;
  if (known != nullptr) {
    facts = *known;
  } else {
    struct stat st;
    if (Fstat(fd, &st) != 0) {
      const int reason = errno;
      posix::Close(fd);
      return Refused(Opened::kFailed, reason);
    }
    facts = FactsOf(st);
  }
  Probed probed;
  if (facts.kind == FileFacts::Kind::kFolder) {
    probed = Refused(Opened::kFolder, EISDIR);
  } else if (facts.kind != FileFacts::Kind::kRegular) {
    probed = Refused(Opened::kNotRegular);
  } else {
    probed.how = Opened::kOpen;
    const Lease lease = TakeReadLease(fd);
    if (lease == Lease::kWrittenElsewhere) {
      probed = Refused(Opened::kInUse);
      probed.facts = facts;
    } else if (lease == Lease::kHeld && !hold_lease) {
      LeaseControl(fd, F_SETLEASE, F_UNLCK);
    } else {
      leased_ = lease == Lease::kHeld;
    }
  }
  if (!probed.ok()) {
    posix::Close(fd);
    return probed;
  }
  handle_ = handle;
  facts_ = facts;
  return probed;
}

Probed InputFile::Open(const std::string& path) {
  Close();
  Probed refused;
  const int fd = OpenRegular(path, &refused);
  return fd < 0 ? refused : Take(fd, false);
}

Probed InputFile::OpenStream(const std::string& path) {
  Close();
  struct stat st;
  if (Stat(path.c_str(), &st) != 0) return FromOpenError(errno);
  if (S_ISREG(st.st_mode)) return Open(path);
  if (S_ISDIR(st.st_mode)) return Refused(Opened::kFolder, EISDIR);
  if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) return Refused(Opened::kNotRegular);
  const int fd = posix::Open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);  // waits for a FIFO's writer
  if (fd < 0) return FromOpenError(errno);
  handle_ = fd;
  Probed probed;
  probed.how = Opened::kOpen;
  return probed;
}

Probed InputFile::OpenIn(const Folder& folder, const std::string& name) {
  Close();
  // Looked at before it is opened, as the very file found there: a link is
  // not followed, and a FIFO or a device put in its place is never opened,
  // since opening some has effects of their own (a FIFO's waiting writer is
  // let go).
  const int named = OpenAt(Fd(folder.handle_), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (named < 0) return FromOpenError(errno);
  struct stat st;
  if (Fstat(named, &st) != 0) {
    const int reason = errno;
    posix::Close(named);
    return Refused(Opened::kFailed, reason);
  }
  const FileFacts facts = FactsOf(st);
  Probed refused;
  if (facts.kind == FileFacts::Kind::kLink) refused = Refused(Opened::kLink);
  if (facts.kind == FileFacts::Kind::kFolder) refused = Refused(Opened::kFolder, EISDIR);
  if (facts.kind == FileFacts::Kind::kOther) refused = Refused(Opened::kNotRegular);
  if (facts.kind != FileFacts::Kind::kRegular) {
    posix::Close(named);
    return refused;
  }
  int fd = posix::Open(("/proc/self/fd/" + std::to_string(named)).c_str(), kReadFlags);
  if (fd < 0 && errno == ENOENT) {
    // No /proc here (a bare chroot): by name once more, and the look is
    // taken again from what was opened.
    fd = OpenAt(Fd(folder.handle_), name.c_str(), kReadFlags | O_NOFOLLOW);
    const int reason = errno;
    posix::Close(named);
    if (fd < 0) return FromOpenError(reason);
    return Take(fd, true);
  }
  const int reason = errno;
  posix::Close(named);
  if (fd < 0) return FromOpenError(reason);
  return Take(fd, true, &facts);
}

void InputFile::UseStandardInput() {
  Close();
  handle_ = STDIN_FILENO;
  owned_ = false;
}

void InputFile::Close() {
  if (handle_ != -1 && owned_) posix::Close(Fd(handle_));  // gives back a lease with it
  handle_ = -1;
  owned_ = true;
  leased_ = false;
  facts_ = FileFacts();
}

std::int64_t InputFile::Read(void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = posix::Read(Fd(handle_), buffer, std::min<std::size_t>(size, SSIZE_MAX));
    if (n >= 0) return n;
    if (!TryAgain(errno)) return -1;
  }
}

std::int64_t InputFile::ReadAt(void* buffer, std::size_t size, std::int64_t position) {
  for (;;) {
    const ssize_t n = Pread(Fd(handle_), buffer, std::min<std::size_t>(size, SSIZE_MAX), position);
    if (n >= 0) return n;
    if (!TryAgain(errno)) return -1;
  }
}

FileStamp InputFile::Stamp() const {
  struct stat st;
  return Fstat(Fd(handle_), &st) == 0 ? StampOf(st) : FileStamp();
}

bool InputFile::WrittenElsewhereSince() const {
  return leased_ && LeaseControl(Fd(handle_), F_GETLEASE, 0) != F_RDLCK;
}

NewFile::NewFile(const Folder& folder) : folder_(folder) {}

NewFile::~NewFile() {
  Error ignored;
  if (!keep_ && !path_.empty()) Remove(&ignored);
  Close();
}

NewFile::Created NewFile::CreateWith(const std::string& path, const void*) { return Create(path); }

NewFile::Created NewFile::Create(const std::string& path) {
  const std::string name = NamePart(path);
  // Appending: a file cut short by someone else meanwhile stays short, and
  // the length it ends with shows it.
  const int fd = OpenAt(Fd(folder_.handle_), name.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) {
    if (errno != EEXIST) return Created::kFailed;
    // Another run's file while it is being written, or gone since: put in
    // place by its run a moment ago; a leftover otherwise.
    const Folder::Writing writing = folder_.IsBeingWritten(name);
    errno = EEXIST;
    return writing == Folder::Writing::kYes || writing == Folder::Writing::kGone ? Created::kInUse
           : writing == Folder::Writing::kCannotTell ? Created::kCannotTell
                                                    : Created::kAlreadyExists;
  }
  // Known as ours by what it is when it is next looked at through its
  // handle, which stays open until it is renamed or removed.
  handle_ = fd;
  path_ = path;
  created_ = FileFacts();
  return Created::kNew;
}

const FileFacts* NewFile::Identity() {
  struct stat st;
  if (!created_.stamp.known() && handle_ != -1 && Fstat(Fd(handle_), &st) == 0) created_ = FactsOf(st);
  return created_.stamp.known() ? &created_ : nullptr;
}

bool NewFile::Write(const void* buffer, std::size_t size) {
  if (!handles::WriteAll(handle_, buffer, size)) return false;
  written_ += static_cast<std::int64_t>(size);
  if (written_ - started_writeback_ >= kWritebackChunk) {
    // Only a head start for the final flush, which says whether it worked.
    SyncFileRange(Fd(handle_), started_writeback_, written_ - started_writeback_, SYNC_FILE_RANGE_WRITE);
    started_writeback_ = written_;
  }
  return true;
}

NewFile::Privacy NewFile::MakePrivate() {
  struct stat st;
  if (Fchmod(Fd(handle_), S_IRUSR | S_IWUSR) != 0 || Fstat(Fd(handle_), &st) != 0) return Privacy::kFailed;
  return (st.st_mode & 077) == 0 ? Privacy::kPrivate : Privacy::kNotKept;
}

bool NewFile::FlushAndClose() {
  Identity();  // still known as this file once closed
  const bool flushed = Fsync(Fd(handle_)) == 0;
  const int reason = errno;
  const bool closed = Close();
  if (!flushed) errno = reason;
  return flushed && closed;
}

bool NewFile::IsStillAtItsPath() const {
  struct stat st;
  return created_.stamp.known() &&
         FstatAt(Fd(folder_.handle_), NamePart(path_).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         StampOf(st).IsSameFileAs(created_.stamp);
}

NewFile::Removed NewFile::Remove(Error* error) {
  if (path_.empty()) return Removed::kGone;
  // Only this run's own file: another run may have put its own at this path.
  if (Identity() == nullptr) {
    *error = LastError();
    Close();
    path_.clear();
    return Removed::kFailed;
  }
  Close();
  const bool ours = IsStillAtItsPath();
  const std::string name = NamePart(path_);
  path_.clear();  // once, whatever comes of it
  if (!ours) return Removed::kGone;
  if (UnlinkAt(Fd(folder_.handle_), name.c_str()) == 0) return Removed::kRemoved;
  *error = LastError();
  return Removed::kFailed;
}

bool NewFile::Close() {
  if (handle_ == -1) return true;
  const int fd = Fd(handle_);
  handle_ = -1;
  return posix::Close(fd) == 0;
}

NewFile::Created WorkingFile::Create(const std::string& path, const InputFile& data) {
  const Created created = NewFile::Create(path);
  if (created != Created::kNew) return created;
  static const uid_t self = geteuid();
  static const gid_t own_group = getegid();
  // A new file is this user's, in this user's group, unless its folder says
  // otherwise, which Finish finds out.
  owner_ = self;
  group_ = own_group;
  if (data.facts().owner != self || data.facts().group != own_group) GiveOwner(data.facts());
  return Created::kNew;
}

// The model's owner and group, where this user may give them: root may give
// both, an owner only the group.
void WorkingFile::GiveOwner(const FileFacts& model) {
  if (Fchown(Fd(handle_), model.owner, model.group) == 0) {
    owner_ = model.owner;
    group_ = model.group;
  } else if (Fchown(Fd(handle_), static_cast<uid_t>(-1), model.group) == 0) {
    group_ = model.group;
  }
}

WorkingFile::Finished WorkingFile::Finish(const InputFile& data, const std::function<bool()>& noted) {
  Finished finished;
  const int fd = Fd(handle_);
  const FileFacts& model = data.facts();
  finished.result = Finished::kDone;
  CopyExtendedAttributes(Fd(data.handle_), fd, &finished);
  if (finished.result != Finished::kDone) return finished;
  // What it is, with the owner and group it got: a folder that gives its new
  // files its own group may have given another than was thought. Its mode
  // changes nothing of this but the change time.
  struct stat self;
  bool looked = Fstat(fd, &self) == 0;
  if (looked && (self.st_uid != model.owner || self.st_gid != model.group)) {
    owner_ = self.st_uid;
    group_ = self.st_gid;
    GiveOwner(model);
    looked = Fstat(fd, &self) == 0;
  }
  if (!looked) {
    finished.result = Finished::kFailed;
    finished.error = LastError();
    return finished;
  }
  created_ = FactsOf(self);
  owner_ = self.st_uid;
  group_ = self.st_gid;
  finished_ = created_.stamp;
  if (noted && !noted()) {
    finished.result = Finished::kRefused;
    return finished;
  }
  // The setuid, setgid and sticky bits only for the same owner and group;
  // bits meant for the model's group never reach another group.
  mode_t mode = model.mode & kPermissionBits;
  if (owner_ == model.owner && group_ == model.group) mode = model.mode & kModeBits;
  if (group_ != model.group) {
    // The model's group would count as others for the result: others get no
    // more than that group had.
    mode &= ~static_cast<mode_t>(S_IRWXG);
    mode &= ~static_cast<mode_t>(S_IRWXO) | ((model.mode & S_IRWXG) >> 3);
  }
  if (Fchmod(fd, mode) != 0 || Fsync(fd) != 0) {
    finished.result = Finished::kFailed;
    finished.error = LastError();
    return finished;
  }
  finished.length = created_.stamp.size;
  return finished;
}

bool WorkingFile::SetModified(std::int64_t modified) {
  const timespec times[2] = {{0, UTIME_OMIT}, {modified / 1000000000, modified % 1000000000}};
  struct stat st;
  if (SetFileTimes(Fd(handle_), times) != 0 || Fstat(Fd(handle_), &st) != 0) return false;
  finished_ = StampOf(st);
  return true;
}

bool WorkingFile::KeepsOwnerOf(const InputFile& data) const {
  return owner_ == data.facts().owner && group_ == data.facts().group;
}

bool WorkingFile::IsAsFinished() {
  struct stat st;
  if (FstatAt(Fd(folder_.handle_), NamePart(path_).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  // What Finish itself changed (owner, permissions) shows in the change time
  // only.
  const FileStamp now = StampOf(st);
  return now.IsSameFileAs(finished_) && now.size == finished_.size && now.modified == finished_.modified;
}

WorkingFile::Renamed WorkingFile::RenameOver(const std::string& data_path, InputFile& data, Error* error) {
  const int renamed =
      RenameAt(Fd(folder_.handle_), NamePart(path_).c_str(), Fd(folder_.handle_), NamePart(data_path).c_str());
  if (renamed != 0) *error = LastError();
  data.Close();
  if (renamed != 0) return Renamed::kFailed;
  keep_ = true;  // it is the data file now
  // Flushed before the rename: a failure to close now loses nothing.
  Close();
  return Renamed::kDone;
}

FileStatus StatusOf(const std::string& path) {
  FileStatus status;
  struct stat st;
  if (Stat(path.c_str(), &st) != 0) return status;
  status.exists = true;
  status.regular = S_ISREG(st.st_mode);
  status.links = st.st_nlink;
  status.stamp = StampOf(st);
  return status;
}

bool MakeReadOnly(const std::string& path) {
  struct stat st;
  if (Stat(path.c_str(), &st) != 0 || Chmod(path.c_str(), st.st_mode & ~kWriteBits & kModeBits) != 0) return false;
  // Some file systems (exFAT, FAT) take the request and keep a mode of their own.
  if (Stat(path.c_str(), &st) != 0) return false;
  if ((st.st_mode & kWriteBits) == 0) return true;
  errno = EPERM;
  return false;
}

bool IsReadOnly(const std::string& path) {
  struct stat st;
  return Stat(path.c_str(), &st) == 0 && (st.st_mode & kWriteBits) == 0;
}

bool WriteStandardOutput(const void* buffer, std::size_t size) {
  return handles::WriteAll(STDOUT_FILENO, buffer, size);
}

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

ClosedStreams KeepStandardStreamsOpen() {
  ClosedStreams closed;
  bool* was_closed[] = {&closed.input, &closed.output, &closed.error};
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    *was_closed[fd] = true;
    // The lowest free descriptor: this one, as the streams below it are open.
    const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened == fd) continue;
    closed.failed = true;
    if (opened >= 0) close(opened);
  }
  return closed;
}

namespace {

Note NoteOf(ssize_t result, Error* error) {
  if (result >= 0) return Note::kFound;
  *error = LastError();
  if (errno == ENODATA) return Note::kNone;
  return errno == ENOTSUP ? Note::kNotKept : Note::kFailed;
}

}  // namespace

Note ReadNote(const InputFile& file, const std::string& name, std::string* value, Error* error) {
  const std::string attribute = "user." + name;
  // Most notes fit the first try; a longer one is asked its length, up to the
  // most a value may hold (64 KiB), and may grow meanwhile.
  std::string buffer(1024, '\0');
  for (;;) {
    const ssize_t got = GetAttribute(Fd(file.handle_), attribute.c_str(), &buffer[0], buffer.size());
    if (got >= 0) {
      value->assign(buffer, 0, static_cast<std::size_t>(got));
      return Note::kFound;
    }
    if (errno != ERANGE || buffer.size() >= (64 << 10)) return NoteOf(got, error);
    const ssize_t needed = GetAttribute(Fd(file.handle_), attribute.c_str(), nullptr, 0);
    if (needed < 0) return NoteOf(needed, error);
    buffer.resize(std::min<std::size_t>(std::max<std::size_t>(static_cast<std::size_t>(needed), buffer.size() * 2),
                                        64 << 10));
  }
}

Note WriteNote(const NewFile& file, const std::string& name, const std::string& value, Error* error) {
  const std::string attribute = "user." + name;
  return NoteOf(SetAttribute(Fd(file.handle_), attribute.c_str(), value.data(), value.size()), error);
}

Note RemoveNote(const NewFile& file, const std::string& name, Error* error) {
  const std::string attribute = "user." + name;
  return NoteOf(RemoveAttribute(Fd(file.handle_), attribute.c_str()), error);
}

Looked LookAt(const std::string& path, FileFacts* facts, Error* error) {
  struct stat st;
  if (Lstat(path.c_str(), &st) != 0) {
    *error = LastError();
    return errno == ENOENT || errno == ENOTDIR ? Looked::kNothing : Looked::kFailed;
  }
  *facts = FactsOf(st);
  return Looked::kFound;
}

namespace {

constexpr long kProcMagic = 0x9fa0;

// Whether a folder on the way to path is on /proc, however it is spelled:
// its links name open files and folders of processes, which may be no path
// at all (a pipe), or not the file the name would say.
bool ThroughProc(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    struct statfs disk;
    if (Statfs(path.substr(0, slash).c_str(), &disk) == 0 && disk.f_type == kProcMagic) return true;
  }
  return false;
}

}  // namespace

LinkTarget FollowLink(const std::string& link) {
  LinkTarget target;
  std::string at = link;
  errno = ELOOP;  // unless a call below says otherwise
  for (int step = 0; step < 40; ++step) {
    if (ThroughProc(at)) {
      target.how = LinkTarget::kOpenFile;
      target.through = at;
      return target;
    }
    struct stat st;
    if (Lstat(at.c_str(), &st) != 0) break;
    if (!S_ISLNK(st.st_mode)) {
      char* real = RealPath(at.c_str());
      if (real == nullptr) break;
      target.how = LinkTarget::kFile;
      target.path = real;
      std::free(real);
      return target;
    }
    std::string next(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
    const ssize_t length = readlink(at.c_str(), &next[0], next.size());
    if (length < 0) break;
    next.resize(static_cast<std::size_t>(length));
    at = next.empty() || next[0] == '/' ? next : FolderPart(at) + next;
  }
  target.error = LastError();
  return target;
}

}  // namespace os
