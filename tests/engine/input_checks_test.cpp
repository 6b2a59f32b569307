#include "cipher/input_checks.h"

#include <gtest/gtest.h>

#include "os/file_system.h"
#include "tests/support/test_files.h"

namespace {

const char kSameFileText[] =
    "Using  the same filename for encrypting file and a key file destroys the key file.\r\n"
    "You won't be able to recover the encrypted file.\r\n"
    "Choose a differnt key file.";

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

  int Check(const std::string& data, const std::string& key, std::int32_t offset = 0, int read_only = 0) {
    return CheckInputs(data, key, offset, read_only, notifier);
  }

  ScratchDir dir;
  std::string data_path = dir.File("data.txt");
  std::string key_path = dir.File("key.bin");
  RecordingNotifier notifier;
};

TEST_F(CheckInputsTest, DistinctReadableFilesAndOffsetInRangePass) {
  EXPECT_EQ(Check(data_path, key_path, 0), 1);
  EXPECT_EQ(Check(data_path, key_path, 255), 1);
  EXPECT_TRUE(notifier.warnings.empty());
  EXPECT_FALSE(os::IsReadOnly(key_path));
}

TEST(SamePathTextTest, IgnoresTheCaseOfAsciiLettersOnly) {
  EXPECT_TRUE(SamePathText("C:\\Data\\A.TXT", "c:\\data\\a.txt"));
  EXPECT_FALSE(SamePathText("C:\\Data\\\xC9.txt", "C:\\Data\\\xE9.txt"));
  EXPECT_FALSE(SamePathText("C:\\a.txt", "C:\\a.txt "));
  EXPECT_FALSE(SamePathText("[", "{"));
}

TEST_F(CheckInputsTest, SamePathTextIsRefusedBeforeAnyProbe) {
  EXPECT_EQ(Check("C:\\Data\\A.TXT", "c:\\data\\a.txt"), 0);
  ExpectOnlyWarning(notifier, kSameFileText, "Filename error. (Bad idea.)");
}

TEST_F(CheckInputsTest, AnotherSpellingOfTheSameFileIsRefused) {
  const std::string other_spelling = dir.path() + kSeparator + "." + kSeparator + "data.txt";
  EXPECT_EQ(Check(data_path, other_spelling), 0);
  ExpectOnlyWarning(notifier, kSameFileText, "Filename error. (Bad idea.)");
}

TEST_F(CheckInputsTest, MissingDataFileIsNamed) {
  const std::string missing = dir.File("missing.txt");
  EXPECT_EQ(Check(missing, key_path), 0);
  ExpectOnlyWarning(notifier, "Cannot find " + missing + ".", "Encrypt file error.");
}

TEST_F(CheckInputsTest, MissingKeyFileIsNamed) {
  const std::string missing = dir.File("missing.key");
  EXPECT_EQ(Check(data_path, missing), 0);
  ExpectOnlyWarning(notifier, "Cannot find " + missing + ".", "Encrypt file error.");
}

TEST_F(CheckInputsTest, FolderIsNoDataFile) {
  ASSERT_TRUE(MakeDirectory(dir.File("folder")));
  EXPECT_EQ(Check(dir.File("folder"), key_path), 0);
  ExpectOnlyWarning(notifier, "Cannot find " + dir.File("folder") + ".", "Encrypt file error.");
}

TEST_F(CheckInputsTest, DataFileOpenElsewhereFailsTheExclusiveProbe) {
  HeldOpen holder(data_path);
  ASSERT_TRUE(holder.ok());
  EXPECT_EQ(Check(data_path, key_path), 0);
  ExpectOnlyWarning(notifier, "Cannot find " + data_path + ".", "Encrypt file error.");
}

TEST_F(CheckInputsTest, KeyFileOpenElsewhereForReadingStillPasses) {
  HeldOpen holder(key_path);
  ASSERT_TRUE(holder.ok());
  EXPECT_EQ(Check(data_path, key_path), 1);
}

TEST_F(CheckInputsTest, ReadOnlyOptionMarksTheKeyFile) {
  EXPECT_EQ(Check(data_path, key_path, 0, 1), 1);
  EXPECT_TRUE(os::IsReadOnly(key_path));
  EXPECT_FALSE(os::IsReadOnly(data_path));
  // Already read-only: writing the same attributes succeeds.
  EXPECT_EQ(Check(data_path, key_path, 0, 1), 1);
  EXPECT_TRUE(notifier.warnings.empty());
}

TEST_F(CheckInputsTest, ReadOnlyIsSetEvenWhenTheOffsetIsThenRefused) {
  EXPECT_EQ(Check(data_path, key_path, 300, 1), 0);
  EXPECT_TRUE(os::IsReadOnly(key_path));
  ExpectOnlyWarning(notifier, "Offset must be value between 0 and 255.", "Error");
}

TEST_F(CheckInputsTest, OffsetsOutsideTheByteRangeAreRefused) {
  for (std::int32_t offset : {-1, 256, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(offset);
    notifier.warnings.clear();
    EXPECT_EQ(Check(data_path, key_path, offset), 0);
    ExpectOnlyWarning(notifier, "Offset must be value between 0 and 255.", "Error");
  }
}

TEST_F(CheckInputsTest, LongPathsAreQuotedWhole) {
  std::string missing = dir.path() + kSeparator;
  missing += std::string(519 - missing.size(), 'x');
  EXPECT_EQ(Check(missing, key_path), 0);
  ExpectOnlyWarning(notifier, "Cannot find " + missing + ".", "Encrypt file error.");
}

}  // namespace
