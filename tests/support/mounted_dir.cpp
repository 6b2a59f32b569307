#include "tests/support/mounted_dir.h"

#include <sys/mount.h>
#include <sys/stat.h>

MountedDir::MountedDir(const std::string& path, const std::string& options) : path_(path) {
  mkdir(path.c_str(), 0755);
  mounted_ = mount("vaultine-test", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

MountedDir::~MountedDir() {
  if (mounted_) umount2(path_.c_str(), MNT_DETACH);
}

bool MountedDir::RemountReadOnly() {
  return mount("vaultine-test", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}
