#pragma once

#include <string>

// A small tmpfs mounted for one test, where the test may mount (root);
// unmounted when destroyed.
class MountedDir {
 public:
  MountedDir(const std::string& path, const std::string& options);
  ~MountedDir();
  MountedDir(const MountedDir&) = delete;
  MountedDir& operator=(const MountedDir&) = delete;

  bool ok() const { return mounted_; }
  bool RemountReadOnly();

 private:
  std::string path_;
  bool mounted_ = false;
};

#define SKIP_UNLESS_MOUNTED(mount)                                                          \
  if (!(mount).ok()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root and mount rights)"

// The shell commands that make a 16 MiB exFAT image at image, attach it to a
// loop device and mount it at path through FUSE, and print the device and
// nothing else; on failure they leave no device attached. The Windows tests
// run them through Wine.
inline std::string ExfatMountCommand(const std::string& image, const std::string& path) {
  return "truncate -s 16M '" + image + "' && mkfs.exfat '" + image + "' >/dev/null 2>&1 && mkdir -p '" + path +
         "' && device=$(losetup -f --show '" + image + "') && { mount.exfat-fuse \"$device\" '" + path +
         "' >/dev/null 2>&1 || { losetup -d \"$device\"; false; }; } && echo \"$device\"";
}

// A small exFAT disk, as USB sticks and SD cards carry, mounted through FUSE
// at path for one test where the test may (root, loop devices, /dev/fuse,
// exfat-fuse and exfatprogs); unmounted when destroyed. Its names fold case,
// and each spelling of a name gets a file number of its own.
class ExfatDisk {
 public:
  explicit ExfatDisk(const std::string& path);
  ~ExfatDisk();
  ExfatDisk(const ExfatDisk&) = delete;
  ExfatDisk& operator=(const ExfatDisk&) = delete;

  bool ok() const { return why_not_.empty(); }
  const std::string& why_not() const { return why_not_; }

 private:
  std::string path_;
  std::string device_;
  std::string why_not_;
};
