#pragma once

// The system calls of the POSIX file layer, each through the hook of
// system_calls.h: a call the hook refuses fails with the hook's error, as the
// system would have failed it, and is not made. Flushes and renames stay the
// plain system calls a trace shows.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "os/stop_request.h"
#include "os/system_calls.h"

namespace os {
namespace posix {

inline bool Refused(SystemCall call) {
  const int error = Intercept(call);
  if (error != 0) errno = error;
  return error != 0;
}

inline int Open(const char* path, int flags, mode_t mode = 0) {
  return Refused(SystemCall::kOpen) ? -1 : open(path, flags, mode);
}
inline int OpenAt(int folder, const char* name, int flags, mode_t mode = 0) {
  return Refused(SystemCall::kOpen) ? -1 : openat(folder, name, flags, mode);
}
// Linux frees the descriptor even when it reports a failure: so does a
// refused close.
inline int Close(int fd) {
  const int error = Intercept(SystemCall::kClose);
  const int result = close(fd);
  if (error == 0) return result;
  errno = error;
  return -1;
}

inline int Fstat(int fd, struct stat* st) { return Refused(SystemCall::kLook) ? -1 : fstat(fd, st); }
inline int FstatAt(int folder, const char* name, struct stat* st, int flags) {
  return Refused(SystemCall::kLook) ? -1 : fstatat(folder, name, st, flags);
}
inline int Stat(const char* path, struct stat* st) {
  return Refused(SystemCall::kLook) ? -1 : stat(path, st);
}
inline int Lstat(const char* path, struct stat* st) {
  return Refused(SystemCall::kLook) ? -1 : lstat(path, st);
}
inline int Statfs(const char* path, struct statfs* disk) {
  return Refused(SystemCall::kLook) ? -1 : statfs(path, disk);
}
inline int Fstatfs(int fd, struct statfs* disk) { return Refused(SystemCall::kLook) ? -1 : fstatfs(fd, disk); }
inline int Fstatvfs(int fd, struct statvfs* disk) {
  return Refused(SystemCall::kLook) ? -1 : fstatvfs(fd, disk);
}
inline char* RealPath(const char* path) {
  return Refused(SystemCall::kLook) ? nullptr : realpath(path, nullptr);
}

inline ssize_t Read(int fd, void* buffer, size_t size) {
  return Refused(SystemCall::kRead) ? -1 : read(fd, buffer, size);
}
inline ssize_t Pread(int fd, void* buffer, size_t size, off_t position) {
  return Refused(SystemCall::kRead) ? -1 : pread(fd, buffer, size, position);
}
inline ssize_t Write(int fd, const void* buffer, size_t size) {
  return Refused(SystemCall::kWrite) ? -1 : write(fd, buffer, size);
}

inline int Fsync(int fd) { return Refused(SystemCall::kFlush) ? -1 : fsync(fd); }
inline int SyncFileRange(int fd, off_t from, off_t size, unsigned int flags) {
  return Refused(SystemCall::kFlush) ? -1 : sync_file_range(fd, from, size, flags);
}

inline int RenameAt(int from_folder, const char* from, int to_folder, const char* to) {
  return Refused(SystemCall::kRename) ? -1 : renameat(from_folder, from, to_folder, to);
}
inline int UnlinkAt(int folder, const char* name) {
  return Refused(SystemCall::kRemove) ? -1 : unlinkat(folder, name, 0);
}

inline ssize_t ListAttributes(int fd, char* list, size_t size) {
  return Refused(SystemCall::kAttribute) ? -1 : flistxattr(fd, list, size);
}
inline ssize_t GetAttribute(int fd, const char* name, void* value, size_t size) {
  return Refused(SystemCall::kAttribute) ? -1 : fgetxattr(fd, name, value, size);
}
inline int SetAttribute(int fd, const char* name, const void* value, size_t size) {
  return Refused(SystemCall::kAttribute) ? -1 : fsetxattr(fd, name, value, size, 0);
}
inline int RemoveAttribute(int fd, const char* name) {
  return Refused(SystemCall::kAttribute) ? -1 : fremovexattr(fd, name);
}

inline int SetFileTimes(int fd, const timespec times[2]) {
  return Refused(SystemCall::kPermission) ? -1 : futimens(fd, times);
}
inline int Fchmod(int fd, mode_t mode) { return Refused(SystemCall::kPermission) ? -1 : fchmod(fd, mode); }
inline int Chmod(const char* path, mode_t mode) {
  return Refused(SystemCall::kPermission) ? -1 : chmod(path, mode);
}
inline int Fchown(int fd, uid_t owner, gid_t group) {
  return Refused(SystemCall::kPermission) ? -1 : fchown(fd, owner, group);
}
inline int FaccessAt(int folder, const char* name, int mode, int flags) {
  return Refused(SystemCall::kPermission) ? -1 : faccessat(folder, name, mode, flags);
}

// F_SETSIG, F_SETLEASE and F_GETLEASE.
inline int LeaseControl(int fd, int command, int argument) {
  return Refused(SystemCall::kLease) ? -1 : fcntl(fd, command, argument);
}

inline DIR* OpenListing(int fd) { return Refused(SystemCall::kList) ? nullptr : fdopendir(fd); }
// Null at the end, with errno unchanged, or on a failure, with errno set.
inline dirent* NextEntry(DIR* listing) { return Refused(SystemCall::kList) ? nullptr : readdir(listing); }

// The next entry; null at the end, with errno 0, or on a failure. A listing
// cut short is no shorter folder: a signal only interrupts it, unless it
// asks to stop, or a disk keeps saying so.
inline dirent* NextListed(DIR* listing) {
  for (int interrupted = 0;; ++interrupted) {
    errno = 0;
    dirent* entry = NextEntry(listing);
    if (entry != nullptr || errno != EINTR || interrupted == 1000 || StopRequested()) return entry;
  }
}

}  // namespace posix
}  // namespace os
