#include "cipher/transform.h"

#include <gtest/gtest.h>

#include <new>

#include "cipher/input_checks.h"
#include "cipher/progress.h"
#include "os/file_system.h"
#include "os/stop_request.h"
#include "tests/support/test_files.h"

namespace {

constexpr auto kEncrypt = TransformDirection::Encrypt;
constexpr auto kDecrypt = TransformDirection::Decrypt;

class TransformFileTest : public ::testing::Test {
 protected:
  void SetUp() override { os::ClearStopRequest(); }
  void TearDown() override { os::ClearStopRequest(); }

  // Writes data and key, transforms, and returns the bytes now at the data path.
  Bytes Transform(const Bytes& data, const Bytes& key, std::uint8_t offset, TransformDirection direction) {
    WriteBytes(data_path, data);
    WriteBytes(key_path, key);
    EXPECT_TRUE(TransformFile(data_path, key_path, offset, direction, notifier));
    EXPECT_TRUE(notifier.warnings.empty()) << notifier.warnings[0].text;
    EXPECT_FALSE(FileExists(WorkingPath(data_path)));
    return ReadBytes(data_path);
  }

  ScratchDir dir;
  std::string data_path = dir.File("report.txt");
  std::string key_path = dir.File("key.bin");
  RecordingNotifier notifier;
};

TEST_F(TransformFileTest, EncryptMatchesIndependentComputationAndDecryptRestores) {
  // Longer than one block, with a length that is no multiple of anything.
  const Bytes plain = RandomBytes((3 << 20) + 12345, 1);
  const Bytes key = RandomBytes((5 << 20) + 1, 2);
  for (std::uint8_t offset : {0, 1, 128, 255}) {
    SCOPED_TRACE(offset);
    EXPECT_EQ(Transform(plain, key, offset, kEncrypt), Expected(plain, key, offset, kEncrypt));
    EXPECT_EQ(Transform(Expected(plain, key, offset, kEncrypt), key, offset, kDecrypt), plain);
  }
}

TEST_F(TransformFileTest, ShortKeyRepeatsItsLastByte) {
  const Bytes plain = RandomBytes((2 << 20) + 7, 3);
  const Bytes key = {1, 2, 250};
  Bytes expected = plain;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    const int k = i < key.size() ? key[i] : 250;
    expected[i] = static_cast<std::uint8_t>(plain[i] + k + 9);
  }
  EXPECT_EQ(Transform(plain, key, 9, kEncrypt), expected);
}

TEST_F(TransformFileTest, LongKeyUsesOnlyAsManyBytesAsTheData) {
  const Bytes key = RandomBytes(4096, 4);
  const Bytes plain = RandomBytes(100, 5);
  EXPECT_EQ(Transform(plain, key, 3, kEncrypt), Expected(plain, Bytes(key.begin(), key.begin() + 100), 3, kEncrypt));
}

TEST_F(TransformFileTest, EmptyDataFileStaysEmptyWithoutProgress) {
  EXPECT_TRUE(Transform({}, {1, 2, 3}, 5, kEncrypt).empty());
  EXPECT_TRUE(notifier.titles.empty());
}

TEST_F(TransformFileTest, ZeroKeyAndZeroOffsetLeaveTheContent) {
  const Bytes plain = RandomBytes(5000, 7);
  EXPECT_EQ(Transform(plain, Repeat(0, 5000), 0, kEncrypt), plain);
}

TEST_F(TransformFileTest, EncryptTwiceDecryptOnceLeavesItEncipheredOnce) {
  const Bytes plain = RandomBytes(777, 8);
  const Bytes key = RandomBytes(300, 9);
  Transform(plain, key, 11, kEncrypt);
  const Bytes twice = Transform(ReadBytes(data_path), key, 11, kEncrypt);
  EXPECT_EQ(Transform(twice, key, 11, kDecrypt), Expected(plain, key, 11, kEncrypt));
}

TEST_F(TransformFileTest, WorkingFileLiesBesideTheDataFileInADottedFolder) {
  ASSERT_TRUE(MakeDirectory(dir.File("first.last")));
  data_path = dir.File("first.last") + kSeparator + "report.txt";
  const std::string working = dir.File("first.last") + kSeparator + "report." + os::kWorkingSuffix;
  ASSERT_EQ(WorkingPath(data_path), working);
  bool seen = false;
  notifier.on_title = [&](const std::string&) { seen = seen || FileExists(working); };
  const Bytes plain = RandomBytes(64, 10);
  EXPECT_EQ(Transform(plain, {42}, 0, kEncrypt), Expected(plain, {42}, 0, kEncrypt));
  EXPECT_TRUE(seen);
}

TEST_F(TransformFileTest, NameWithoutFullStopGetsOneBeforeTheSuffix) {
  data_path = dir.File("notes");
  EXPECT_EQ(WorkingPath(data_path), data_path + "." + os::kWorkingSuffix);
  const Bytes plain = RandomBytes(50, 11);
  EXPECT_EQ(Transform(plain, {1}, 1, kEncrypt), Expected(plain, {1}, 1, kEncrypt));
}

TEST(WorkingPathTest, KeepsTheFolderAndCutsTheNameAfterItsFirstFullStop) {
  const std::string suffix = os::kWorkingSuffix;
  EXPECT_EQ(WorkingPath("/docs/report.txt"), "/docs/report." + suffix);
  EXPECT_EQ(WorkingPath("/my.docs/report.txt"), "/my.docs/report." + suffix);
  EXPECT_EQ(WorkingPath("docs/arch.tar.gz"), "docs/arch." + suffix);
  EXPECT_EQ(WorkingPath("my.docs/README"), "my.docs/README." + suffix);
  EXPECT_EQ(WorkingPath("../docs/a.txt"), "../docs/a." + suffix);
  EXPECT_EQ(WorkingPath("/home/first.last/.profile"), "/home/first.last/." + suffix);
  // A backslash separates on Windows only; on POSIX it is part of the name.
#ifdef _WIN32
  EXPECT_EQ(WorkingPath("C:\\my.docs\\report.txt"), "C:\\my.docs\\report." + suffix);
  EXPECT_EQ(WorkingPath("a.b/c.d\\e"), "a.b/c.d\\e." + suffix);
#else
  EXPECT_EQ(WorkingPath("a.b/c.d\\e"), "a.b/c." + suffix);
#endif
}

// ---- progress in the title line

std::vector<std::string> TitlesFor(std::size_t length) {
  ScratchDir dir;
  const std::string data = dir.File("report.txt");
  const std::string key = dir.File("k");
  WriteBytes(data, RandomBytes(length, 12));
  WriteBytes(key, {1});
  RecordingNotifier notifier;
  EXPECT_TRUE(TransformFile(data, key, 0, kEncrypt, notifier));
  return notifier.titles;
}

std::vector<std::string> TitlesWithPercents(std::initializer_list<int> percents) {
  std::vector<std::string> titles;
  for (int p : percents) titles.push_back("Working file report.txt " + std::to_string(p) + "% done.");
  return titles;
}

TEST(ProgressTitleTest, UpdateCountsFollowTheStep) {
  EXPECT_EQ(TitlesFor(15).size(), 15u);
  EXPECT_EQ(TitlesFor(20).size(), 10u);
  EXPECT_EQ(TitlesFor(29).size(), 15u);
  EXPECT_EQ(TitlesFor(109).size(), 11u);
  EXPECT_EQ(TitlesFor(1).size(), 1u);
}

TEST(ProgressTitleTest, TextsAndPercentagesReadAsTheUserSeesThem) {
  EXPECT_EQ(TitlesFor(100), TitlesWithPercents({1, 11, 21, 31, 41, 51, 61, 71, 81, 91}));
  EXPECT_EQ(TitlesFor(101), TitlesWithPercents({1, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
}

TEST(ProgressTitleTest, ArithmeticHoldsPastFourGibibytes) {
  const std::int64_t length = 6442450951LL;  // 6 GiB + 7
  const std::int64_t step = ProgressStep(length);
  EXPECT_EQ(step, 644245095LL);
  std::vector<int> percents;
  for (std::int64_t i = 0; i < length; i += step) percents.push_back(ProgressPercent(i, length));
  EXPECT_EQ(percents, (std::vector<int>{1, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
  EXPECT_EQ(ProgressPercent(5LL << 30, length), 84);  // 83.3% done
  EXPECT_EQ(ProgressStep(5), 1);
  EXPECT_EQ(ProgressStep(20), 2);
}

// ---- refusals and failures: the data file is never lost

TEST_F(TransformFileTest, ExistingFileAtTheWorkingPathIsKeptAndTheTransformRefused) {
  const Bytes plain = RandomBytes(100, 13);
  const Bytes earlier = RandomBytes(80, 14);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {5});
  const std::string working = WorkingPath(data_path);
  WriteBytes(working, earlier);

  EXPECT_FALSE(TransformFile(data_path, key_path, 0, kEncrypt, notifier));
  ExpectOnlyWarning(notifier, "A file named " + working + " is in the way of the working file.\r\n"
                    "It was left by a run that did not finish or could not replace the file; the data file itself "
                    "is whole. Remove or rename it, then try again.",
                    "Error: Could not create working file!");
  EXPECT_EQ(ReadBytes(working), earlier);
  EXPECT_EQ(ReadBytes(data_path), plain);
}

TEST_F(TransformFileTest, LeftoverWorkingFileAsDataIsRefusedUntouched) {
  data_path = WorkingPath(data_path);
  const Bytes result = RandomBytes(100, 15);
  WriteBytes(data_path, result);
  WriteBytes(key_path, {5});
  EXPECT_FALSE(TransformFile(data_path, key_path, 0, kEncrypt, notifier));
  ASSERT_EQ(notifier.warnings.size(), 1u);
  EXPECT_EQ(notifier.warnings[0].caption, "Error: Could not create working file!");
  EXPECT_EQ(ReadBytes(data_path), result);
}

TEST_F(TransformFileTest, KeyFileAtTheWorkingPathIsRefusedUntouched) {
  key_path = WorkingPath(data_path);
  const Bytes key = RandomBytes(10, 16);
  const Bytes plain = RandomBytes(100, 17);
  WriteBytes(key_path, key);
  WriteBytes(data_path, plain);
  EXPECT_FALSE(TransformFile(data_path, key_path, 0, kEncrypt, notifier));
  EXPECT_EQ(notifier.warnings.size(), 1u);
  EXPECT_EQ(ReadBytes(key_path), key);
  EXPECT_EQ(ReadBytes(data_path), plain);
}

TEST_F(TransformFileTest, ReadOnlyDataFileIsTransformedButNotDeleted) {
  const Bytes plain = RandomBytes(300, 18);
  const Bytes key = RandomBytes(20, 19);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, key);
  ASSERT_TRUE(os::MakeReadOnly(data_path));

  ASSERT_EQ(CheckInputs(data_path, key_path, 0, 0, notifier), 1);
  EXPECT_FALSE(TransformFile(data_path, key_path, 4, kEncrypt, notifier));

  const std::string text = "Could not delete " + data_path + ".";
  ExpectOnlyWarning(notifier, text, "Error: Could not delete original file!");
  EXPECT_EQ(notifier.titles.back(), text);
  EXPECT_EQ(ReadBytes(data_path), plain);
  EXPECT_EQ(ReadBytes(WorkingPath(data_path)), Expected(plain, key, 4, kEncrypt));
  MakeWritable(WorkingPath(data_path));
  MakeWritable(data_path);
}

TEST_F(TransformFileTest, StopRequestRemovesTheWorkingFileAndKeepsTheData) {
  const Bytes plain = RandomBytes(1000, 20);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {9});
  notifier.on_title = [](const std::string& title) {
    if (title.find(" 51%") != std::string::npos) os::RequestStop();
  };
  EXPECT_FALSE(TransformFile(data_path, key_path, 0, kEncrypt, notifier));
  ASSERT_EQ(notifier.warnings.size(), 1u);
  EXPECT_EQ(notifier.warnings[0].caption, "Interrupted!");
  EXPECT_EQ(notifier.titles.size(), 6u);
  EXPECT_EQ(ReadBytes(data_path), plain);
  EXPECT_FALSE(FileExists(WorkingPath(data_path)));
}

TEST_F(TransformFileTest, MissingKeyFileLeavesNoWorkingFile) {
  const Bytes plain = RandomBytes(10, 21);
  WriteBytes(data_path, plain);
  EXPECT_FALSE(TransformFile(data_path, dir.File("absent"), 0, kEncrypt, notifier));
  EXPECT_EQ(notifier.warnings.size(), 1u);
  EXPECT_EQ(ReadBytes(data_path), plain);
  EXPECT_FALSE(FileExists(WorkingPath(data_path)));
}

TEST_F(TransformFileTest, KeysThatWouldProtectNothingAreRefusedBeforeAnythingIsWritten) {
  const Bytes plain = RandomBytes(100, 22);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {});
  std::vector<std::string> keys = {key_path};
#ifndef _WIN32
  // They claim a length they do not hold, and give other bytes at every read.
  for (const char* made_anew : {"/proc/sys/kernel/random/uuid", "/proc/self/status", "/sys/kernel/uevent_seqnum"}) {
    if (FileExists(made_anew)) keys.push_back(made_anew);
  }
#endif
  for (const std::string& key : keys) {
    SCOPED_TRACE(key);
    notifier.warnings.clear();
    EXPECT_FALSE(TransformFile(data_path, key, 7, kEncrypt, notifier));
    ExpectOnlyWarning(notifier, "The key file " + key +
                          " holds no bytes to encrypt with: it is empty, or its content is made anew each time it "
                          "is read, so the file could never be decrypted.\r\nChoose another key file.",
                      "Key file error.");
    EXPECT_TRUE(notifier.titles.empty());
    EXPECT_EQ(ReadBytes(data_path), plain);
    EXPECT_FALSE(FileExists(WorkingPath(data_path)));
  }
}

TEST_F(TransformFileTest, InputsChangedDuringTheRunAreNeverUsed) {
  const Bytes plain = RandomBytes(1000, 23);
  const Bytes key = RandomBytes(10, 24);
  Bytes grown = plain;
  grown.push_back(1);
  const std::string changed = data_path +
                              " was changed by another program during the run, so it was not replaced.\r\n"
                              "It is left as it now is. Try again once nothing else is using it.";
  const std::string key_unreadable = "Could not read " + key_path + " (it changed while it was read). The file is unchanged.";
  struct Case {
    const char* at_title;
    std::function<void()> meddle;
    Bytes data_after;
    std::string text;
    const char* caption;
    const char* last_title;  // a change that shows while reading stops the run there
  };
  const char* kChanged = "Error: File changed during the run!";
  const char* kUnreadable = "Error: Could not read file!";
  const std::vector<Case> cases = {
      {" 51%", [&] { AppendBytes(data_path, {1}); }, grown, changed, kChanged, " 91%"},
      {" 51%", [&] { WriteBytes(data_path, {}); }, {}, changed, kChanged, " 51%"},
      {" 1%", [&] { AppendBytes(key_path, {1}); }, plain, key_unreadable, kUnreadable, " 1%"},
      {" 1%", [&] { WriteBytes(key_path, {1}); }, plain, key_unreadable, kUnreadable, " 1%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases.data());
    WriteBytes(data_path, plain);
    WriteBytes(key_path, key);
    notifier.warnings.clear();
    notifier.on_title = [&](const std::string& title) {
      if (title.find(c.at_title) != std::string::npos) c.meddle();
    };
    EXPECT_FALSE(TransformFile(data_path, key_path, 0, kEncrypt, notifier));
    ExpectOnlyWarning(notifier, c.text, c.caption);
    EXPECT_NE(notifier.titles.back().find(c.last_title), std::string::npos) << notifier.titles.back();
    EXPECT_EQ(ReadBytes(data_path), c.data_after);
    EXPECT_FALSE(FileExists(WorkingPath(data_path)));
  }
}

TEST_F(TransformFileTest, ExceptionIsShownAndLeavesNoWorkingFileBehind) {
  const Bytes plain = RandomBytes(1000, 25);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {3});
  notifier.on_title = [](const std::string& title) {
    if (title.find(" 51%") != std::string::npos) throw std::bad_alloc();
  };
  EXPECT_FALSE(TransformFile(data_path, key_path, 0, kEncrypt, notifier));
  ExpectOnlyWarning(notifier, "Could not finish with " + data_path + ": std::bad_alloc. The file was not replaced.",
                    "Error: Could not finish!");
  EXPECT_EQ(ReadBytes(data_path), plain);
  EXPECT_FALSE(FileExists(WorkingPath(data_path)));

  notifier.on_title = nullptr;
  EXPECT_TRUE(TransformFile(data_path, key_path, 0, kEncrypt, notifier));  // the next run is not refused
}

// ---- files over 4 GiB: about 9 GiB of disk, so only when asked for

TEST_F(TransformFileTest, FileLargerThanFourGibibytes) {
  if (std::getenv("VAULTINE_LARGE_FILE_TESTS") == nullptr) {
    GTEST_SKIP() << "set VAULTINE_LARGE_FILE_TESTS=1 to transform a real file over 4 GiB (needs about 9 GiB of disk)";
  }
  const std::int64_t length = (4LL << 30) + 4099;
  MakeSparseFile(data_path, length);
  WriteBytes(key_path, {1, 2, 3});
  ASSERT_TRUE(TransformFile(data_path, key_path, 10, kEncrypt, notifier));
  EXPECT_EQ(notifier.titles.size(), 11u);
  EXPECT_EQ(notifier.titles.back(), "Working file report.txt 100% done.");

  os::InputFile result;
  ASSERT_TRUE(result.Open(data_path));
  EXPECT_EQ(FileLength(result), length);
  ASSERT_TRUE(result.Seek(length - 2));
  std::uint8_t tail[4] = {};
  EXPECT_EQ(result.Read(tail, sizeof tail), 2);
  EXPECT_EQ(tail[0], 13);  // zeros shifted by the repeated last key byte and the offset
  EXPECT_EQ(tail[1], 13);
  result.Close();

  ASSERT_TRUE(TransformFile(data_path, key_path, 10, kDecrypt, notifier));
  ASSERT_TRUE(result.Open(data_path));
  ASSERT_TRUE(result.Seek(length - 4096));
  std::uint8_t block[4096];
  ASSERT_EQ(result.Read(block, sizeof block), 4096);
  EXPECT_EQ(Bytes(block, block + 4096), Repeat(0, 4096));
}

}  // namespace
