#include "cipher/input_checks.h"
#include "text/fold.h"
#include "text/path_split.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "os/file_system.h"
#include "tests/support/test_files.h"

namespace {

class CheckInputsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(data_path, RandomBytes(64, 1));
    WriteBytes(key_path, RandomBytes(16, 2));
  }
  void TearDown() override {
    MakeWritable(key_path);
    MakeWritable(data_path);
  }

  bool Check(const std::string& data, const std::string& key, std::int32_t offset = 0, bool read_only = false) {
    return CheckInputs(data, key, offset, read_only, notifier);
  }

  ScratchDir dir;
  std::string data_path = dir.File("data.txt");
  std::string key_path = dir.File("key.bin");
  RecordingNotifier notifier;
};

TEST_F(CheckInputsTest, DistinctReadableFilesAndOffsetInRangePass) {
  EXPECT_TRUE(Check(data_path, key_path, 0));
  EXPECT_TRUE(Check(data_path, key_path, 255));
  EXPECT_TRUE(notifier.reports.empty());
  EXPECT_FALSE(os::IsReadOnly(key_path));
}

TEST(SamePathTextTest, IgnoresTheCaseOfAsciiLettersOnly) {
  EXPECT_TRUE(SamePathText("C:\\Data\\A.TXT", "c:\\data\\a.txt"));
  EXPECT_FALSE(SamePathText("C:\\Data\\\xC9.txt", "C:\\Data\\\xE9.txt"));
  EXPECT_FALSE(SamePathText("C:\\a.txt", "C:\\a.txt "));
  EXPECT_FALSE(SamePathText("[", "{"));
}

TEST_F(CheckInputsTest, SamePathTextIsRefusedBeforeAnyProbe) {
  // On Windows the case of ASCII letters makes no other name; on POSIX it does.
  const std::string key = kNativePaths.drive_letters ? "c:\\data\\a.txt" : "C:\\Data\\A.TXT";
  EXPECT_FALSE(Check("C:\\Data\\A.TXT", key));
  ExpectOnly(notifier, Event::kSameFile, key);
  if (kNativePaths.drive_letters) return;
  WriteBytes(dir.File("KEY.BIN"), {1});
  notifier.reports.clear();
  EXPECT_TRUE(Check(key_path, dir.File("KEY.BIN")));
}

TEST_F(CheckInputsTest, AnotherSpellingOfTheSameFileIsRefused) {
  const std::string other_spelling = dir.path() + kSeparator + "." + kSeparator + "data.txt";
  EXPECT_FALSE(Check(data_path, other_spelling));
  ExpectOnly(notifier, Event::kSameFile, other_spelling);
}

TEST_F(CheckInputsTest, FilesThatCannotBeUsedAreRefusedWithTheRealReason) {
  ASSERT_TRUE(MakeDirectory(dir.File("folder")));
  struct Case {
    bool as_data;
    std::string path;
    Event event;
  };
  std::vector<Case> cases = {
      {true, dir.File("missing.txt"), Event::kNotFound},
      {false, dir.File("missing.key"), Event::kNotFound},
      {true, dir.File("missing") + kSeparator + "a.txt", Event::kNotFound},
      {true, dir.File("folder"), Event::kIsFolder},
      {false, dir.File("folder"), Event::kIsFolder},
  };
#ifndef _WIN32
  if (mkfifo(dir.File("fifo").c_str(), 0600) == 0) cases.push_back({true, dir.File("fifo"), Event::kNotRegularFile});
  cases.push_back({false, "/dev/null", Event::kNotRegularFile});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    notifier.reports.clear();
    EXPECT_FALSE(c.as_data ? Check(c.path, key_path) : Check(data_path, c.path));
    ExpectOnly(notifier, c.event, c.path);
  }
}

TEST_F(CheckInputsTest, OnlyAWriterElsewhereMakesAFileInUse) {
  for (const std::string* path : {&data_path, &key_path}) {
    SCOPED_TRACE(*path);
    {
      HeldOpen reader(*path);
      ASSERT_TRUE(reader.ok());
      EXPECT_TRUE(Check(data_path, key_path));
    }
    HeldOpen writer(*path, HeldOpen::kWriting);
    ASSERT_TRUE(writer.ok());
    notifier.reports.clear();
    EXPECT_FALSE(Check(data_path, key_path));
    ExpectOnly(notifier, Event::kInUse, *path);
  }
}

TEST_F(CheckInputsTest, ReadOnlyOptionMarksTheKeyFile) {
  EXPECT_TRUE(Check(data_path, key_path, 0, true));
  EXPECT_TRUE(os::IsReadOnly(key_path));
  EXPECT_FALSE(os::IsReadOnly(data_path));
  // Already read-only: writing the same attributes succeeds.
  EXPECT_TRUE(Check(data_path, key_path, 0, true));
  EXPECT_TRUE(notifier.reports.empty());
}

TEST_F(CheckInputsTest, ReadOnlyIsSetEvenWhenTheOffsetIsThenRefused) {
  EXPECT_FALSE(Check(data_path, key_path, 300, true));
  EXPECT_TRUE(os::IsReadOnly(key_path));
  ExpectOnly(notifier, Event::kOffsetOutOfRange, data_path);
}

TEST_F(CheckInputsTest, OffsetsOutsideTheByteRangeAreRefused) {
  for (std::int32_t offset : {-1, 256, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(offset);
    notifier.reports.clear();
    EXPECT_FALSE(Check(data_path, key_path, offset));
    ExpectOnly(notifier, Event::kOffsetOutOfRange, data_path);
  }
}

}  // namespace
