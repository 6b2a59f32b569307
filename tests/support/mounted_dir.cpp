#include "tests/support/mounted_dir.h"

#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

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

namespace {

// The first line a shell command prints, or "" when it fails.
std::string FirstLine(const std::string& command) {
  std::string line;
  if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[256];
    if (fgets(buffer, sizeof buffer, pipe) != nullptr) line = buffer;
    if (pclose(pipe) != 0) line.clear();
  }
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

}  // namespace

ExfatDisk::ExfatDisk(const std::string& path) : path_(path) {
  const std::string image = path + ".img";
  if (std::system("command -v mkfs.exfat >/dev/null && command -v mount.exfat-fuse >/dev/null") != 0) {
    why_not_ = "needs exfat-fuse and exfatprogs";
    return;
  }
  device_ = FirstLine(ExfatMountCommand(image, path));
  if (device_.empty()) why_not_ = "cannot mount an exFAT disk here (needs root, loop devices and /dev/fuse)";
}

ExfatDisk::~ExfatDisk() {
  if (ok()) umount2(path_.c_str(), 0);
  if (!device_.empty()) std::system(("losetup -d '" + device_ + "'").c_str());
}
