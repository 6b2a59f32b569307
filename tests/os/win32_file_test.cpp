// The Win32 side on the real API, under Wine: names as Windows spells them,
// share modes, attributes and access lists, the replacement and its moments.

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "cipher/input_checks.h"
#include "cipher/transform.h"
#include "text/path_split.h"
#include "text/utf16.h"
#include "os/file_system.h"
#include "os/system_calls.h"
#include "os/win32.h"
#include "tests/support/mounted_dir.h"
#include "tests/support/test_files.h"

namespace {

class Win32FileTest : public ::testing::Test {
 protected:
  void TearDown() override { os::TheWin32Seam() = os::Win32Seam(); }

  bool Encrypt(const std::string& data) {
    return CheckInputs(data, key, 0, false, notifier) &&
           TransformFile(data, key, 0, TransformDirection::kEncrypt, notifier);
  }

  ScratchDir dir;
  const std::string key = [this] {
    WriteBytes(dir.File("key.bin"), {5, 6, 7});
    return dir.File("key.bin");
  }();
  RecordingNotifier notifier;
};

// The Unix name of a file, where Wine runs the tests; empty elsewhere.
std::string UnixName(const std::string& path) {
  using UnixNameOf = char*(CDECL*)(LPCWSTR);
  const auto unix_name = reinterpret_cast<UnixNameOf>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  char* name = unix_name != nullptr ? unix_name(os::ExactPath(path).c_str()) : nullptr;
  if (name == nullptr) return "";
  const std::string unix_path = name;
  HeapFree(GetProcessHeap(), 0, name);
  return unix_path;
}

// Runs a Unix shell command, as Wine lets a Windows program run a Unix one,
// and gives what it wrote: how these tests make what no Windows call makes
// under Wine (a symbolic link) and read what none shows (a group's
// permissions). Wine gives no exit of a Unix program to wait for: the
// command's last step writes a file of its own, which is waited for.
std::string RunUnix(const ScratchDir& dir, const std::string& command) {
  static int runs = 0;
  const std::string output = dir.File("unix-" + std::to_string(++runs));
  const std::string done = output + ".done";
  std::wstring line = Utf16("/bin/sh -c \"(" + command + ") >'" + UnixName(output) + "' 2>&1; touch '" +
                            UnixName(dir.path()) + "/" + NamePart(done) + "'\"");
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot run " << command;
    return "";
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int tries = 0; tries < 200 && !FileExists(done); ++tries) Sleep(25);
  EXPECT_TRUE(FileExists(done)) << command;
  const Bytes bytes = ReadBytes(output);
  return std::string(bytes.begin(), bytes.end());
}

// The permission bits of a file as Unix sees them ("644").
std::string UnixMode(const ScratchDir& dir, const std::string& path) {
  std::string mode = RunUnix(dir, "stat -c %a '" + UnixName(path) + "'");
  while (!mode.empty() && (mode.back() == '\n' || mode.back() == '\r')) mode.pop_back();
  return mode;
}

TEST_F(Win32FileTest, EveryNameIsTransformedExactlyAndNoOtherFile) {
  // Each beside the file that best fit to the ANSI code page, or the trimming
  // of a trailing full stop or space, would take for it.
  ASSERT_TRUE(MakeDirectory(dir.File("K\xC4\x81rlis")) && MakeDirectory(dir.File("Karlis")));
  std::string deep = dir.path();
  while (deep.size() < 300) {
    deep += "\\" + std::string(40, 'd');
    ASSERT_TRUE(MakeDirectory(deep));
  }
  struct Case {
    std::string file;
    std::string other;
  };
  const std::vector<Case> cases = {
      {dir.File("\xC4\x81.txt"), dir.File("a.txt")},  // ā.txt
      {dir.File("K\xC4\x81rlis\\letter.txt"), dir.File("Karlis\\letter.txt")},
      {dir.File("\xE6\x97\xA5\xE6\x9C\xAC.txt"), dir.File("??.txt")},  // 日本.txt
      {dir.File("trailing dot."), dir.File("trailing dot")},
      {dir.File("trailing space "), dir.File("trailing space")},
      {deep + "\\long.txt", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes plain = RandomBytes(500, 1);
    const Bytes others = RandomBytes(400, 2);
    WriteBytes(c.file, plain);
    if (!c.other.empty() && c.other.find('?') == std::string::npos) WriteBytes(c.other, others);
    ASSERT_TRUE(Encrypt(c.file)) << (notifier.reports.empty() ? "" : notifier.reports[0].path);
    EXPECT_EQ(ReadBytes(c.file), Expected(plain, {5, 6, 7}, 0, TransformDirection::kEncrypt));
    if (!c.other.empty() && c.other.find('?') == std::string::npos) {
      EXPECT_EQ(ReadBytes(c.other), others);
    }
    EXPECT_FALSE(FileExists(WorkingPath(c.file)));
  }
  EXPECT_EQ(notifier.progress.front(), "\xC4\x81.txt 1%");
}

TEST_F(Win32FileTest, ALinkToAnotherFileIsRefusedAndNoFileChanges) {
  if (UnixName(dir.path()).empty()) GTEST_SKIP() << "Unix links are made under Wine";
  // Under Wine a Unix link looks like the file it leads to; replacing it
  // would leave that file in plain text and the link a file of its own.
  // Beside it, the file reached through a linked folder, as through Wine's
  // own "Documents"; and both in a path beyond MAX_PATH characters, where
  // Wine resolves no final path.
  const std::string real_name =  // настоящий_本物.txt
      "\xD0\xBD\xD0\xB0\xD1\x81\xD1\x82\xD0\xBE\xD1\x8F\xD1\x89\xD0\xB8\xD0\xB9_\xE6\x9C\xAC\xE7\x89\xA9.txt";
  const std::string link_name =  // ссылка_リンク.txt
      "\xD1\x81\xD1\x81\xD1\x8B\xD0\xBB\xD0\xBA\xD0\xB0_\xE3\x83\xAA\xE3\x83\xB3\xE3\x82\xAF.txt";
  std::string deep = dir.File("folder");
  ASSERT_TRUE(MakeDirectory(deep));
  while (deep.size() < 300) {
    deep += "\\" + std::string(40, 'd');
    ASSERT_TRUE(MakeDirectory(deep));
  }
  std::string links;
  for (const std::string& folder : {dir.File("folder"), deep}) {
    WriteBytes(folder + "\\" + real_name, {1, 2, 3});
    const std::string unix_folder = UnixName(folder);
    links += "ln -s '" + real_name + "' '" + unix_folder + "/" + link_name + "'; ";
    links += "ln -s '" + unix_folder + "' '" + UnixName(dir.path()) + "/linked" + std::to_string(folder.size()) + "'; ";
  }
  RunUnix(dir, links);
  for (const std::string& folder : {dir.File("folder"), deep}) {
    SCOPED_TRACE(folder);
    const std::string real = folder + "\\" + real_name;
    const std::string link = folder + "\\" + link_name;
    ASSERT_EQ(ReadBytes(link), (Bytes{1, 2, 3}));
    notifier.reports.clear();
    EXPECT_FALSE(Encrypt(link));
    ExpectOnly(notifier, Event::kIsLink, link);
    EXPECT_EQ(ReadBytes(real), (Bytes{1, 2, 3}));
    EXPECT_FALSE(FileExists(WorkingPath(link)));
    EXPECT_EQ(RunUnix(dir, "test -L '" + UnixName(link) + "' && echo link"), "link\n");
    notifier.reports.clear();
    EXPECT_TRUE(Encrypt(dir.File("linked" + std::to_string(folder.size()) + "\\" + real_name)));
    EXPECT_EQ(ReadBytes(real), Expected({1, 2, 3}, {5, 6, 7}, 0, TransformDirection::kEncrypt));
  }
  // Wine resolves every name without its trailing full stops and spaces: a
  // link to a twin spelled with them, beside it or in a twin of its folder,
  // resolves to its own path. Files reached through a link to a folder so
  // spelled, or beside a twin of their own, are files all the same.
  struct Twin {
    std::string folder;   // in twins; d is a link to d.
    std::string name;
    std::string link_to;  // empty: a file
  };
  const std::vector<Twin> twins = {
      {"", "secret", "secret."},  {"", "spaced", "spaced "},     {"", "dotted.", "dotted"},
      {"d", "secret", "secret."}, {"e", "secret", "../e./secret"}, {"d", "plain", ""},
      {"e", "own", ""},
  };
  ASSERT_TRUE(MakeDirectory(dir.File("twins")) && MakeDirectory(dir.File("twins\\d.")) &&
              MakeDirectory(dir.File("twins\\e")) && MakeDirectory(dir.File("twins\\e.")));
  links = "cd '" + UnixName(dir.File("twins")) + "' && ln -s d. d; ";
  WriteBytes(dir.File("twins\\e.\\own"), {4});
  for (const Twin& twin : twins) {
    const std::string folder = dir.File("twins\\" + (twin.folder == "d" ? "d." : twin.folder) + "\\");
    WriteBytes(folder + (twin.link_to.empty() ? twin.name : twin.link_to), {1, 2, 3});
    if (!twin.link_to.empty()) links += "ln -s '" + twin.link_to + "' '" + UnixName(folder + twin.name) + "'; ";
  }
  RunUnix(dir, links);
  for (const Twin& twin : twins) {
    const std::string chosen = dir.File("twins\\" + twin.folder + "\\" + twin.name);
    SCOPED_TRACE(chosen);
    notifier.reports.clear();
    if (twin.link_to.empty()) {
      EXPECT_TRUE(Encrypt(chosen));
      EXPECT_EQ(ReadBytes(chosen), Expected({1, 2, 3}, {5, 6, 7}, 0, TransformDirection::kEncrypt));
      continue;
    }
    EXPECT_FALSE(Encrypt(chosen));
    ExpectOnly(notifier, Event::kIsLink, chosen);
    EXPECT_EQ(ReadBytes(chosen), (Bytes{1, 2, 3}));
    EXPECT_FALSE(FileExists(WorkingPath(chosen)));
  }
  EXPECT_EQ(ReadBytes(dir.File("twins\\e.\\own")), (Bytes{4}));
  // Links are no files to Windows, nor to be followed when the folder goes.
  RunUnix(dir, "find '" + UnixName(dir.path()) + "' -type l -delete");
}

// A small exFAT disk mounted through FUSE where the tests run under Wine as
// root, as ExfatDisk mounts one on Linux; unmounted when destroyed.
class ExfatDiskUnderWine {
 public:
  ExfatDiskUnderWine(const ScratchDir& dir, const std::string& path) : dir_(dir), path_(path) {
    if (UnixName(path).empty()) return;
    device_ = RunUnix(dir, ExfatMountCommand(UnixName(path) + ".img", UnixName(path)));
    while (!device_.empty() && (device_.back() == '\n' || device_.back() == '\r')) device_.pop_back();
    if (device_.compare(0, 5, "/dev/") != 0) device_.clear();
  }
  ~ExfatDiskUnderWine() {
    if (ok()) RunUnix(dir_, "umount '" + UnixName(path_) + "'; losetup -d '" + device_ + "'");
  }
  bool ok() const { return !device_.empty(); }

 private:
  const ScratchDir& dir_;
  std::string path_;
  std::string device_;
};

TEST_F(Win32FileTest, TheSameFileUnderEverySpellingIsRefusedAsItsOwnKey) {
  struct Spelling {
    std::string data;
    std::string key;
  };
  const std::string data = dir.File("\xC4\x81 long name.txt");  // ā long name.txt
  WriteBytes(data, {1, 2});
  std::string slashes = data;
  for (char& c : slashes) {
    if (c == '\\') c = '/';
  }
  std::vector<Spelling> spellings = {{data, dir.File("\xC4\x80 LONG NAME.TXT")}, {data, slashes}};  // Ā LONG NAME.TXT
  wchar_t short_name[MAX_PATH];
  const DWORD length = GetShortPathNameW(Utf16(data).c_str(), short_name, MAX_PATH);
  if (length > 0 && length < MAX_PATH) spellings.push_back({data, Utf8(short_name)});
  // Under Wine the Unix side's root is drive Z: too.
  std::string other_drive = UnixName(data);
  if (!other_drive.empty()) {
    for (char& c : other_drive) {
      if (c == '/') c = '\\';
    }
    spellings.push_back({data, "Z:" + other_drive});
  }
  // Under Wine an exFAT disk through FUSE numbers each spelling apart, also
  // one reached through a link to the disk's folder.
  ExfatDiskUnderWine stick(dir, dir.File("stick"));
  const std::string on_stick = dir.File("stick\\data.bin");
  if (stick.ok()) {
    WriteBytes(on_stick, {3, 4, 5});
    RunUnix(dir, "ln -s '" + UnixName(dir.File("stick")) + "' '" + UnixName(dir.path()) + "/link_to_stick'");
    spellings.push_back({on_stick, dir.File("link_to_stick\\Data.bin")});
    spellings.push_back({on_stick, dir.File("stick\\DATA.BIN")});
  } else {
    std::printf("(no exFAT disk here: needs Wine, root, loop devices, /dev/fuse, exfat-fuse and exfatprogs)\n");
  }
  for (const Spelling& spelling : spellings) {
    SCOPED_TRACE(spelling.key);
    notifier.reports.clear();
    EXPECT_FALSE(CheckInputs(spelling.data, spelling.key, 0, false, notifier));
    ExpectOnly(notifier, Event::kSameFile, spelling.key);
    if (spelling.data != on_stick) continue;
    // And the run itself, once both are open: Wine keeps no sharing between
    // two numbers.
    notifier.reports.clear();
    EXPECT_FALSE(TransformFile(spelling.data, spelling.key, 0, TransformDirection::kEncrypt, notifier));
    ExpectOnly(notifier, Event::kSameFile, spelling.key);
  }
  EXPECT_EQ(ReadBytes(data), (Bytes{1, 2}));
  if (!stick.ok()) return;
  EXPECT_EQ(ReadBytes(on_stick), (Bytes{3, 4, 5}));
  // Another file there is a key.
  WriteBytes(dir.File("stick\\key.bin"), {7, 7});
  notifier.reports.clear();
  EXPECT_TRUE(CheckInputs(on_stick, dir.File("stick\\key.bin"), 0, false, notifier));
}

TEST_F(Win32FileTest, AWorkingFileLeftByAnEarlierVersionIsInTheWay) {
  // Earlier versions named it through the ANSI code page.
  const std::string data = dir.File("report.txt");
  WriteBytes(data, {1});
  HANDLE leftover = CreateFileA((dir.path() + "\\report.1\xEA" "9").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(leftover, INVALID_HANDLE_VALUE);
  CloseHandle(leftover);
  EXPECT_FALSE(Encrypt(data));
  ExpectOnly(notifier, Event::kWorkingInTheWay, WorkingPath(data));
}

TEST_F(Win32FileTest, ReadOnlyKeepsTheOtherAttributes) {
  const std::string path = dir.File("marked.bin");
  WriteBytes(path, {1});
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(os::MakeReadOnly(path));
  const DWORD attributes = GetFileAttributesA(path.c_str());
  EXPECT_EQ(attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(os::IsReadOnly(path));
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  MakeWritable(path);
}

TEST_F(Win32FileTest, WorkingFileCannotBeWrittenOrRemovedByOthersDuringTheRun) {
  const std::string data = dir.File("data.txt");
  WriteBytes(data, RandomBytes(1000, 2));
  const std::wstring working = os::ExactPath(WorkingPath(data));
  int refused = 0;
  notifier.on_progress = [&](int percent) {
    if (percent != 51) return;
    HANDLE other = CreateFileW(working.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    refused += other == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    refused += !DeleteFileW(working.c_str()) && GetLastError() == ERROR_SHARING_VIOLATION;
  };
  EXPECT_TRUE(Encrypt(data));
  EXPECT_EQ(refused, 2);
}

TEST_F(Win32FileTest, ADataFileHeldOpenIsInUseUpFrontOrAtTheEndWithTheResultNamed) {
  // The system refuses to replace a file that another program holds open
  // without allowing its deletion: said before the run where it can be.
  const std::string data = dir.File("data.txt");
  const std::string working = WorkingPath(data);
  const Bytes plain = RandomBytes(500, 3);
  WriteBytes(data, plain);
  // A holder that shares reading, writing and deletion alike keeps the file
  // from being replaced all the same.
  HANDLE sharing = CreateFileW(os::ExactPath(data).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(sharing, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(TransformFile(data, key, 1, TransformDirection::kEncrypt, notifier));
  CloseHandle(sharing);
  ExpectOnly(notifier, Event::kInUse, data);
  EXPECT_FALSE(FileExists(working));
  notifier.reports.clear();
  {
    HeldOpen other(data);
    EXPECT_FALSE(TransformFile(data, key, 1, TransformDirection::kEncrypt, notifier));
    ExpectOnly(notifier, Event::kInUse, data);
    EXPECT_FALSE(FileExists(working));
    // Another run on the same file is writing its working file.
    WriteBytes(working, {});
    HeldOpen other_run(working, HeldOpen::kWriting);
    notifier.reports.clear();
    EXPECT_FALSE(TransformFile(data, key, 1, TransformDirection::kEncrypt, notifier));
    ExpectOnly(notifier, Event::kRunInProgress, working);
  }
  DeleteFileW(os::ExactPath(working).c_str());
  std::unique_ptr<HeldOpen> viewer;
  notifier.on_progress = [&](int percent) {
    if (percent == 51) viewer.reset(new HeldOpen(data));
  };
  notifier.reports.clear();
  EXPECT_FALSE(TransformFile(data, key, 1, TransformDirection::kEncrypt, notifier));
  viewer.reset();
  ExpectOnly(notifier, Event::kDataInUse, data);
  EXPECT_EQ(notifier.reports[0].working_path, working);
  EXPECT_EQ(ReadBytes(data), plain);
  EXPECT_EQ(ReadBytes(working), Expected(plain, {5, 6, 7}, 1, TransformDirection::kEncrypt));
}

// The moments between the working file's close and its move, which no file
// on disk shows afterwards.
DWORD move_flags = 0;
BOOL WINAPI WatchMove(LPCWSTR from, LPCWSTR to, DWORD flags) {
  move_flags = flags;
  return MoveFileExW(from, to, flags);
}

TEST_F(Win32FileTest, TheMoveGoesThroughToTheDiskAndOnlyWithTheWorkingFileAsFinished) {
  const std::string data = dir.File("data.txt");
  const Bytes plain = RandomBytes(500, 4);
  WriteBytes(data, plain);
  os::TheWin32Seam().move = WatchMove;
  ASSERT_TRUE(Encrypt(data));
  EXPECT_NE(move_flags & MOVEFILE_WRITE_THROUGH, 0u);

  // Another program writes the working file once the run has let it go.
  WriteBytes(data, plain);
  const std::string working = WorkingPath(data);
  bool written = false;
  os::TheWin32Seam().closed = [&](const std::string& path) {
    if (path == working && !written) AppendBytes(working, {9});
    written = true;
  };
  EXPECT_FALSE(Encrypt(data));
  ExpectOnly(notifier, Event::kWorkingChanged, working);
  EXPECT_EQ(ReadBytes(data), plain);
}

TEST_F(Win32FileTest, HiddenAndSystemAttributesGoWithTheFile) {
  const std::string data = dir.File("data.txt");
  WriteBytes(data, RandomBytes(100, 4));
  const DWORD marks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  ASSERT_TRUE(SetFileAttributesA(data.c_str(), marks));
  ASSERT_TRUE(Encrypt(data));
  EXPECT_EQ(GetFileAttributesA(data.c_str()) & marks, marks);
  MakeWritable(data);
}

// The access list of the file at path, as text.
std::wstring AccessList(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring text;
  if (GetNamedSecurityInfoW(os::ExactPath(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
    LPWSTR sddl = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                             &sddl, nullptr)) {
      text = sddl;
      LocalFree(sddl);
    }
    LocalFree(descriptor);
  }
  return text;
}

TEST_F(Win32FileTest, TheResultIsGuardedAsTheFileWasNotAsItsFolderWould) {
  // A file shut to everybody but its owner, in a folder whose new files
  // everybody may read.
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  BYTE buffer[256];
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
  CloseHandle(token);
  LPWSTR user = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user));
  PSECURITY_DESCRIPTOR owner_only = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW((L"D:P(A;;FA;;;" + std::wstring(user) + L")").c_str(),
                                                                   SDDL_REVISION_1, &owner_only, nullptr));
  LocalFree(user);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, owner_only, FALSE};
  const std::string data = dir.File("private.txt");
  HANDLE file = CreateFileW(os::ExactPath(data).c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "secret", 6, &written, nullptr));
  CloseHandle(file);
  LocalFree(owner_only);
  WriteBytes(dir.File("folder's.txt"), {1});
  const std::wstring before = AccessList(data);
  ASSERT_NE(before, AccessList(dir.File("folder's.txt")));
  ASSERT_TRUE(Encrypt(data));
  EXPECT_EQ(AccessList(data), before);
}

TEST_F(Win32FileTest, UnderWineTheResultHasTheFilesPermissionsAndItsGroupNoMoreThanEverybody) {
  if (UnixName(dir.path()).empty()) GTEST_SKIP() << "Unix permissions are Wine's";
  // Wine shows no group: a group that had more than everybody gets what
  // everybody has. Execute goes with no data file. The owner may lack what
  // everybody has (Wine denies it in the list).
  const std::vector<std::pair<std::string, std::string>> modes = {
      {"600", "600"}, {"644", "644"}, {"640", "600"}, {"664", "644"}, {"755", "644"}, {"466", "466"}};
  const std::string data = dir.File("data.txt");
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.first);
    const Bytes plain = RandomBytes(300, 8);
    WriteBytes(data, plain);
    RunUnix(dir, "chmod " + mode.first + " '" + UnixName(data) + "'");
    const std::wstring before = AccessList(data);
    notifier.reports.clear();
    ASSERT_TRUE(Encrypt(data)) << notifier.reports[0].detail << ": " << notifier.reports[0].error.text;
    EXPECT_EQ(ReadBytes(data), Expected(plain, {5, 6, 7}, 0, TransformDirection::kEncrypt));
    EXPECT_EQ(UnixMode(dir, data), mode.second);
    EXPECT_EQ(AccessList(data), before);
    RemoveFile(data);
  }
}

TEST_F(Win32FileTest, UnderWineAResultThatCouldNotBeGuardedAgainIsNeverUsed) {
  if (UnixName(dir.path()).empty()) GTEST_SKIP() << "Unix permissions are Wine's";
  // Wine widened the working file's permissions as it took its attributes;
  // guarding it again failed, so it might be open to its group.
  const std::string data = dir.File("private.txt");
  const Bytes plain = RandomBytes(300, 9);
  WriteBytes(data, plain);
  RunUnix(dir, "chmod 600 '" + UnixName(data) + "'");
  int attribute_calls = 0;
  os::SetSystemCallHook([&](os::SystemCall call) {
    // The data file's list, then the working file's guard.
    return call == os::SystemCall::kAttribute && ++attribute_calls == 3 ? ERROR_ACCESS_DENIED : 0;
  });
  EXPECT_FALSE(Encrypt(data));
  os::SetSystemCallHook(nullptr);
  ExpectOnly(notifier, Event::kGuardNotKept, data);
  EXPECT_EQ(notifier.reports[0].detail, "permissions");
  EXPECT_EQ(ReadBytes(data), plain);
  EXPECT_FALSE(FileExists(WorkingPath(data)));
}

TEST_F(Win32FileTest, AFolderAtTheWorkingPathIsNamedAsAFolder) {
  const std::string data = dir.File("data.txt");
  WriteBytes(data, {1, 2});
  ASSERT_TRUE(MakeDirectory(WorkingPath(data)));
  EXPECT_FALSE(Encrypt(data));
  ExpectOnly(notifier, Event::kWorkingInTheWay, WorkingPath(data));
  EXPECT_EQ(notifier.reports[0].detail, "folder");
  EXPECT_EQ(ReadBytes(data), (Bytes{1, 2}));
}

TEST(ExactPathTest, NoClimbingAboveTheShareOrTheDrive) {
  EXPECT_EQ(os::ExactPath("\\\\server\\share\\..\\..\\x.txt"), L"\\\\?\\UNC\\server\\share\\x.txt");
  EXPECT_EQ(os::ExactPath("\\\\server\\share\\a\\..\\b.txt"), L"\\\\?\\UNC\\server\\share\\b.txt");
  EXPECT_EQ(os::ExactPath("C:\\a\\..\\..\\x.txt"), L"\\\\?\\C:\\x.txt");
  EXPECT_EQ(os::ExactPath("C:/a/./b./c "), L"\\\\?\\C:\\a\\b.\\c ");
}

// An access list written the way Windows writes one, with "ME" for this user.
struct AccessListOf {
  explicit AccessListOf(const std::wstring& sddl) {
    std::wstring text = sddl;
    for (std::size_t at; (at = text.find(L"ME")) != std::wstring::npos;) text.replace(at, 2, User());
    PSECURITY_DESCRIPTOR made = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &made, nullptr));
    descriptor.reset(made);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorDacl(made, &present, &list, &defaulted);
  }
  static std::wstring User() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE buffer[256];
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    LPWSTR user = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user);
    const std::wstring text = user;
    LocalFree(user);
    return text;
  }
  struct Free {
    void operator()(void* memory) const { LocalFree(memory); }
  };
  std::unique_ptr<void, Free> descriptor;
  PACL list = nullptr;
};

TEST(AccessListTest, AListGrantsNoMoreThanItsModelOnlyIfItKeepsEveryDenial) {
  const AccessListOf model(L"D:(A;;FR;;;WD)(D;;FW;;;ME)(A;;FA;;;ME)");
  EXPECT_TRUE(os::GrantsNoMoreThan(model.list, model.list));
  EXPECT_TRUE(os::GrantsNoMoreThan(AccessListOf(L"D:(D;;FW;;;ME)(A;;FR;;;ME)").list, model.list));
  // Without the denial, or granting anybody more.
  EXPECT_FALSE(os::GrantsNoMoreThan(AccessListOf(L"D:(A;;FR;;;WD)(A;;FA;;;ME)").list, model.list));
  EXPECT_FALSE(os::GrantsNoMoreThan(AccessListOf(L"D:(A;;FA;;;WD)(D;;FW;;;ME)(A;;FA;;;ME)").list, model.list));
  EXPECT_FALSE(os::GrantsNoMoreThan(AccessListOf(L"D:(D;;FW;;;ME)(A;;FR;;;BU)").list, model.list));
  // No list at all grants everything.
  EXPECT_FALSE(os::GrantsNoMoreThan(nullptr, model.list));
  EXPECT_TRUE(os::GrantsNoMoreThan(model.list, nullptr));
}

TEST(SystemErrorTest, TheReasonEndsWithoutTheSentencesFullStop) {
  EXPECT_EQ(os::SystemError(ERROR_ACCESS_DENIED, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)).text, "Access denied");
  // Wine and a Japanese Windows end it with an ideographic full stop.
  EXPECT_EQ(os::SystemError(ERROR_ACCESS_DENIED, MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN)).text,
            "\xE3\x82\xA2\xE3\x82\xAF\xE3\x82\xBB\xE3\x82\xB9\xE3\x81\x8C\xE6\x8B\x92\xE5\x90\xA6\xE3\x81\x95"
            "\xE3\x82\x8C\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F");  // アクセスが拒否されました
  EXPECT_EQ(os::SystemError(ERROR_PATH_NOT_FOUND, MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA)).text,
            "\xD0\x9F\xD1\x83\xD1\x82\xD1\x8C \xD0\xBD\xD0\xB5 "
            "\xD0\xBD\xD0\xB0\xD0\xB9\xD0\xB4\xD0\xB5\xD0\xBD");  // Путь не найден
}

}  // namespace
