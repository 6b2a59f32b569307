// What the POSIX side adds to the engine's guarantees: other processes'
// opens, permission bits, full disks and failing renames.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cipher/input_checks.h"
#include "cipher/transform.h"
#include "os/file_system.h"
#include "tests/posix/mounted_dir.h"
#include "tests/support/test_files.h"

namespace {

class PosixFileTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string data_path = dir.File("data.txt");
  std::string key_path = dir.File("key.bin");
  RecordingNotifier notifier;
};

// A child process that opens the file and keeps it open until killed.
pid_t HoldOpenInChild(const std::string& path) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  pid_t child = fork();
  if (child == 0) {
    int fd = open(path.c_str(), O_RDONLY);
    (void)!write(ready[1], "x", 1);
    pause();
    _exit(fd >= 0 ? 0 : 1);
  }
  char byte;
  (void)!read(ready[0], &byte, 1);
  close(ready[0]);
  close(ready[1]);
  return child;
}

void EndChild(pid_t child) {
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

TEST_F(PosixFileTest, DataFileOpenInAnotherProcessFailsTheExclusiveProbe) {
  WriteBytes(data_path, {1, 2, 3});
  WriteBytes(key_path, {4});
  pid_t child = HoldOpenInChild(data_path);
  ASSERT_GT(child, 0);
  EXPECT_EQ(CheckInputs(data_path, key_path, 0, 0, notifier), 0);
  EndChild(child);
  ASSERT_EQ(notifier.warnings.size(), 1u);
  EXPECT_EQ(notifier.warnings[0].text, "Cannot find " + data_path + ".");
  EXPECT_EQ(CheckInputs(data_path, key_path, 0, 0, notifier), 1);
}

TEST_F(PosixFileTest, ReadOnlyDataFileCannotBeDeletedEvenByRoot) {
  WriteBytes(data_path, {1});
  ASSERT_TRUE(os::MakeReadOnly(data_path));
  EXPECT_FALSE(os::RemoveFile(data_path));
  EXPECT_TRUE(FileExists(data_path));
  MakeWritable(data_path);
  EXPECT_TRUE(os::RemoveFile(data_path));
}

TEST_F(PosixFileTest, RenameNeverReplacesAnExistingFile) {
  WriteBytes(data_path, {1});
  WriteBytes(key_path, {2});
  EXPECT_FALSE(os::RenameFile(data_path, key_path));
  EXPECT_EQ(ReadBytes(key_path), Bytes{2});
  EXPECT_TRUE(os::RenameFile(data_path, dir.File("moved")));
}

// The working file's mode, seen while the transform runs.
mode_t working_mode_seen;
std::string working_path_watched;

TEST_F(PosixFileTest, WorkingFileIsNeverMoreOpenThanTheDataFile) {
  const mode_t old_umask = umask(0);
  WriteBytes(data_path, RandomBytes(100, 1));
  WriteBytes(key_path, {7});
  for (mode_t mode : {0600, 0640, 0644, 0400}) {
    SCOPED_TRACE(mode);
    chmod(data_path.c_str(), mode);
    working_path_watched = WorkingPath(data_path);
    working_mode_seen = 0;
    notifier.on_title = [](const std::string&) {
      struct stat st;
      if (stat(working_path_watched.c_str(), &st) == 0) working_mode_seen |= st.st_mode & 0777;
    };
    if (mode == 0400) {
      EXPECT_FALSE(TransformFile(data_path, key_path, 0, TransformDirection::Encrypt, notifier));
      EXPECT_EQ(working_mode_seen & ~0600u, 0u);
      MakeWritable(working_path_watched);
      unlink(working_path_watched.c_str());
      continue;
    }
    ASSERT_TRUE(TransformFile(data_path, key_path, 0, TransformDirection::Encrypt, notifier));
    EXPECT_EQ(working_mode_seen & ~mode & 077, 0u);
    struct stat st;
    ASSERT_EQ(stat(data_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, mode);
  }
  umask(old_umask);
}

TEST_F(PosixFileTest, FullDiskLeavesTheDataFileAndNoWorkingFile) {
  MountedDir small(dir.File("small"), "size=64k");
  SKIP_UNLESS_MOUNTED(small);
  data_path = dir.File("small/data.txt");
  const Bytes plain = RandomBytes(40 * 1024, 3);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {7});
  EXPECT_FALSE(TransformFile(data_path, key_path, 0, TransformDirection::Encrypt, notifier));
  ASSERT_EQ(notifier.warnings.size(), 1u);
  EXPECT_EQ(notifier.warnings[0].caption, "Error: Could not write encrypted file!");
  EXPECT_EQ(ReadBytes(data_path), plain);
  EXPECT_FALSE(FileExists(WorkingPath(data_path)));
}

TEST_F(PosixFileTest, KeyFileOnReadOnlyDiskCannotBeMadeReadOnly) {
  MountedDir disk(dir.File("disk"), "size=64k");
  SKIP_UNLESS_MOUNTED(disk);
  key_path = dir.File("disk/key.bin");
  WriteBytes(key_path, {1, 2});
  WriteBytes(data_path, {3, 4});
  ASSERT_TRUE(disk.RemountReadOnly());
  EXPECT_EQ(CheckInputs(data_path, key_path, 0, 1, notifier), 0);
  ASSERT_EQ(notifier.warnings.size(), 1u);
  EXPECT_EQ(notifier.warnings[0].text, "Cannot make key file read only.");
  EXPECT_EQ(notifier.warnings[0].caption, "Set Attribute Error.");
}

TEST_F(PosixFileTest, FailedRenameNamesWhereTheResultIs) {
  // A full stop in the folder name puts the working file in the parent, which
  // here is another file system, so the final move cannot succeed.
  MountedDir folder(dir.File("my.docs"), "size=1m");
  SKIP_UNLESS_MOUNTED(folder);
  data_path = dir.File("my.docs/report.txt");
  const Bytes plain = RandomBytes(500, 4);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {9, 8});
  EXPECT_FALSE(TransformFile(data_path, key_path, 1, TransformDirection::Encrypt, notifier));

  const std::string working = dir.File("my.") + os::kWorkingSuffix;
  const std::string text = "Encrypted file's name is left as: " + working;
  ASSERT_EQ(notifier.warnings.size(), 1u);
  EXPECT_EQ(notifier.warnings[0].text, text);
  EXPECT_EQ(notifier.warnings[0].caption, "Error: Could not rename encrypted file!");
  EXPECT_EQ(notifier.titles.back(), text);
  EXPECT_EQ(ReadBytes(working), Expected(plain, {9, 8}, 1, TransformDirection::Encrypt));
}

}  // namespace
