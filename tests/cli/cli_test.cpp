// The vaultine command run as a user runs it: arguments in, exit status,
// messages and files out.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/ioctl.h>
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
#include "version.h"
#include "tests/support/mounted_dir.h"
#include "tests/support/test_files.h"

namespace {

struct Result {
  int status = -1;  // the exit status, or 1000 plus the signal that ended it
  bool core_dumped = false;
  std::string out;
  std::string err;
};

// How the command is started: from which folder (empty: the test's own), as
// which user (0: as the test runs), with stderr a pipe nobody reads, with a
// limit on the size of the files it writes (0: none), with stdout to this
// file or closed ("-"), and with hang-ups ignored, as nohup starts it.
struct Start {
  std::string folder;
  uid_t user = 0;
  bool stderr_unread = false;
  rlim_t file_size_limit = 0;
  rlim_t open_files_limit = 0;
  std::string stdout_to;
  std::string stderr_to;
  bool ignore_hangup = false;
  bool allow_core = false;
  std::string stdin_from;
  std::vector<std::string> environment;  // NAME=value, added to the test's own

  static Start From(const std::string& folder) { Start how; how.folder = folder; return how; }
  static Start As(uid_t user) { Start how; how.user = user; return how; }
  static Start StdoutTo(const std::string& file) { Start how; how.stdout_to = file; return how; }
  static Start FileSizeLimit(rlim_t limit) { Start how; how.file_size_limit = limit; return how; }
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
      if (how.stdout_to == "-") close(STDOUT_FILENO);
      if (!how.stdout_to.empty() && how.stdout_to != "-") {
        dup2(open(how.stdout_to.c_str(), O_WRONLY), STDOUT_FILENO);
      }
      if (!how.stderr_to.empty()) dup2(open(how.stderr_to.c_str(), O_WRONLY), STDERR_FILENO);
      if (!how.stdin_from.empty()) dup2(open(how.stdin_from.c_str(), O_RDONLY), STDIN_FILENO);
      for (const std::string& setting : how.environment) putenv(const_cast<char*>(setting.c_str()));
      if (how.ignore_hangup) signal(SIGHUP, SIG_IGN);
      const rlimit core = {how.allow_core ? RLIM_INFINITY : 0, how.allow_core ? RLIM_INFINITY : 0};
      setrlimit(RLIMIT_CORE, &core);
      int unread[2];
      if (how.stderr_unread && (pipe(unread) != 0 || close(unread[0]) != 0 || dup2(unread[1], STDERR_FILENO) < 0)) {
        _exit(126);
      }
      const rlimit limit = {how.file_size_limit, how.file_size_limit};
      if (how.file_size_limit != 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
      const rlimit open_files = {how.open_files_limit, how.open_files_limit};
      if (how.open_files_limit != 0 && setrlimit(RLIMIT_NOFILE, &open_files) != 0) _exit(126);
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
    result.core_dumped = WIFSIGNALED(status) && WCOREDUMP(status);
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
  // Both need the working file a.1ê9: one waits for the other.
  const std::string path_a = WriteFile("a.txt", a);
  const std::string path_b = WriteFile("a.b", b);

  Result result = Run({"encrypt", "-k", key_path, "-o", "17", path_a, path_b});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadBytes(path_a), Expected(a, key, 17, TransformDirection::kEncrypt));
  EXPECT_EQ(ReadBytes(path_b), Expected(b, key, 17, TransformDirection::kEncrypt));

  result = Run({"decrypt", "--key", key_path, "--offset", "17", path_a, path_b});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(path_a), a);
  EXPECT_EQ(ReadBytes(path_b), b);

  // Files side by side, with few files open allowed: slower, never a failure.
  ASSERT_TRUE(MakeDirectory(dir.File("many")));
  for (int i = 0; i < 120; ++i) WriteFile("many/" + std::to_string(i), {static_cast<std::uint8_t>(i)});
  ::Start few = ::Start::From(dir.File("many"));
  few.open_files_limit = 20;
  result = Run({"encrypt", "-r", "-k", key_path, "."}, few);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(dir.File("many/119")), Expected({119}, key, 0, TransformDirection::kEncrypt));
}

// What each file's record makes of a command run again, or with another key.
TEST_F(CliTest, TheRecordKeepsARerunOrAWrongKeyFromCostingAFile) {
  const Bytes a = RandomBytes(1000, 2);
  const Bytes b = RandomBytes(500, 3);
  const std::string path_a = WriteFile("a.txt", a);
  const std::string path_b = WriteFile("b.txt", b);
  const std::string other_key = WriteFile("other.key", RandomBytes(100, 9));
  const Bytes once = Expected(a, key, 5, TransformDirection::kEncrypt);
  const auto said = [](const std::string& path, const std::string& what) {
    return "vaultine: " + path + ": " + what + "\n";
  };
  ASSERT_EQ(Run({"encrypt", "-o", "5", "-k", key_path, path_a}).status, 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
    Bytes a_after;
  };
  const std::vector<Case> cases = {
      // Run again, as from a shell's history: done is done, and -v says so.
      {{"encrypt", "-v", "-o", "5", "-k", key_path, path_a, path_b}, 0,
       said(path_a, "already encrypted; -f encrypts it again") + said(path_b, "encrypted"), once},
      // Another key, or the right key with another offset: not a byte changes.
      {{"decrypt", "-o", "5", "-k", other_key, path_a}, 1,
       said(path_a, "was encrypted with another key file or offset; left as it is"), once},
      {{"decrypt", "-o", "6", "-k", key_path, path_a}, 1,
       said(path_a, "was encrypted with another key file or offset; left as it is"), once},
      {{"decrypt", "-o", "5", "-k", key_path, path_a}, 0, "", a},
      // Run again: plain is plain.
      {{"decrypt", "-o", "5", "-k", key_path, path_a}, 0,
       said(path_a, "not encrypted, as its record says; left as it is (-f decrypts it all the same)"), a},
      // Twice, when asked for, and then undone layer by layer.
      {{"encrypt", "-o", "5", "-k", key_path, path_a}, 0, "", once},
      {{"encrypt", "-f", "-o", "7", "-k", other_key, path_a}, 0, "",
       Expected(once, ReadBytes(other_key), 7, TransformDirection::kEncrypt)},
      {{"decrypt", "-o", "5", "-k", key_path, path_a}, 1,
       said(path_a, "was encrypted with another key file or offset; left as it is"),
       Expected(once, ReadBytes(other_key), 7, TransformDirection::kEncrypt)},
      {{"decrypt", "-o", "7", "-k", other_key, path_a}, 0, "", once},
      {{"decrypt", "-o", "5", "-k", key_path, path_a}, 0, "", a},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[c.args.size() - 2]);
    const Result result = Run(c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(ReadBytes(path_a), c.a_after);
  }
  // A file written since its record was made, even at once, is not what the
  // record describes: one that says encrypted is refused all the same, and
  // -f goes past it; a record that says plain, and a file from before
  // records, are what they now hold.
  ASSERT_EQ(Run({"encrypt", "-o", "5", "-k", key_path, path_a}).status, 0);
  WriteBytes(path_a, a);
  Result result = Run({"encrypt", "-o", "5", "-k", key_path, path_a});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, said(path_a, "its record says encrypted, but the file changed since the record was made; "
                                     "left as it is (-f encrypts it all the same)"));
  EXPECT_EQ(ReadBytes(path_a), a);
  EXPECT_EQ(Run({"encrypt", "-f", "-o", "5", "-k", key_path, path_a}).err, "");
  EXPECT_EQ(ReadBytes(path_a), once);
  // Restored with its time (cp -p) over a result of the same length: not
  // what the record describes, however soon after.
  const std::string saved = dir.File("saved.txt");
  ASSERT_EQ(Run({"encrypt", "-o", "5", "-k", key_path, path_b}).status, 0);
  ASSERT_EQ(system(("cp -p " + path_b + " " + saved).c_str()), 0);
  ASSERT_EQ(Run({"decrypt", "-o", "5", "-k", key_path, path_b}).status, 0);
  ASSERT_EQ(system(("cp -p " + saved + " " + path_b).c_str()), 0);
  EXPECT_EQ(Run({"decrypt", "-o", "5", "-k", key_path, path_b}).err, "");
  EXPECT_EQ(ReadBytes(path_b), b);
  // Copied onto a disk that keeps whole seconds: its record still counts.
  const std::string copy = dir.File("copy.txt");
  ASSERT_EQ(system(("cp -a " + path_a + " " + copy + " && touch -d @$(stat -c %Y " + copy + ") " + copy).c_str()), 0);
  EXPECT_EQ(Run({"encrypt", "-o", "5", "-k", key_path, copy}).err, said(copy, "already encrypted; -f encrypts it again"));
  // Through -c, as in place: nothing written.
  result = Run({"decrypt", "-c", "-o", "5", "-k", other_key, copy});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, said(copy, "was encrypted with another key file or offset; left as it is; nothing was written"));
  result = Run({"encrypt", "-c", "-o", "5", "-k", key_path, copy});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  // A note that is no record: -c writes nothing either.
  const std::string noted = dir.File("noted.txt");
  ASSERT_EQ(system(("cp " + path_b + " " + noted + " && setfattr -n user.vaultine -v 'vaultine/1 +500 1 plain' " + noted)
                       .c_str()),
            0);
  result = Run({"encrypt", "-c", "-k", key_path, noted});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            said(noted, "carries a note user.vaultine that is no record of this version's; left as it is; nothing was "
                        "written"));
  // The layer forced past the out-of-date record taken off: what is beneath
  // was never known, so no record stays, and the user is told.
  EXPECT_EQ(Run({"decrypt", "-o", "5", "-k", key_path, path_a}).err,
            said(path_a, "decrypted; what it held before its record went out of date is not known: it may be "
                         "encrypted still"));
  EXPECT_EQ(ReadBytes(path_a), a);
  EXPECT_NE(system(("getfattr -n user.vaultine " + path_a + " >/dev/null 2>&1").c_str()), 0);

  // Deciphered past plain when forced, and enciphered back: plain again, as
  // its record says.
  const Bytes c = RandomBytes(300, 13);
  const std::string path_c = WriteFile("c.txt", c);
  ASSERT_EQ(Run({"encrypt", "-k", key_path, path_c}).status, 0);
  ASSERT_EQ(Run({"decrypt", "-k", key_path, path_c}).status, 0);
  ASSERT_EQ(Run({"decrypt", "-f", "-k", key_path, path_c}).status, 0);
  EXPECT_EQ(Run({"encrypt", "-k", other_key, path_c}).err,
            said(path_c, "was decrypted with another key file or offset; left as it is"));
  ASSERT_EQ(Run({"encrypt", "-k", key_path, path_c}).status, 0);
  EXPECT_EQ(ReadBytes(path_c), c);
  EXPECT_EQ(Run({"decrypt", "-k", key_path, path_c}).err,
            said(path_c, "not encrypted, as its record says; left as it is (-f decrypts it all the same)"));
  // Layer upon layer, each taken off again, however long the record grows.
  for (int i = 0; i < 20; ++i) ASSERT_EQ(Run({"encrypt", "-f", "-k", key_path, path_c}).err, "");
  EXPECT_EQ(Run({"decrypt", "-v", "-k", key_path, path_c}).err,
            said(path_c, "decrypted; its record says it is encrypted 19 more times"));
  for (int i = 1; i < 20; ++i) ASSERT_EQ(Run({"decrypt", "-k", key_path, path_c}).err, "");
  EXPECT_EQ(ReadBytes(path_c), c);

  // Keys told apart by any of the bytes the file uses, and only by those.
  const Bytes long_key = RandomBytes(3 << 20, 10);
  Bytes near_key = long_key;
  near_key[1500000] ^= 1;
  const std::string long_path = WriteFile("long.key", long_key);
  const std::string near_path = WriteFile("near.key", near_key);
  const std::string big = WriteFile("big.bin", RandomBytes(2 << 20, 11));
  ASSERT_EQ(Run({"encrypt", "-k", long_path, big}).status, 0);
  EXPECT_EQ(Run({"decrypt", "-k", near_path, big}).err,
            said(big, "was encrypted with another key file or offset; left as it is"));
  Bytes longer_key = ReadBytes(key_path);
  longer_key.resize(longer_key.size() + 10, 7);
  const std::string longer_path = WriteFile("longer.key", longer_key);
  const Bytes short_file = RandomBytes(50, 12);  // shorter than either key
  const std::string short_path = WriteFile("short.txt", short_file);
  ASSERT_EQ(Run({"encrypt", "-k", key_path, short_path}).status, 0);
  EXPECT_EQ(Run({"decrypt", "-k", longer_path, short_path}).err, "");
  EXPECT_EQ(ReadBytes(short_path), short_file);
}

TEST_F(CliTest, EachRefusalNamesTheFileAndTheReasonAndTheRestGoesOn) {
  const Bytes good = RandomBytes(10, 4);
  const std::string path_good = WriteFile("good.txt", good);
  const std::string locked = WriteFile("locked.txt", RandomBytes(10, 5));
  const std::string held = WriteFile("held.txt", RandomBytes(10, 6));
  ASSERT_TRUE(MakeDirectory(dir.File("folder")));
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
  HeldOpen writer(held, HeldOpen::kWriting);
  struct Case {
    std::string file;
    std::string says;
  };
  const std::vector<Case> cases = {
      {dir.File("missing.txt"), "No such file or directory"},
      {dir.File("folder"), "Is a directory"},
      {dir.File("fifo"), "not a regular file"},
      {held, "another program has it open for writing; try again once it is done"},
      {locked, "not replaced: it is read-only; the encrypted result is in " + WorkingPath(locked)},
  };
  std::vector<std::string> args = {"encrypt", "-k", key_path};
  std::string expected;
  for (const Case& c : cases) {
    args.push_back(c.file);
    expected += "vaultine: " + c.file + ": " + c.says + "\n";
  }
  args.push_back(path_good);
  const Result result = Run(args);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, expected);
  EXPECT_EQ(ReadBytes(path_good), Expected(good, key, 0, TransformDirection::kEncrypt));

  // What a decrypt leaves is plain text, and the key's own faults name the key.
  unlink(WorkingPath(locked).c_str());
  EXPECT_EQ(Run({"decrypt", "-k", key_path, locked}).err,
            "vaultine: " + locked + ": not replaced: it is read-only; the decrypted result (plain text) is in " +
                WorkingPath(locked) + "\n");
  EXPECT_EQ(Run({"encrypt", "-k", dir.File("none"), path_good}).err,
            "vaultine: " + dir.File("none") + ": No such file or directory\n");
  chmod(locked.c_str(), 0644);
  if (geteuid() == 0) {
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(path_good.c_str(), 0600), 0);  // root's, for nobody else
    EXPECT_EQ(Run({"encrypt", "-k", key_path, path_good}, ::Start::As(kOtherUser)).err,
              "vaultine: " + path_good + ": Permission denied\n");
  }
}

TEST_F(CliTest, UsageErrorsSayWhatIsWrongBeforeAnythingIsTouched) {
  const std::string a = WriteFile("a.txt", {1});
  WriteFile("-kevil.key", {9});
  struct Case {
    std::vector<std::string> args;
    std::string says;  // the first line
  };
  const std::vector<Case> cases = {
      {{}, "vaultine: say encrypt, decrypt or keygen"},
      {{"encipher", "-k", key_path, a}, "vaultine: unknown command 'encipher'; say encrypt, decrypt or keygen"},
      {{"encrypt", a}, "vaultine: a key file is required (-k KEYFILE)"},
      {{"encrypt", "-k", key_path}, "vaultine: no FILE to encrypt"},
      {{"encrypt", "-k", key_path, a, "-"}, "vaultine: - is standard input, which cannot be transformed in place: -c "
                                            "writes it to standard output (a file named - is ./-)"},
      {{"decrypt", "-k", key_path, "--frobnicate", a}, "vaultine: unrecognized option '--frobnicate'"},
      {{"encrypt", "-x", "-k", key_path, a}, "vaultine: invalid option -- 'x'"},
      {{"encrypt", "-k"}, "vaultine: option requires an argument -- 'k'"},
      // A file named like an option cannot choose the key, nor give a second offset.
      {{"encrypt", "-k", key_path, "-kevil.key", a}, "vaultine: the key file is given twice (-k); if a file name "
                                                     "starts with '-', put -- before the files"},
      {{"encrypt", "-o", "1", "-k", key_path, "-o2", a}, "vaultine: the offset is given twice (-o); if a file "
                                                           "name starts with '-', put -- before the files"},
      // The option named is the argument that holds it, in a cluster or before its value.
      {{"encrypt", "-k", key_path, a, "-qf"}, "vaultine: the option '-qf' comes after the files; options go first, "
                                               "and a file named like an option after --"},
      {{"encrypt", "-k", key_path, a, "-o", "5"}, "vaultine: the option '-o' comes after the files; options go "
                                                   "first, and a file named like an option after --"},
      // A name quoted in a usage error forges no line.
      {{"encrypt", "-k", key_path, "--x\nvaultine: a.txt: encrypted"},
       "vaultine: unrecognized option '--x\\x0avaultine: a.txt: encrypted'"},
      {{"encrypt\x1b[2J", "-k", key_path, a}, "vaultine: unknown command 'encrypt\\x1b[2J'; say encrypt, decrypt or keygen"},
  };
  for (const Case& c : cases) {
    const Result result = Run(c.args);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_EQ(result.err.substr(0, result.err.find('\n')), c.says);
    EXPECT_NE(result.err.find("Try 'vaultine --help'"), std::string::npos) << result.err;
  }
  // An offset that can never be valid is found before the key is made read-only.
  for (const char* offset : {"300", "256", "-1", "12abc", "", "99999999999"}) {
    const Result result = Run({"encrypt", "--key-read-only", "-k", key_path, "-o", offset, a});
    EXPECT_EQ(result.status, 2) << offset;
    EXPECT_EQ(result.err.substr(0, result.err.find('\n')),
              "vaultine: invalid offset '" + std::string(offset) + "': a whole number from 0 to 255");
  }
  // Leading zeros make no other number.
  for (const std::string offset : {"0", "255", "007", "0007", "000000000000000000000255"}) {
    const Result result = Run({"encrypt", "-c", "-k", key_path, "-o", offset, a});
    EXPECT_EQ(result.status, 0) << offset << ": " << result.err;
    EXPECT_EQ(Bytes(result.out.begin(), result.out.end()),
              Expected({1}, key, static_cast<std::uint8_t>(std::stoi(offset)), TransformDirection::kEncrypt))
        << offset;
  }
  EXPECT_FALSE(os::IsReadOnly(key_path));
  EXPECT_EQ(ReadBytes(a), Bytes{1});
  // A file named like an option among the files sets nothing; after --, it
  // is a file, whatever POSIXLY_CORRECT says.
  WriteFile("-o77", {8});
  ::Start posix;
  posix.environment = {"POSIXLY_CORRECT=1"};
  posix.folder = dir.path();
  const Result planted = Run({"encrypt", "-k", key_path, "a.txt", "-o77"}, posix);
  EXPECT_EQ(planted.status, 2);
  EXPECT_EQ(planted.err.substr(0, planted.err.find('\n')),
            "vaultine: the option '-o77' comes after the files; options go first, and a file named like an option "
            "after --");
  EXPECT_EQ(Run({"encrypt", "-k", key_path, "-o", "3", "--", "a.txt", "-kevil.key"}, posix).status, 0);
  EXPECT_EQ(ReadBytes(a), Expected({1}, key, 3, TransformDirection::kEncrypt));
  EXPECT_EQ(ReadBytes(dir.File("-kevil.key")), Expected({9}, key, 3, TransformDirection::kEncrypt));
}

TEST_F(CliTest, HelpAndVersion) {
  Result result = Run({"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("--key-read-only"), std::string::npos);
  result = Run({"encrypt", "-h"});
  EXPECT_EQ(result.status, 0);
  const std::string version = Run({"--version"}).out;
  EXPECT_EQ(version.substr(0, version.find('\n')), "vaultine " VAULTINE_DISPLAY_VERSION);
  EXPECT_NE(version.find("License MIT"), std::string::npos);
  EXPECT_EQ(Run({"-V"}).out, version);
  // Into a full or a closed output: a failure, and said.
  result = Run({"--help"}, ::Start::StdoutTo("/dev/full"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "vaultine: standard output: No space left on device\n");
  result = Run({"--version"}, ::Start::StdoutTo("-"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "vaultine: standard output: Bad file descriptor\n");
}

TEST_F(CliTest, KeyReadOnlyOptionMarksTheKeyFile) {
  const std::string a = WriteFile("a.txt", {1, 2});
  const Result result = Run({"encrypt", "--key-read-only", "-k", key_path, a});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(os::IsReadOnly(key_path));
  MakeWritable(key_path);
}

TEST_F(CliTest, TheFileUnderAnotherNameIsRefusedAsItsOwnKeyEvenWithForce) {
  const Bytes a = RandomBytes(10, 6);
  const std::string path_a = WriteFile("a.txt", a);
  ASSERT_EQ(symlink(path_a.c_str(), dir.File("symbolic").c_str()), 0);
  ASSERT_EQ(link(path_a.c_str(), dir.File("hard").c_str()), 0);
  for (const std::string& other : {dir.File("symbolic"), dir.File("hard"), dir.path() + "/./a.txt"}) {
    for (const char* force : {"-q", "-f"}) {
      const Result result = Run({"encrypt", force, "-k", other, path_a});
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, "vaultine: " + other + ": is " + path_a +
                                " itself under another name; a file enciphered with itself could never be recovered\n");
    }
  }
  EXPECT_EQ(ReadBytes(path_a), a);
}

TEST_F(CliTest, LinkIsFollowedToItsFileOnlyWithForce) {
  const Bytes a = RandomBytes(10, 7);
  const std::string path_a = WriteFile("a.txt", a);
  const std::string link = dir.File("link");
  ASSERT_EQ(symlink(path_a.c_str(), link.c_str()), 0);
  // Someone else's link must not choose which file is replaced.
  Result result = Run({"encrypt", "-k", key_path, link});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "vaultine: " + link + ": a symbolic link, which is not followed; name the file it leads to\n");
  EXPECT_EQ(ReadBytes(path_a), a);
  // Nor is standard input behind a link of /proc, with or without -f.
  ::Start from_a;
  from_a.stdin_from = path_a;
  for (const char* force : {"-q", "-f"}) {
    result = Run({"encrypt", force, "-k", key_path, "/dev/stdin"}, from_a);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vaultine: /dev/stdin: leads through /proc (/proc/self/fd/0), whose links name what "
                          "processes have open, not files by name; to read standard input, use -c\n");
  }
  EXPECT_EQ(ReadBytes(path_a), a);
  // Nor a link with a slash after it, one by way of /proc, or one that leads
  // nowhere; a folder is a folder, slash or not.
  ASSERT_TRUE(MakeDirectory(dir.File("folder")));
  ASSERT_EQ(symlink("folder", dir.File("folder-link").c_str()), 0);
  ASSERT_EQ(symlink("/proc/self/cwd/a.txt", dir.File("by-proc").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", dir.File("dangling").c_str()), 0);
  struct Case {
    std::string option;
    std::string file;
    std::string says;  // after "vaultine: "
  };
  const std::vector<Case> cases = {
      {"-r", dir.File("folder-link/"),
       dir.File("folder-link") + ": a symbolic link, which is not followed; name the file it leads to"},
      {"-f", dir.File("by-proc"), dir.File("by-proc") + ": leads through /proc (/proc/self/cwd/a.txt), whose links "
                                  "name what processes have open, not files by name; to read standard input, use -c"},
      {"-f", dir.File("dangling"), dir.File("dangling") + ": a symbolic link that leads nowhere (No such file or "
                                   "directory)"},
      {"-q", dir.File("folder/"), dir.File("folder/") + ": Is a directory"},
  };
  for (const Case& c : cases) {
    result = Run({"encrypt", c.option, "-k", key_path, c.file});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vaultine: " + c.says + "\n");
  }
  EXPECT_EQ(ReadBytes(path_a), a);
  result = Run({"encrypt", "-f", "-k", key_path, link});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(path_a), Expected(a, key, 0, TransformDirection::kEncrypt));
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
  const Result result = Run({"encrypt", "-k", key_path, "../docs/a.txt"}, ::Start::From(dir.File("elsewhere")));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(path_a), Expected(a, key, 0, TransformDirection::kEncrypt));
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
    std::string why;
  };
  for (const Case& c : {Case{"a.txt", 04644, false, "you may not write it (Permission denied)"},
                        Case{"b.txt", 0640, true, "its owner and group could not be kept for the result"},
                        Case{"d.txt", 0604, false, "you may not write it (Permission denied)"}}) {
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
    const Result result = Run({"encrypt", "-k", key_path, path}, ::Start::As(kOtherUser));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vaultine: " + path + ": not replaced: " + c.why + "; the encrypted result is in " +
                              WorkingPath(path) + "\n");
    EXPECT_EQ(ReadBytes(path), data);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode, before.st_mode);
    // Her result stays beside it, open to nobody the file was not: not to
    // her group, which is not the file's, nor to the file's group, which
    // counts among the others now.
    const std::string working = WorkingPath(path);
    EXPECT_EQ(ReadBytes(working), Expected(data, key, 0, TransformDirection::kEncrypt));
    ASSERT_EQ(stat(working.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, (before.st_mode & 0700) | (before.st_mode & (before.st_mode >> 3) & 07));
  }
  // Hers, but her own write bit is off: the group's does not let her in.
  const std::string closed_to_her = WriteFile("e.txt", RandomBytes(100, 12));
  ASSERT_EQ(chown(closed_to_her.c_str(), kOtherUser, kOtherUser), 0);
  ASSERT_EQ(chmod(closed_to_her.c_str(), 0464), 0);
  EXPECT_EQ(Run({"encrypt", "-k", key_path, closed_to_her}, ::Start::As(kOtherUser)).err,
            "vaultine: " + closed_to_her + ": not replaced: you may not write it (Permission denied); the encrypted "
            "result is in " + WorkingPath(closed_to_her) + "\n");
  // Root keeps another user's file hers, with its setgid bit.
  const std::string hers = WriteFile("c.txt", RandomBytes(100, 11));
  ASSERT_EQ(chown(hers.c_str(), kOtherUser, kOtherUser), 0);
  ASSERT_EQ(chmod(hers.c_str(), 02640), 0);
  ASSERT_EQ(Run({"encrypt", "-k", key_path, hers}).status, 0);
  struct stat st;
  ASSERT_EQ(stat(hers.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kOtherUser);
  EXPECT_EQ(st.st_gid, kOtherUser);
  EXPECT_EQ(st.st_mode & 07777, 02640u);
}

TEST_F(CliTest, FilesWithOtherNamesAreTransformedOnceOrNotAtAll) {
  const Bytes a = RandomBytes(10, 13);
  const Bytes b = RandomBytes(10, 14);
  const std::string path_a = WriteFile("a.txt", a);
  const std::string path_b = WriteFile("b.txt", b);
  ASSERT_EQ(link(path_a.c_str(), dir.File("a-link.txt").c_str()), 0);
  ASSERT_EQ(symlink("b.txt", dir.File("b-sym.txt").c_str()), 0);

  // Named twice, and through a link that -f follows (and names it by): done once.
  Result result = Run({"encrypt", "-f", "-k", key_path, path_b, path_b, dir.File("b-sym.txt")});
  EXPECT_EQ(result.status, 0);
  const std::string again = "vaultine: " + path_b + ": the same file as " + path_b +
                            ", which this call has already encrypted; left as it is\n";
  EXPECT_EQ(result.err, again + again);
  EXPECT_EQ(ReadBytes(path_b), Expected(b, key, 0, TransformDirection::kEncrypt));
  // Its other hard links would keep the old bytes.
  result = Run({"encrypt", "-k", key_path, path_a});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "vaultine: " + path_a +
                            ": has 1 other link, whose names would keep the old bytes; left as it is (-f transforms "
                            "it all the same)\n");
  EXPECT_EQ(ReadBytes(path_a), a);

  result = Run({"encrypt", "-f", "-k", key_path, path_a});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(path_a), Expected(a, key, 0, TransformDirection::kEncrypt));
  EXPECT_EQ(ReadBytes(dir.File("a-link.txt")), a);

  // Named twice, and refused the first time: so it stays.
  const std::string locked = WriteFile("locked.txt", b);
  ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
  const std::string dotted = dir.path() + "/./locked.txt";
  result = Run({"encrypt", "-k", key_path, locked, dotted});
  EXPECT_EQ(result.status, 1);
  // Either name may reach the file first; the other is told why it was left.
  const auto refused = [&](const std::string& name) {
    return "vaultine: " + name + ": not replaced: it is read-only; the encrypted result is in " + WorkingPath(name) +
           "\n";
  };
  const auto same = [&](const std::string& name, const std::string& first) {
    return "vaultine: " + name + ": the same file as " + first + ", which this call has left as it is\n";
  };
  EXPECT_TRUE(result.err == refused(locked) + same(dotted, locked) || result.err == same(locked, dotted) + refused(dotted))
      << result.err;
  EXPECT_EQ(ReadBytes(locked), b);
  chmod(locked.c_str(), 0644);

  // A folder's links are no other names of a file.
  ASSERT_TRUE(MakeDirectory(dir.File("folder")));
  EXPECT_EQ(Run({"encrypt", "-k", key_path, dir.File("folder")}).err,
            "vaultine: " + dir.File("folder") + ": Is a directory\n");
}

TEST_F(CliTest, RecursiveTransformsTheRegularFilesOfATreeAndNothingElse) {
  const Bytes a = RandomBytes(10, 20);
  const Bytes b = RandomBytes(2000, 21);
  const Bytes leftover = RandomBytes(10, 22);
  const Bytes outside = RandomBytes(10, 23);
  ASSERT_TRUE(MakeDirectory(dir.File("tree")) && MakeDirectory(dir.File("tree/sub")));
  const std::string top = dir.File("tree");
  WriteFile("tree/a.txt", a);
  WriteFile("tree/sub/b.txt", b);
  WriteFile(std::string("tree/sub/c.") + os::WorkingSuffix(), leftover);
  WriteFile("outside.txt", outside);
  WriteFile("tree/key.bin", key);
  ASSERT_EQ(symlink("../outside.txt", dir.File("tree/link").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.File("tree/fifo").c_str(), 0600), 0);
  const Result result = Run({"encrypt", "-r", "-k", dir.File("tree/key.bin"), top});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "vaultine: " + top + "/fifo: skipped: not a regular file\n"
                        "vaultine: " + top + "/key.bin: skipped: it is the key file\n"
                        "vaultine: " + top + "/link: skipped: a symbolic link, which -r does not follow\n"
                        "vaultine: " + top + "/sub/c." + os::WorkingSuffix() +
                            ": skipped: a working file, left by an earlier run\n");
  EXPECT_EQ(ReadBytes(dir.File("tree/a.txt")), Expected(a, key, 0, TransformDirection::kEncrypt));
  EXPECT_EQ(ReadBytes(dir.File("tree/sub/b.txt")), Expected(b, key, 0, TransformDirection::kEncrypt));
  EXPECT_EQ(ReadBytes(dir.File(std::string("tree/sub/c.") + os::WorkingSuffix())), leftover);
  EXPECT_EQ(ReadBytes(dir.File("outside.txt")), outside);
  EXPECT_EQ(ReadBytes(dir.File("tree/key.bin")), key);
  // A key named from the current folder is opened there, once, before the
  // walk: never one of the same name in a folder the walk enters.
  WriteFile("tree/sub/k.bin", {3});
  const Bytes sub_b = ReadBytes(dir.File("tree/sub/b.txt"));
  const Result no_key = Run({"encrypt", "-r", "-k", "k.bin", "tree"}, ::Start::From(dir.path()));
  EXPECT_EQ(no_key.status, 1);
  EXPECT_EQ(no_key.err, "vaultine: k.bin: No such file or directory\n");
  EXPECT_EQ(ReadBytes(dir.File("tree/sub/b.txt")), sub_b);
  unlink(dir.File("tree/sub/k.bin").c_str());
  // A folder that cannot be entered is named, not passed over.
  if (geteuid() == 0) {
    ASSERT_EQ(system(("chown -R 65534:65534 " + top + " && chmod 0644 " + top + "/sub").c_str()), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const Result shut = Run({"encrypt", "-r", "-k", key_path, top}, ::Start::As(kOtherUser));
    EXPECT_EQ(shut.status, 1);
    EXPECT_NE(shut.err.find("vaultine: " + top + "/sub: Permission denied\n"), std::string::npos) << shut.err;
    ASSERT_EQ(chmod((top + "/sub").c_str(), 0755), 0);
  }
  // A failure deep in the tree is named from the root the user gave.
  ASSERT_EQ(chmod(dir.File("tree/sub/b.txt").c_str(), 0444), 0);
  const std::string err = Run({"decrypt", "-r", "-k", key_path, "tree"}, ::Start::From(dir.path())).err;
  EXPECT_NE(err.find("\nvaultine: tree/sub/b.txt: not replaced: it is read-only; the decrypted result (plain text) "
                     "is in tree/sub/b." + os::WorkingSuffix() + "\n"),
            std::string::npos) << err;
}

TEST_F(CliTest, StdoutTakesAFileOrStandardInputAndChangesNoFile) {
  const Bytes a = RandomBytes(3000, 24);
  const std::string path_a = WriteFile("a.txt", a);
  const Bytes enciphered = Expected(a, key, 9, TransformDirection::kEncrypt);
  Result result = Run({"encrypt", "-c", "-o", "9", "-k", key_path, path_a});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(Bytes(result.out.begin(), result.out.end()), enciphered);
  EXPECT_EQ(ReadBytes(path_a), a);
  EXPECT_FALSE(FileExists(WorkingPath(path_a)));
  const std::string stream = WriteFile("stream", enciphered);
  ::Start from_stdin;
  from_stdin.stdin_from = stream;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"decrypt", "-c", "-o", "9", "-k", key_path},
                                               std::vector<std::string>{"decrypt", "-ck", key_path, "-o9", "-"}}) {
    result = Run(args, from_stdin);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Bytes(result.out.begin(), result.out.end()), a);
  }
  // Never the key as the input, nor the input or the key as the output.
  ::Start key_as_input;
  key_as_input.stdin_from = key_path;
  EXPECT_EQ(Run({"encrypt", "-c", "-k", key_path}, key_as_input).err,
            "vaultine: " + key_path + ": is standard input itself under another name; a file enciphered with itself "
            "could never be recovered\n");
  for (const std::string& output : {path_a, key_path}) {
    result = Run({"encrypt", "-c", "-k", key_path, path_a}, ::Start::StdoutTo(output));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("vaultine: standard output is the "), std::string::npos) << result.err;
  }
  EXPECT_EQ(ReadBytes(path_a), a);
  EXPECT_EQ(ReadBytes(key_path), key);
  // What failed is named as the user knows it, and nothing is said to be
  // unchanged that was never a file of the command's.
  EXPECT_EQ(Run({"encrypt", "-c", "-k", key_path, path_a}, ::Start::StdoutTo("/dev/full")).err,
            "vaultine: standard output: No space left on device; nothing was written\n");
  ::Start folder_as_input;
  folder_as_input.stdin_from = dir.path();
  EXPECT_EQ(Run({"encrypt", "-c", "-k", key_path}, folder_as_input).err,
            "vaultine: standard input: read error: Is a directory; nothing was written\n");
  result = Run({"encrypt", "-c", "-k", key_path, path_a, path_a});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err.substr(0, result.err.find('\n')),
            "vaultine: -c takes one FILE at most: the key starts again at each file, so their output could not be "
            "deciphered as one");
  // Enciphered bytes go to a terminal only when asked for.
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) return;
  const ::Start to_terminal = ::Start::StdoutTo(ptsname(terminal));
  result = Run({"encrypt", "-c", "-k", key_path, path_a}, to_terminal);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "vaultine: standard output is a terminal; the transformed bytes are not written there (-f "
                        "writes them all the same)\n");
  EXPECT_EQ(Run({"encrypt", "-c", "-f", "-k", key_path, path_a}, to_terminal).status, 0);
  close(terminal);
}

TEST_F(CliTest, OnADiskThatFoldsCaseEverySpellingIsOneFile) {
  ExfatDisk stick(dir.File("stick"));
  if (!stick.ok()) GTEST_SKIP() << stick.why_not();
  const std::string file = dir.File("stick/\xc3\xa9.txt");          // é.txt
  // FUSE keeps what it last learnt of each spelling for a while, however
  // the file changes meanwhile: É.TXT is known from the first run when the
  // second starts.
  const std::string shouted = dir.File("stick/\xc3\x89.TXT");       // É.TXT
  const std::string key_as_working = dir.File("stick/\xc3\x89.1\xc3\x8a" "9");  // É.1Ê9
  const Bytes plain = RandomBytes(100, 30);
  WriteBytes(file, plain);
  Result result = Run({"encrypt", "-k", shouted, file});
  EXPECT_EQ(result.err, "vaultine: " + shouted + ": is " + file +
                            " itself under another name; a file enciphered with itself could never be recovered\n");
  // Said once per command: such a disk keeps no records.
  const std::string no_records = ": its disk keeps no record of what is done to its files (Operation not "
                                 "supported): mind not to transform them twice\n";
  result = Run({"encrypt", "-k", key_path, file, shouted});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "vaultine: " + file + no_records + "vaultine: " + shouted + ": the same file as " + file +
                            ", which this call has already encrypted; left as it is\n");
  EXPECT_EQ(ReadBytes(file), Expected(plain, key, 0, TransformDirection::kEncrypt));
  // A key at the working path under another spelling is no leftover to remove.
  WriteBytes(key_as_working, key);
  EXPECT_EQ(Run({"decrypt", "-k", key_as_working, file}).err,
            "vaultine: " + file + no_records + "vaultine: " + key_as_working + ": its working file would be " +
                WorkingPath(file) +
                ", which is this file or the key file; rename that file, then try again\n");
  // Such a disk cannot keep a key to its owner, nor a key read-only.
  EXPECT_EQ(Run({"encrypt", "--key-read-only", "-k", key_as_working, key_path}).err,
            "vaultine: " + key_as_working + ": cannot make it read-only: Operation not permitted\n");
  result = Run({"keygen", "-n", "1K", dir.File("stick/new.key")});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("cannot keep a file private to its owner"), std::string::npos) << result.err;
  EXPECT_FALSE(FileExists(dir.File("stick/new.key")));
}

TEST_F(CliTest, OnAFuseLayerThatFoldsNothingEveryNameIsAFileOfItsOwn) {
  // bindfs shows a folder again through FUSE, with numbers of its own, and
  // folds no names, as sshfs and many others do not.
  ASSERT_TRUE(MakeDirectory(dir.File("src")) && MakeDirectory(dir.File("mnt")));
  if (system(("bindfs " + dir.File("src") + " " + dir.File("mnt") + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "needs bindfs (Debian package bindfs), /dev/fuse and root";
  }
  const Bytes lower = RandomBytes(100, 40);
  const Bytes upper = RandomBytes(100, 41);
  WriteFile("src/a.txt", lower);
  WriteFile("src/A.TXT", upper);
  Result result = Run({"encrypt", "-k", key_path, dir.File("mnt/a.txt"), dir.File("mnt/A.TXT")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadBytes(dir.File("src/a.txt")), Expected(lower, key, 0, TransformDirection::kEncrypt));
  EXPECT_EQ(ReadBytes(dir.File("src/A.TXT")), Expected(upper, key, 0, TransformDirection::kEncrypt));
  // The file itself, through the layer, as its own key: refused.
  result = Run({"encrypt", "-k", dir.File("mnt/a.txt"), dir.File("src/a.txt")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "vaultine: " + dir.File("mnt/a.txt") + ": is " + dir.File("src/a.txt") +
                            " itself under another name; a file enciphered with itself could never be recovered\n");
  EXPECT_EQ(ReadBytes(dir.File("src/a.txt")), Expected(lower, key, 0, TransformDirection::kEncrypt));
  EXPECT_EQ(system(("fusermount -u " + dir.File("mnt")).c_str()), 0);
}

TEST_F(CliTest, ControlCharactersInNamesAreShownEscapedOnATerminalOrElsewhere) {
  // An escape sequence, a forged line, a carriage return and a C1 control
  // (the 8-bit escape, in UTF-8), around a name a terminal may show as it is.
  const std::string missing = dir.File("r\xc3\xa9" "d\x1b[31m\nvaultine: fake\r\xc2\x9b.txt");
  const std::string escaped = "r\xc3\xa9" "d\\x1b[31m\\x0avaultine: fake\\x0d\\xc2\\x9b.txt: No such";
  // A log file read later on a terminal.
  EXPECT_EQ(Run({"encrypt", "-k", key_path, missing}).err,
            "vaultine: " + dir.path() + "/" + escaped + " file or directory\n");
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
    GTEST_SKIP() << "no pseudo-terminals here (is /dev/pts mounted?)";
  }
  ::Start how;
  how.stderr_to = ptsname(terminal);
  how.environment = {"TERM=dumb"};  // which cannot take the progress line
  const std::string big = WriteFile("big", RandomBytes(2 << 20, 25));
  EXPECT_EQ(Run({"encrypt", "-k", key_path, big, missing}, how).status, 1);
  std::string shown;
  char buffer[512];
  for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0 && shown.find('\n') == std::string::npos;) {
    shown.append(buffer, static_cast<std::size_t>(got));
  }
  close(terminal);
  EXPECT_NE(shown.find(escaped), std::string::npos) << shown;
  EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
}

// Waits until the command has started on the file it writes: a working file
// or a new key.
void AwaitWorkingFile(const std::string& working) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!FileExists(working) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ASSERT_TRUE(FileExists(working)) << "the command never started";
}

TEST_F(CliTest, KeygenWritesNewOwnerOnlyKeysOfRandomBytes) {
  const mode_t old_umask = umask(0);
  const std::string a = WriteFile("a.txt", RandomBytes(3000, 15));
  WriteFile("b.txt", RandomBytes(10, 16));
  EXPECT_EQ(Run({"keygen", "-n", "1K", dir.File("k1")}).status, 0);
  umask(0277);  // whatever the umask, the owner may read and write the key
  EXPECT_EQ(Run({"keygen", "--size", "1k", dir.File("k2")}).status, 0);
  EXPECT_EQ(Run({"keygen", "--for", a, dir.File("b.txt"), dir.File("k3")}).status, 0);
  umask(old_umask);
  const Bytes k1 = ReadBytes(dir.File("k1"));
  EXPECT_EQ(k1.size(), 1024u);
  EXPECT_NE(k1, ReadBytes(dir.File("k2")));
  EXPECT_EQ(ReadBytes(dir.File("k3")).size(), 3000u);
  for (const char* name : {"k1", "k2"}) {
    struct stat st;
    ASSERT_EQ(stat(dir.File(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }

  // Never over an existing file; sizes that are none are usage errors.
  const Result existing = Run({"keygen", "-n", "1K", dir.File("k1")});
  EXPECT_EQ(existing.status, 1);
  EXPECT_EQ(existing.err, "vaultine: " + dir.File("k1") + ": already exists; a key is only ever written to a new file\n");
  EXPECT_EQ(ReadBytes(dir.File("k1")), k1);
  for (const char* size : {"0", "12Q", "K", "-1", "99999999999G", ""}) {
    EXPECT_EQ(Run({"keygen", "-n", size, dir.File("k4")}).status, 2) << size;
  }
  EXPECT_FALSE(FileExists(dir.File("k4")));

  // A failed write, a directory to size for, and a disk too small keep nothing.
  const Result limited = Run({"keygen", "-n", "1M", dir.File("k5")}, ::Start::FileSizeLimit(64 << 10));
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(limited.err, "vaultine: " + dir.File("k5") + ": could not write it (File too large); nothing was kept\n");
  EXPECT_FALSE(FileExists(dir.File("k5")));
  const Result folder = Run({"keygen", "--for", dir.path(), dir.File("k5")});
  EXPECT_EQ(folder.err, "vaultine: " + dir.path() + ": not a file of data to make a key for\n");

  // Another program puts its own file at the key's path meanwhile: the stop
  // that follows removes only what keygen wrote.
  const pid_t child = Start({"keygen", "-n", "1G", dir.File("k6")});
  AwaitWorkingFile(dir.File("k6"));
  const std::string theirs = WriteFile("theirs", {1, 2, 3});
  ASSERT_EQ(rename(theirs.c_str(), dir.File("k6").c_str()), 0);
  kill(child, SIGINT);
  EXPECT_EQ(Finish(child).status, 1000 + SIGINT);
  EXPECT_EQ(ReadBytes(dir.File("k6")), (Bytes{1, 2, 3}));
  MountedDir small(dir.File("small"), "size=64k");
  if (!small.ok()) return;  // the small disk needs a mount; the rest is done
  const Result full = Run({"keygen", "-n", "1M", dir.File("small/key")});
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err.rfind("vaultine: " + dir.File("small/key") + ": it would not fit: 1048576 bytes, and the disk has ", 0),
            0u) << full.err;
  EXPECT_FALSE(FileExists(dir.File("small/key")));
}

TEST_F(CliTest, ProgressIsOneLineOnATerminalForOneFileOrForTheWholeJob) {
  const std::string a = WriteFile("a.txt", RandomBytes(1000, 8));
  const Result result = Run({"encrypt", "-k", key_path, a});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");  // no terminal, no progress
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
    GTEST_SKIP() << "no pseudo-terminals here (is /dev/pts mounted?)";
  }
  ::Start how;
  how.stderr_to = ptsname(terminal);
  how.environment = {"TERM=xterm"};
  MakeSparseFile(dir.File("big.dat"), 1LL << 30);  // long enough to be shown
  // A name longer than the terminal is wide is cut, or it would wrap.
  const winsize narrow = {5, 40, 0, 0};
  ASSERT_EQ(ioctl(terminal, TIOCSWINSZ, &narrow), 0);
  const std::string wide = std::string(60, 'w') + ".dat";
  MakeSparseFile(dir.File(wide), 1LL << 30);
  struct Case {
    std::vector<std::string> files;
    std::string shows;
  };
  for (const Case& c : {Case{{dir.File("big.dat")}, "\rbig.dat 1%\x1b[K"},
                        Case{{dir.File("big.dat"), a}, " of 2 files, "},
                        Case{{dir.File(wide)}, "\r" + std::string(39, 'w') + "\x1b[K"}}) {
    std::vector<std::string> args = {"decrypt", "-k", key_path};
    args.insert(args.end(), c.files.begin(), c.files.end());
    EXPECT_EQ(Run(args, how).status, 0);
    std::string shown;
    char buffer[4096];
    for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;) {
      shown.append(buffer, static_cast<std::size_t>(got));
      if (shown.find(c.shows) != std::string::npos || shown.size() > (1 << 20)) break;
    }
    EXPECT_NE(shown.find(c.shows), std::string::npos) << shown;
  }
  close(terminal);
}

TEST_F(CliTest, StopSignalsCleanUpThenEndTheCommandByTheSignal) {
  const std::string big = dir.File("big.dat");
  const std::int64_t length = 1LL << 30;
  MakeSparseFile(big, length);  // zeros throughout
  const std::string working = WorkingPath(big);
  // Ctrl-C, Ctrl-\ with -q, Ctrl-C where the reader of stderr is gone too,
  // a hang-up that nohup told the command to ignore, and Ctrl-C with -f.
  struct Case {
    int signal_number;
    bool quiet;
    bool stderr_unread;
    bool ignored;
    bool force = false;
  };
  for (const Case& c : {Case{SIGINT, false, false, false}, Case{SIGQUIT, true, false, false},
                        Case{SIGINT, false, true, false}, Case{SIGHUP, false, false, true},
                        Case{SIGINT, false, false, false, true}}) {
    SCOPED_TRACE(&c - &c + c.signal_number * 10 + c.quiet + 2 * c.stderr_unread + 4 * c.force);
    const Bytes a = RandomBytes(10, 2);
    unlink(dir.File("a.txt").c_str());  // a new file, with no record of the last case
    const std::string path_a = WriteFile("a.txt", a);
    ::Start how = ::Start::From(dir.path());
    how.stderr_unread = c.stderr_unread;
    how.ignore_hangup = c.ignored;
    how.allow_core = true;  // yet Ctrl-\ must leave none, with key bytes in it
    std::vector<std::string> args = {"encrypt", "-k", key_path, path_a, big};
    if (c.quiet) args.insert(args.begin() + 1, "-q");
    if (c.force) args.insert(args.begin() + 1, "-f");
    const pid_t child = Start(args, how);
    AwaitWorkingFile(working);
    // Files run side by side: a.txt is done before the stop, not in the
    // middle of being put in place.
    const Bytes done = Expected(a, key, 0, TransformDirection::kEncrypt);
    for (int i = 0; i < 300000 && (ReadBytes(path_a) != done || FileExists(WorkingPath(path_a))); ++i) usleep(100);
    ASSERT_EQ(ReadBytes(path_a), done) << "a.txt was never done";
    kill(child, c.signal_number);
    const Result result = Finish(child);
    EXPECT_FALSE(FileExists(working));
    EXPECT_EQ(ReadBytes(path_a), Expected(a, key, 0, TransformDirection::kEncrypt));

    os::InputFile check;
    ASSERT_TRUE(check.Open(big).ok());
    Bytes start(4096);
    ASSERT_EQ(check.Read(start.data(), start.size()), 4096);
    if (c.ignored) {
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(start, Expected(Repeat(0, 4096), key, 0, TransformDirection::kEncrypt));
      MakeSparseFile(big, length);
      continue;
    }
    EXPECT_EQ(result.status, 1000 + c.signal_number) << "not ended by the signal: " << result.err;
    EXPECT_FALSE(result.core_dumped);
    EXPECT_FALSE(FileExists(dir.File("core")));
    EXPECT_EQ(start, Repeat(0, 4096));
    if (c.stderr_unread) continue;
    EXPECT_NE(result.err.find("vaultine: " + big + ": stopped; the file is unchanged\n"), std::string::npos)
        << result.err;
    // The files done before the stop are named, unless -q.
    EXPECT_EQ(result.err.find("vaultine: " + path_a + ": encrypted\n") != std::string::npos, !c.quiet) << result.err;
    // How to finish: the same command again, but for -f, which would
    // encrypt the files done once more.
    EXPECT_EQ(result.err.find(c.force ? "are done: leave them out of the next run, as -f would transform them once more"
                                      : "to finish, run the same command again") != std::string::npos,
              !c.quiet)
        << result.err;
  }
}

TEST_F(CliTest, CtrlCStopsAShellLoopAroundTheCommand) {
  MakeSparseFile(dir.File("a.dat"), 1LL << 30);
  const Bytes b = RandomBytes(10, 3);
  WriteFile("b.txt", b);
  // As a terminal's Ctrl-C does: to the shell and the command together.
  const pid_t shell = fork();
  if (shell == 0) {
    setpgid(0, 0);
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    execl("/bin/bash", "bash", "-c", "for f in a.dat b.txt; do \"$0\" encrypt -q -k \"$1\" \"$f\"; done",
          VAULTINE_CLI, key_path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  setpgid(shell, shell);
  AwaitWorkingFile(dir.File("a.") + os::WorkingSuffix());
  kill(-shell, SIGINT);
  int status = 0;
  waitpid(shell, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_EQ(ReadBytes(dir.File("b.txt")), b) << "the loop went on after Ctrl-C";
}

TEST_F(CliTest, FileSizeLimitShowsAsAFailedWrite) {
  const Bytes a = RandomBytes(3 << 20, 12);
  const std::string path_a = WriteFile("a.txt", a);
  const Result result = Run({"encrypt", "-k", key_path, path_a}, ::Start::FileSizeLimit(1 << 20));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "vaultine: " + path_a + ": cannot write the working file " + WorkingPath(path_a) +
                            ": File too large; the file is unchanged\n");
  EXPECT_EQ(ReadBytes(path_a), a);
  EXPECT_FALSE(FileExists(WorkingPath(path_a)));
}

}  // namespace
