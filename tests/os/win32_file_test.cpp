// The Win32 side on the real API, under Wine: share modes, attributes, the
// replacement and the working file's name.

#include <windows.h>

#include <gtest/gtest.h>

#include "cipher/input_checks.h"
#include "cipher/transform.h"
#include "os/file_system.h"
#include "tests/support/test_files.h"

namespace {

TEST(Win32FileTest, WorkingSuffixIsTheBytesOneEaNine) {
  EXPECT_EQ(std::string(os::kWorkingSuffix), "\x31\xEA\x39");
}

TEST(Win32FileTest, ReadOnlyKeepsTheOtherAttributes) {
  ScratchDir dir;
  const std::string path = dir.File("key.bin");
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

TEST(Win32FileTest, WorkingFileCannotBeWrittenOrRemovedByOthersDuringTheRun) {
  ScratchDir dir;
  const std::string data = dir.File("data.txt");
  const std::string key = dir.File("key.bin");
  WriteBytes(data, RandomBytes(1000, 2));
  WriteBytes(key, {5});
  const std::string working = WorkingPath(data);
  RecordingNotifier notifier;
  int refused = 0;
  notifier.on_progress = [&](int percent) {
    if (percent != 51) return;
    HANDLE other = CreateFileA(working.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    refused += other == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    refused += !DeleteFileA(working.c_str()) && GetLastError() == ERROR_SHARING_VIOLATION;
  };
  EXPECT_TRUE(TransformFile(data, key, 0, TransformDirection::Encrypt, notifier));
  EXPECT_EQ(refused, 2);
}

TEST(Win32FileTest, DataFileHeldOpenAtTheEndIsInUseAndTheResultIsNamed) {
  // The system refuses to replace a file that another program holds open
  // without allowing its deletion.
  ScratchDir dir;
  const std::string data = dir.File("data.txt");
  const std::string key = dir.File("key.bin");
  const Bytes plain = RandomBytes(500, 3);
  WriteBytes(data, plain);
  WriteBytes(key, {9, 8});
  RecordingNotifier notifier;
  {
    HeldOpen other(data);
    ASSERT_TRUE(other.ok());
    EXPECT_FALSE(TransformFile(data, key, 1, TransformDirection::Encrypt, notifier));
  }
  const std::string working = WorkingPath(data);
  ExpectOnly(notifier, Event::kDataInUse, data);
  EXPECT_EQ(notifier.reports[0].working_path, working);
  EXPECT_EQ(ReadBytes(data), plain);
  EXPECT_EQ(ReadBytes(working), Expected(plain, {9, 8}, 1, TransformDirection::Encrypt));
}

TEST(Win32FileTest, HiddenAndSystemAttributesGoWithTheFile) {
  ScratchDir dir;
  const std::string data = dir.File("data.txt");
  const std::string key = dir.File("key.bin");
  WriteBytes(data, RandomBytes(100, 4));
  WriteBytes(key, {5});
  const DWORD marks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  ASSERT_TRUE(SetFileAttributesA(data.c_str(), marks));
  RecordingNotifier notifier;
  ASSERT_TRUE(TransformFile(data, key, 0, TransformDirection::Encrypt, notifier));
  EXPECT_EQ(GetFileAttributesA(data.c_str()) & marks, marks);
  MakeWritable(data);
}

TEST(Win32FileTest, NonAsciiNamesRoundTrip) {
  ScratchDir dir;
  const std::string data = dir.File("r\xE9sum\xE9.txt");
  const std::string key = dir.File("cl\xE9.bin");
  const Bytes plain = RandomBytes(1000, 1);
  WriteBytes(data, plain);
  WriteBytes(key, {3, 1, 4});
  RecordingNotifier notifier;
  ASSERT_EQ(CheckInputs(data, key, 2, 0, notifier), 1);
  ASSERT_TRUE(TransformFile(data, key, 2, TransformDirection::Encrypt, notifier));
  EXPECT_EQ(ReadBytes(data), Expected(plain, {3, 1, 4}, 2, TransformDirection::Encrypt));
  EXPECT_EQ(notifier.progress.front(), "r\xE9sum\xE9.txt 1%");
}

TEST(Win32FileTest, ShortNameOfTheDataFileAsKeyIsRefused) {
  ScratchDir dir;
  const std::string data = dir.File("a long file name.txt");
  WriteBytes(data, {1, 2});
  char short_name[MAX_PATH];
  DWORD length = GetShortPathNameA(data.c_str(), short_name, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || data == short_name) GTEST_SKIP() << "no short names here";
  RecordingNotifier notifier;
  EXPECT_EQ(CheckInputs(data, short_name, 0, 0, notifier), 0);
  ExpectOnly(notifier, Event::kSameFile, short_name);
}

}  // namespace
