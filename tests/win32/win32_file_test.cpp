// The Win32 side on the real API, under Wine: share modes, attributes and the
// working file's name.

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

TEST(Win32FileTest, ExclusiveProbeFailsWhileAnyHandleIsOpen) {
  ScratchDir dir;
  const std::string path = dir.File("data.txt");
  WriteBytes(path, {1, 2, 3});
  {
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(os::FileProbe(path, os::ProbeShare::kNone).IsOpen());
    EXPECT_TRUE(os::FileProbe(path, os::ProbeShare::kRead).IsOpen());
    CloseHandle(other);
  }
  EXPECT_TRUE(os::FileProbe(path, os::ProbeShare::kNone).IsOpen());
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
  EXPECT_FALSE(os::RemoveFile(path));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  MakeWritable(path);
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
  EXPECT_EQ(notifier.titles.front(), "Working file r\xE9sum\xE9.txt 1% done.");
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
  ASSERT_EQ(notifier.warnings.size(), 1u);
  EXPECT_EQ(notifier.warnings[0].caption, "Filename error. (Bad idea.)");
}

}  // namespace
