// The Win32 side on the real API, under Wine: names as Windows spells them,
// share modes, attributes and access lists, the replacement and its moments.

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <memory>

#include "cipher/input_checks.h"
#include "cipher/transform.h"
#include "text/utf16.h"
#include "os/file_system.h"
#include "os/win32.h"
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

TEST_F(Win32FileTest, TheSameFileUnderEverySpellingIsRefusedAsItsOwnKey) {
  const std::string data = dir.File("\xC4\x81 long name.txt");  // ā long name.txt
  WriteBytes(data, {1, 2});
  std::string slashes = data;
  for (char& c : slashes) {
    if (c == '\\') c = '/';
  }
  std::vector<std::string> spellings = {dir.File("\xC4\x80 LONG NAME.TXT"), slashes};  // Ā LONG NAME.TXT
  wchar_t short_name[MAX_PATH];
  const DWORD length = GetShortPathNameW(Utf16(data).c_str(), short_name, MAX_PATH);
  if (length > 0 && length < MAX_PATH) spellings.push_back(Utf8(short_name));
  // Under Wine the Unix side's root is drive Z: too.
  using UnixName = char*(CDECL*)(LPCWSTR);
  const auto unix_name = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (char* name = unix_name != nullptr ? unix_name(Utf16(data).c_str()) : nullptr) {
    std::string other_drive = std::string("Z:") + name;
    for (char& c : other_drive) {
      if (c == '/') c = '\\';
    }
    spellings.push_back(other_drive);
    HeapFree(GetProcessHeap(), 0, name);
  }
  for (const std::string& spelling : spellings) {
    SCOPED_TRACE(spelling);
    notifier.reports.clear();
    EXPECT_FALSE(CheckInputs(data, spelling, 0, false, notifier));
    ExpectOnly(notifier, Event::kSameFile, spelling);
  }
  EXPECT_EQ(ReadBytes(data), (Bytes{1, 2}));
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

}  // namespace
