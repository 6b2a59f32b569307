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
