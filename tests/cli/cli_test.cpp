// The vaultine command run as a user runs it: arguments in, exit status,
// messages and files out.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "cipher/transform.h"
#include "os/file_system.h"
#include "tests/posix/mounted_dir.h"
#include "tests/support/test_files.h"

namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// How the command is started: from which folder (empty: the test's own), as
// which user (0: as the test runs), with stderr a pipe nobody reads, and with
// a limit on the size of the files it writes (0: none).
struct Start {
  std::string folder;
  uid_t user = 0;
  bool stderr_unread = false;
  rlim_t file_size_limit = 0;
};

// A user of its own for tests of access rights: no account needs to exist.
constexpr uid_t kOtherUser = 65534;

class CliTest : public ::testing::Test {
 protected:
  pid_t Start(const std::vector<std::string>& args, const ::Start& how = {}) {
    // The build may lie where another user cannot go (under /root, say):
    // that user runs a copy in the scratch folder.
    std::string command = VAULTINE_CLI;
    if (how.user != 0) {
      command = dir.File("vaultine");
      WriteBytes(command, ReadBytes(VAULTINE_CLI));
      chmod(command.c_str(), 0755);
    }
    pid_t child = fork();
    if (child == 0) {
      int out = open(dir.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = open(dir.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      int unread[2];
      if (how.stderr_unread && (pipe(unread) != 0 || close(unread[0]) != 0 || dup2(unread[1], STDERR_FILENO) < 0)) {
        _exit(126);
      }
      const rlimit limit = {how.file_size_limit, how.file_size_limit};
      if (how.file_size_limit != 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
      if (!how.folder.empty() && chdir(how.folder.c_str()) != 0) _exit(126);
      if (how.user != 0 && (setgroups(0, nullptr) != 0 || setgid(how.user) != 0 || setuid(how.user) != 0)) _exit(126);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(command.c_str()));
      for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(command.c_str(), argv.data());
      _exit(127);
    }
    return child;
  }

  Result Finish(pid_t child) {
    Result result;
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    const Bytes out = ReadBytes(dir.File("stdout"));
    const Bytes err = ReadBytes(dir.File("stderr"));
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    return result;
  }

  Result Run(const std::vector<std::string>& args, const ::Start& how = {}) { return Finish(Start(args, how)); }

  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = dir.File(name);
    WriteBytes(path, bytes);
    return path;
  }

  ScratchDir dir;
  const Bytes key = RandomBytes(100, 1);
  const std::string key_path = WriteFile("key.bin", key);
};

TEST_F(CliTest, EncryptsAndDecryptsSeveralFiles) {
  const Bytes a = RandomBytes(1000, 2);
  const Bytes b = RandomBytes(5, 3);
  const std::string path_a = WriteFile("a.txt", a);
  const std::string path_b = WriteFile("b", b);

  Result result = Run({"encrypt", "-k", key_path, "-o", "17", path_a, path_b});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadBytes(path_a), Expected(a, key, 17, TransformDirection::Encrypt));
  EXPECT_EQ(ReadBytes(path_b), Expected(b, key, 17, TransformDirection::Encrypt));

  result = Run({"decrypt", "--key", key_path, "--offset", "17", path_a, path_b});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(path_a), a);
  EXPECT_EQ(ReadBytes(path_b), b);
}

TEST_F(CliTest, GoesOnAfterARefusalAndReportsIt) {
  const Bytes a = RandomBytes(10, 4);
  const std::string path_a = WriteFile("a.txt", a);
  const std::string missing = dir.File("missing.txt");

  const Result result = Run({"encrypt", "-k", key_path, missing, path_a});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Encrypt file error.: Cannot find " + missing + ".\n");
  EXPECT_EQ(ReadBytes(path_a), Expected(a, key, 0, TransformDirection::Encrypt));
}

TEST_F(CliTest, OutOfRangeOffsetsReachTheInputChecks) {
  const Bytes a = RandomBytes(10, 5);
  const std::string path_a = WriteFile("a.txt", a);
  for (const char* offset : {"256", "-1", "99999999999"}) {
    SCOPED_TRACE(offset);
    const Result result = Run({"encrypt", "-k", key_path, "-o", offset, path_a});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Offset must be value between 0 and 255.\n");
    EXPECT_EQ(ReadBytes(path_a), a);
  }
}

TEST_F(CliTest, UsageErrorsExitWithTwoAndShowTheUsage) {
  const std::string a = WriteFile("a.txt", {1});
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"encipher", "-k", key_path, a},
      {"encrypt", a},
      {"encrypt", "-k", key_path},
      {"encrypt", "-k", key_path, "-o", "12abc", a},
      {"encrypt", "-k", key_path, "-o", "", a},
      {"decrypt", "-k", key_path, "--frobnicate", a},
      {"encrypt", "-k"},
  };
  for (const auto& args : bad) {
    const Result result = Run(args);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE(result.err.find("Usage: vaultine encrypt"), std::string::npos) << result.err;
  }
  EXPECT_EQ(ReadBytes(a), Bytes{1});
}

TEST_F(CliTest, HelpAndVersion) {
  Result result = Run({"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("--key-read-only"), std::string::npos);
  result = Run({"encrypt", "-h"});
  EXPECT_EQ(result.status, 0);
  result = Run({"--version"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "vaultine 1.02\n");
}

TEST_F(CliTest, ReadOnlyOptionMarksTheKeyFile) {
  const std::string a = WriteFile("a.txt", {1, 2});
  const Result result = Run({"encrypt", "-r", "-k", key_path, a});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(os::IsReadOnly(key_path));
  MakeWritable(key_path);
}

TEST_F(CliTest, SameFileUnderAnotherNameIsRefused) {
  const Bytes a = RandomBytes(10, 6);
  const std::string path_a = WriteFile("a.txt", a);
  const std::string link = dir.File("link.txt");
  ASSERT_EQ(symlink(path_a.c_str(), link.c_str()), 0);
  const Result result = Run({"encrypt", "-k", link, path_a});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err.rfind("Filename error. (Bad idea.): Using  the same filename", 0), 0u) << result.err;
  EXPECT_EQ(ReadBytes(path_a), a);
}

TEST_F(CliTest, LinkIsFollowedToItsFile) {
  const Bytes a = RandomBytes(10, 7);
  const std::string path_a = WriteFile("a.txt", a);
  const std::string link = dir.File("link");
  ASSERT_EQ(symlink(path_a.c_str(), link.c_str()), 0);
  const Result result = Run({"encrypt", "-k", key_path, link});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(path_a), Expected(a, key, 0, TransformDirection::Encrypt));
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(CliTest, RelativePathFromAnotherFileSystemKeepsTheWorkingFileBesideItsFile) {
  ASSERT_TRUE(MakeDirectory(dir.File("docs")));
  const Bytes a = RandomBytes(1000, 9);
  const std::string path_a = WriteFile("docs/a.txt", a);
  // Run from another file system where the test may mount one: a working
  // file there could never take the file's place.
  MountedDir elsewhere(dir.File("elsewhere"), "size=64k");
  const Result result = Run({"encrypt", "-k", key_path, "../docs/a.txt"}, {dir.File("elsewhere")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(path_a), Expected(a, key, 0, TransformDirection::Encrypt));
}

TEST_F(CliTest, AUserWhoCannotReplaceTheFileAsItIsLeavesItWhole) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);  // she may write in the folder
  // Root's file that she may read but not write; and one an ACL lets her
  // write, whose result could not stay root's.
  struct Case {
    const char* name;
    mode_t mode;
    bool acl;
  };
  for (const Case& c : {Case{"a.txt", 0644, false}, Case{"b.txt", 0640, true}}) {
    SCOPED_TRACE(c.name);
    const Bytes data = RandomBytes(1000, 10);
    const std::string path = WriteFile(c.name, data);
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    if (c.acl && system(("setfacl -m u:" + std::to_string(kOtherUser) + ":rw- " + path + " 2>/dev/null").c_str()) != 0) {
      std::cout << "no setfacl (Debian package acl) or no ACLs here: case skipped\n";
      continue;
    }
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    const Result result = Run({"encrypt", "-k", key_path, path}, {"", kOtherUser});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Could not delete original file!: Could not delete " + path + ".\n");
    EXPECT_EQ(ReadBytes(path), data);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode, before.st_mode);
    // Her result stays beside it, open to nobody the file was not, and
    // not to her group, which is not the file's.
    const std::string working = WorkingPath(path);
    EXPECT_EQ(ReadBytes(working), Expected(data, key, 0, TransformDirection::Encrypt));
    ASSERT_EQ(stat(working.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, before.st_mode & 0707);
  }
}

TEST_F(CliTest, NoProgressEscapesWhenStderrIsNoTerminal) {
  const std::string a = WriteFile("a.txt", RandomBytes(1000, 8));
  const Result result = Run({"encrypt", "-k", key_path, a});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
}

TEST_F(CliTest, StopSignalsRemoveTheWorkingFileAndKeepTheData) {
  const std::string data = dir.File("big.dat");
  const std::int64_t length = 1LL << 30;
  MakeSparseFile(data, length);  // zeros throughout
  const std::string working = WorkingPath(data);
  // Ctrl-C, Ctrl-\\, and Ctrl-C where the reader of stderr is gone too.
  struct Case {
    int signal_number;
    bool stderr_unread;
  };
  for (const Case& c : {Case{SIGINT, false}, Case{SIGQUIT, false}, Case{SIGINT, true}}) {
    SCOPED_TRACE(c.signal_number + (c.stderr_unread ? 1000 : 0));
    const pid_t child = Start({"encrypt", "-k", key_path, data}, {"", 0, c.stderr_unread});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!FileExists(working) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_TRUE(FileExists(working)) << "the transform never started";
    kill(child, c.signal_number);
    const Result result = Finish(child);

    EXPECT_EQ(result.status, 128 + c.signal_number) << result.err;
    if (!c.stderr_unread) EXPECT_NE(result.err.find("Interrupted!"), std::string::npos) << result.err;
    EXPECT_FALSE(FileExists(working));
    os::InputFile check;
    ASSERT_TRUE(check.Open(data));
    EXPECT_EQ(FileLength(check), length);
    Bytes block(1 << 20);
    for (std::int64_t done = 0; done < length; done += static_cast<std::int64_t>(block.size())) {
      ASSERT_EQ(check.Read(block.data(), block.size()), static_cast<std::int64_t>(block.size()));
      ASSERT_EQ(block, Repeat(0, block.size())) << "changed near byte " << done;
    }
  }
}

TEST_F(CliTest, FileSizeLimitShowsAsAFailedWrite) {
  const Bytes a = RandomBytes(3 << 20, 12);
  const std::string path_a = WriteFile("a.txt", a);
  const Result result = Run({"encrypt", "-k", key_path, path_a}, {"", 0, false, 1 << 20});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error: Could not write encrypted file!: Could not write the working file " +
                            WorkingPath(path_a) + ". The disk may be full. The original file is unchanged.\n");
  EXPECT_EQ(ReadBytes(path_a), a);
  EXPECT_FALSE(FileExists(WorkingPath(path_a)));
}

}  // namespace
