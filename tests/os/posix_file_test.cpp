// What the POSIX side adds to the engine's guarantees: other processes at
// work on the same files and folders, what guards a file, full disks and
// refused replacements.

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

#include "cipher/input_checks.h"
#include "cipher/transform.h"
#include "os/file_system.h"
#include "tests/support/mounted_dir.h"
#include "tests/support/test_files.h"

namespace {

class PosixFileTest : public ::testing::Test {
 protected:
  // Transforms while another program does meddle halfway through.
  bool TransformMeddled(std::function<void()> meddle) {
    notifier.on_progress = [meddle](int percent) {
      if (percent == 51) meddle();
    };
    return TransformFile(data_path, key_path, 0, TransformDirection::kEncrypt, notifier);
  }

  ScratchDir dir;
  std::string data_path = dir.File("data.txt");
  std::string key_path = dir.File("key.bin");
  RecordingNotifier notifier;
};

// A child process that opens the file for writing and keeps it open until
// killed.
pid_t HoldOpenInChild(const std::string& path) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  pid_t child = fork();
  if (child == 0) {
    int fd = open(path.c_str(), O_WRONLY);
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

TEST_F(PosixFileTest, DataFileOpenForWritingInAnotherProcessIsInUse) {
  WriteBytes(data_path, {1, 2, 3});
  WriteBytes(key_path, {4});
  pid_t child = HoldOpenInChild(data_path);
  ASSERT_GT(child, 0);
  EXPECT_FALSE(CheckInputs(data_path, key_path, 0, false, notifier));
  EndChild(child);
  ExpectOnly(notifier, Event::kInUse, data_path);
  EXPECT_TRUE(CheckInputs(data_path, key_path, 0, false, notifier));
}

TEST_F(PosixFileTest, AWriterThatOpensTheFileDuringTheRunHasItAtOnceAndItIsNotReplaced) {
  // Blocks of it done when the writer comes, at 51%, from a process of its
  // own, as another program would: the lease the run holds is broken, which
  // must neither end this process (SIGIO) nor keep the writer waiting. It
  // writes only once the run is over: what it writes must reach the file.
  const Bytes plain = RandomBytes(3000000, 3);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {4});
  int opened[2];
  int go[2];
  ASSERT_EQ(pipe(opened), 0);
  ASSERT_EQ(pipe(go), 0);
  pid_t writer = -1;
  int waited = -1;
  EXPECT_FALSE(TransformMeddled([&] {
    const auto started = std::chrono::steady_clock::now();
    writer = fork();
    if (writer == 0) {
      const int fd = open(data_path.c_str(), O_WRONLY);
      char byte = 0;
      if (fd < 0 || write(opened[1], "x", 1) != 1 || read(go[0], &byte, 1) != 1) _exit(1);
      _exit(write(fd, "W", 1) == 1 ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(read(opened[0], &byte, 1), 1);
    waited = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count());
  }));
  ASSERT_GT(writer, 0);
  ASSERT_EQ(write(go[1], "x", 1), 1);
  int status = 0;
  waitpid(writer, &status, 0);
  for (int fd : {opened[0], opened[1], go[0], go[1]}) close(fd);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_LT(waited, 5);  // the kernel's own wait for a lease is 45 s
  ExpectOnly(notifier, Event::kDataChanged, data_path);
  Bytes written = plain;
  written[0] = 'W';
  EXPECT_EQ(ReadBytes(data_path), written);
  EXPECT_FALSE(FileExists(WorkingPath(data_path)));
}

TEST_F(PosixFileTest, WorkingFileIsNeverMoreOpenThanTheDataFile) {
  const mode_t old_umask = umask(0);
  WriteBytes(data_path, RandomBytes(100, 1));
  WriteBytes(key_path, {7});
  const std::string working = WorkingPath(data_path);
  for (mode_t mode : {0600, 0640, 0644, 0400}) {
    SCOPED_TRACE(mode);
    chmod(data_path.c_str(), mode);
    mode_t seen = 0;
    notifier.on_progress = [&](int) {
      struct stat st;
      if (stat(working.c_str(), &st) == 0) seen |= st.st_mode & 0777;
    };
    if (mode == 0400) {
      EXPECT_FALSE(TransformFile(data_path, key_path, 0, TransformDirection::kEncrypt, notifier));
      EXPECT_EQ(seen & ~0600u, 0u);
      unlink(working.c_str());
      continue;
    }
    ASSERT_TRUE(TransformFile(data_path, key_path, 0, TransformDirection::kEncrypt, notifier));
    EXPECT_EQ(seen & ~mode & 077, 0u);
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
  EXPECT_FALSE(TransformFile(data_path, key_path, 0, TransformDirection::kEncrypt, notifier));
  ExpectOnly(notifier, Event::kCannotWrite, WorkingPath(data_path));
  EXPECT_EQ(notifier.reports[0].error.code, ENOSPC);
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
  EXPECT_FALSE(CheckInputs(data_path, key_path, 0, true, notifier));
  ExpectOnly(notifier, Event::kCannotMakeReadOnly, key_path);
}

TEST_F(PosixFileTest, RefusedReplacementNamesWhereTheResultIsAndKeepsTheData) {
  // The system refuses to replace a file that is a mount point.
  const std::string mounted = dir.File("mounted.txt");
  const Bytes plain = RandomBytes(500, 4);
  WriteBytes(mounted, plain);
  WriteBytes(data_path, {});
  WriteBytes(key_path, {9, 8});
  if (mount(mounted.c_str(), data_path.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot bind-mount a file here (needs root and mount rights)";
  }
  const bool done = TransformFile(data_path, key_path, 1, TransformDirection::kEncrypt, notifier);
  umount2(data_path.c_str(), MNT_DETACH);
  EXPECT_FALSE(done);

  const std::string working = WorkingPath(data_path);
  ExpectOnly(notifier, Event::kNotReplaced, data_path);
  EXPECT_EQ(notifier.reports[0].error.code, EBUSY);
  EXPECT_EQ(ReadBytes(mounted), plain);
  EXPECT_EQ(ReadBytes(working), Expected(plain, {9, 8}, 1, TransformDirection::kEncrypt));
}

// ---- other programs at work in the same folder

TEST_F(PosixFileTest, DataFileReplacedOrGivenOtherPermissionsIsLeftAsItIs) {
  const Bytes plain = RandomBytes(1000, 5);
  const Bytes saved = RandomBytes(900, 6);
  WriteBytes(key_path, {7});
  struct Case {
    std::function<void()> meddle;
    Bytes data_after;
    mode_t mode_after;
  };
  const std::vector<Case> cases = {
      {[&] {  // an editor's save
         WriteBytes(dir.File("save.tmp"), saved);
         chmod(dir.File("save.tmp").c_str(), 0644);
         rename(dir.File("save.tmp").c_str(), data_path.c_str());
       },
       saved, 0644},
      {[&] { chmod(data_path.c_str(), 0600); }, plain, 0600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode_after);
    WriteBytes(data_path, plain);
    chmod(data_path.c_str(), 0644);
    notifier.reports.clear();
    EXPECT_FALSE(TransformMeddled(c.meddle));
    ExpectOnly(notifier, Event::kDataChanged, data_path);
    EXPECT_EQ(ReadBytes(data_path), c.data_after);
    struct stat st;
    ASSERT_EQ(stat(data_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.mode_after);
    EXPECT_FALSE(FileExists(WorkingPath(data_path)));
  }
}

TEST_F(PosixFileTest, AnotherRunsWorkingFileIsNeitherTakenNorRemoved) {
  // report.txt and report.doc share a working path: this run's unfinished
  // file is removed, and a run on the sibling puts its own there.
  const Bytes plain = RandomBytes(1000, 7);
  const Bytes siblings = RandomBytes(700, 8);
  const std::string working = WorkingPath(data_path);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {7});
  EXPECT_FALSE(TransformMeddled([&] {
    unlink(working.c_str());
    WriteBytes(working, siblings);
  }));
  ExpectOnly(notifier, Event::kWorkingChanged, working);
  EXPECT_EQ(ReadBytes(data_path), plain);
  EXPECT_EQ(ReadBytes(working), siblings);
}

TEST_F(PosixFileTest, AFileDatedPastTheYear2262IsStampedWithoutOverflow) {
  const Bytes plain = RandomBytes(100, 14);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {7});
  const timespec times[2] = {{10000000000, 0}, {10000000000, 999999999}};  // the year 2286
  ASSERT_EQ(utimensat(AT_FDCWD, data_path.c_str(), times, 0), 0);
  EXPECT_TRUE(TransformFile(data_path, key_path, 0, TransformDirection::kEncrypt, notifier));
  EXPECT_EQ(ReadBytes(data_path), Expected(plain, {7}, 0, TransformDirection::kEncrypt));
}

TEST_F(PosixFileTest, DataFileRemovedMeanwhileLeavesTheResultAsAllThereIs) {
  const Bytes plain = RandomBytes(1000, 13);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {7});
  EXPECT_FALSE(TransformMeddled([&] { ASSERT_EQ(unlink(data_path.c_str()), 0); }));
  ExpectOnly(notifier, Event::kDataRemoved, data_path);
  EXPECT_EQ(ReadBytes(WorkingPath(data_path)), Expected(plain, {7}, 0, TransformDirection::kEncrypt));

  // Its whole folder removed, the result with it: nothing is said to be
  // where it is not, nor the file to be unchanged.
  ASSERT_TRUE(MakeDirectory(dir.File("folder")));
  data_path = dir.File("folder/data.txt");
  WriteBytes(data_path, plain);
  notifier.reports.clear();
  EXPECT_FALSE(TransformMeddled([&] {
    ASSERT_EQ(system(("rm -rf " + dir.File("folder")).c_str()), 0);
  }));
  ExpectOnly(notifier, Event::kWorkingChanged, WorkingPath(data_path));
  EXPECT_TRUE(notifier.reports[0].data_gone);
}

TEST_F(PosixFileTest, WorkingFileCutShortIsNeverUsed) {
  // A block of it written when the meddler comes, at 51%.
  const Bytes plain = RandomBytes(3000000, 9);
  const std::string working = WorkingPath(data_path);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {7});
  EXPECT_FALSE(TransformMeddled([&] { ASSERT_EQ(truncate(working.c_str(), 0), 0); }));
  ExpectOnly(notifier, Event::kWorkingCutShort, working);
  EXPECT_EQ(ReadBytes(data_path), plain);
  EXPECT_FALSE(FileExists(working));
}

TEST_F(PosixFileTest, FolderSwappedForALinkCannotSendTheReplacementElsewhere) {
  ASSERT_TRUE(MakeDirectory(dir.File("user")));
  ASSERT_TRUE(MakeDirectory(dir.File("other")));
  data_path = dir.File("user/report.txt");
  const std::string unrelated = dir.File("other/report.txt");
  const Bytes plain = RandomBytes(1000, 10);
  const Bytes others = RandomBytes(100, 11);
  WriteBytes(data_path, plain);
  WriteBytes(unrelated, others);
  WriteBytes(key_path, {7});
  EXPECT_TRUE(TransformMeddled([&] {
    ASSERT_EQ(rename(dir.File("user").c_str(), dir.File("moved").c_str()), 0);
    ASSERT_EQ(symlink("other", dir.File("user").c_str()), 0);
  }));
  EXPECT_EQ(ReadBytes(unrelated), others);
  EXPECT_FALSE(FileExists(WorkingPath(unrelated)));
  EXPECT_EQ(ReadBytes(dir.File("moved/report.txt")), Expected(plain, {7}, 0, TransformDirection::kEncrypt));
}

TEST_F(PosixFileTest, LinkGivenAsTheDataFileIsNeitherReplacedNorFollowed) {
  // The command line follows a link only when asked to; the engine never
  // swaps a link for a file, nor writes through one.
  const Bytes plain = RandomBytes(100, 12);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {7});
  const std::string link = dir.File("link.txt");
  ASSERT_EQ(symlink("data.txt", link.c_str()), 0);
  EXPECT_FALSE(TransformFile(link, key_path, 0, TransformDirection::kEncrypt, notifier));
  ExpectOnly(notifier, Event::kIsLink, link);
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadBytes(data_path), plain);
}

// ---- what guards the file goes with it

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    pclose(pipe);
  }
  return text;
}

TEST_F(PosixFileTest, AclAndExtendedAttributesGoWithTheFileAndNothingWider) {
  if (system("command -v setfacl >/dev/null && command -v getfacl >/dev/null") != 0) {
    GTEST_SKIP() << "needs setfacl and getfacl (Debian package acl)";
  }
  // One file with an ACL for one more user and a note of its own; one plain
  // file. New files in the folder inherit a wider default ACL, which neither
  // result may keep.
  const std::string guarded = dir.File("guarded.txt");
  const std::string plain = dir.File("plain.txt");
  WriteBytes(key_path, {7});
  for (const std::string& path : {guarded, plain}) {
    WriteBytes(path, RandomBytes(100, 12));
    chmod(path.c_str(), 0600);
  }
  if (system(("setfacl -m u:65533:r-- " + guarded + " && setfacl -d -m u:65534:rw " + dir.path()).c_str()) != 0 ||
      setxattr(guarded.c_str(), "user.origin", "camera", 6, 0) != 0) {
    GTEST_SKIP() << "no ACLs or extended attributes on this file system";
  }
  for (const std::string& path : {guarded, plain}) {
    SCOPED_TRACE(path);
    const std::string acl = Output("getfacl -c " + path);
    ASSERT_TRUE(TransformFile(path, key_path, 0, TransformDirection::kEncrypt, notifier));
    EXPECT_EQ(Output("getfacl -c " + path), acl);
  }
  char origin[16] = {};
  EXPECT_EQ(getxattr(guarded.c_str(), "user.origin", origin, sizeof origin), 6);
  EXPECT_STREQ(origin, "camera");
}

}  // namespace
