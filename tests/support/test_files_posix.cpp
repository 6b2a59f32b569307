#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/test_files.h"

const char kSeparator[] = "/";

std::FILE* OpenStream(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

ScratchDir::ScratchDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vaultine-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("cannot create a scratch directory");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  nftw(
      path_.c_str(),
      [](const char* path, const struct stat*, int type, struct FTW*) {
        if (type == FTW_DP) return rmdir(path);
        return unlink(path);
      },
      16, FTW_DEPTH | FTW_PHYS);
}

std::string ScratchDir::File(const std::string& name) const { return path_ + kSeparator + name; }

std::int64_t FreeBytes(const std::string& path) {
  struct statvfs disk;
  return statvfs(path.c_str(), &disk) == 0 ? static_cast<std::int64_t>(disk.f_bavail) * disk.f_frsize : 0;
}

bool MakeDirectory(const std::string& path) { return mkdir(path.c_str(), 0755) == 0; }

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

void MakeWritable(const std::string& path) { chmod(path.c_str(), 0644); }

void MakeSparseFile(const std::string& path, std::int64_t length) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ftruncate(fd, length) != 0) throw std::runtime_error("cannot size " + path);
  close(fd);
}

HeldOpen::HeldOpen(const std::string& path, Mode mode) {
  handle_ = open(path.c_str(), mode == kReading ? O_RDONLY : O_WRONLY);
}
HeldOpen::~HeldOpen() {
  if (handle_ != -1) close(static_cast<int>(handle_));
}
