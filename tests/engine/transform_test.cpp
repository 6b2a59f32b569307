#include "cipher/transform.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "cipher/input_checks.h"
#include "cipher/progress.h"
#include "os/file_system.h"
#include "os/stop_request.h"
#include "tests/support/test_files.h"

namespace {

constexpr auto kEncrypt = TransformDirection::kEncrypt;
constexpr auto kDecrypt = TransformDirection::kDecrypt;

class TransformFileTest : public ::testing::Test {
 protected:
  void SetUp() override { os::ClearStopRequest(); }
  void TearDown() override { os::ClearStopRequest(); }

  // Writes data and key, transforms, and returns the bytes now at the data path.
  Bytes Transform(const Bytes& data, const Bytes& key, std::uint8_t offset, TransformDirection direction) {
    WriteBytes(data_path, data);
    WriteBytes(key_path, key);
    EXPECT_TRUE(TransformFile(data_path, key_path, offset, direction, notifier));
    EXPECT_TRUE(notifier.reports.empty()) << notifier.reports[0].path;
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
  EXPECT_TRUE(notifier.progress.empty());
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
  const std::string working = dir.File("first.last") + kSeparator + "report." + os::WorkingSuffix();
  ASSERT_EQ(WorkingPath(data_path), working);
  bool seen = false;
  notifier.on_progress = [&](int) { seen = seen || FileExists(working); };
  const Bytes plain = RandomBytes(64, 10);
  EXPECT_EQ(Transform(plain, {42}, 0, kEncrypt), Expected(plain, {42}, 0, kEncrypt));
  EXPECT_TRUE(seen);
}

TEST_F(TransformFileTest, NameWithoutFullStopGetsOneBeforeTheSuffix) {
  data_path = dir.File("notes");
  EXPECT_EQ(WorkingPath(data_path), data_path + "." + os::WorkingSuffix());
  const Bytes plain = RandomBytes(50, 11);
  EXPECT_EQ(Transform(plain, {1}, 1, kEncrypt), Expected(plain, {1}, 1, kEncrypt));
}

TEST(WorkingPathTest, KeepsTheFolderAndCutsTheNameAfterItsFirstFullStop) {
  const std::string suffix = os::WorkingSuffix();
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

std::vector<std::string> ProgressFor(std::size_t length) {
  ScratchDir dir;
  const std::string data = dir.File("report.txt");
  const std::string key = dir.File("k");
  WriteBytes(data, RandomBytes(length, 12));
  WriteBytes(key, {1});
  RecordingNotifier notifier;
  EXPECT_TRUE(TransformFile(data, key, 0, kEncrypt, notifier));
  return notifier.progress;
}

std::vector<std::string> ProgressWithPercents(std::initializer_list<int> percents) {
  std::vector<std::string> progress;
  for (int p : percents) progress.push_back("report.txt " + std::to_string(p) + "%");
  return progress;
}

TEST(ProgressTitleTest, UpdateCountsFollowTheStep) {
  EXPECT_EQ(ProgressFor(15).size(), 15u);
  EXPECT_EQ(ProgressFor(20).size(), 10u);
  EXPECT_EQ(ProgressFor(29).size(), 15u);
  EXPECT_EQ(ProgressFor(109).size(), 11u);
  EXPECT_EQ(ProgressFor(1).size(), 1u);
}

TEST(ProgressTitleTest, PercentagesReadAsTheUserSeesThem) {
  EXPECT_EQ(ProgressFor(100), ProgressWithPercents({1, 11, 21, 31, 41, 51, 61, 71, 81, 91}));
  EXPECT_EQ(ProgressFor(101), ProgressWithPercents({1, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
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
  ExpectOnly(notifier, Event::kWorkingInTheWay, working);
  EXPECT_EQ(ReadBytes(working), earlier);
  EXPECT_EQ(ReadBytes(data_path), plain);
}

TEST_F(TransformFileTest, LeftoverWorkingFileAsDataIsRefusedUntouched) {
  data_path = WorkingPath(data_path);
  const Bytes result = RandomBytes(100, 15);
  WriteBytes(data_path, result);
  WriteBytes(key_path, {5});
  EXPECT_FALSE(TransformFile(data_path, key_path, 0, kEncrypt, notifier));
  ExpectOnly(notifier, Event::kWorkingIsInput, data_path);
  EXPECT_EQ(ReadBytes(data_path), result);
}

TEST_F(TransformFileTest, KeyFileAtTheWorkingPathIsRefusedUntouched) {
  key_path = WorkingPath(data_path);
  const Bytes key = RandomBytes(10, 16);
  const Bytes plain = RandomBytes(100, 17);
  WriteBytes(key_path, key);
  WriteBytes(data_path, plain);
  EXPECT_FALSE(TransformFile(data_path, key_path, 0, kEncrypt, notifier));
  ExpectOnly(notifier, Event::kWorkingIsInput, key_path);
  EXPECT_EQ(ReadBytes(key_path), key);
  EXPECT_EQ(ReadBytes(data_path), plain);
}

TEST_F(TransformFileTest, ReadOnlyDataFileIsTransformedButNotDeleted) {
  const Bytes plain = RandomBytes(300, 18);
  const Bytes key = RandomBytes(20, 19);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, key);
  ASSERT_TRUE(os::MakeReadOnly(data_path));

  ASSERT_TRUE(CheckInputs(data_path, key_path, 0, false, notifier));
  EXPECT_FALSE(TransformFile(data_path, key_path, 4, kEncrypt, notifier));

  ExpectOnly(notifier, Event::kReadOnly, data_path);
  EXPECT_EQ(static_cast<int>(notifier.reports[0].because), static_cast<int>(ReadOnlyBecause::kMarked));
  EXPECT_EQ(notifier.reports[0].working_path, WorkingPath(data_path));
  EXPECT_EQ(ReadBytes(data_path), plain);
  EXPECT_EQ(ReadBytes(WorkingPath(data_path)), Expected(plain, key, 4, kEncrypt));
  MakeWritable(WorkingPath(data_path));
  MakeWritable(data_path);
}

TEST_F(TransformFileTest, StopRequestRemovesTheWorkingFileAndKeepsTheData) {
  const Bytes plain = RandomBytes(1000, 20);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {9});
  notifier.on_progress = [](int percent) {
    if (percent == 51) os::RequestStop();
  };
  EXPECT_FALSE(TransformFile(data_path, key_path, 0, kEncrypt, notifier));
  ExpectOnly(notifier, Event::kStopped, data_path);
  EXPECT_EQ(notifier.progress.size(), 6u);
  EXPECT_EQ(ReadBytes(data_path), plain);
  EXPECT_FALSE(FileExists(WorkingPath(data_path)));
}

TEST_F(TransformFileTest, MissingKeyFileLeavesNoWorkingFile) {
  const Bytes plain = RandomBytes(10, 21);
  WriteBytes(data_path, plain);
  EXPECT_FALSE(TransformFile(data_path, dir.File("absent"), 0, kEncrypt, notifier));
  ExpectOnly(notifier, Event::kNotFound, dir.File("absent"));
  EXPECT_EQ(ReadBytes(data_path), plain);
  EXPECT_FALSE(FileExists(WorkingPath(data_path)));
}

TEST_F(TransformFileTest, KeysThatWouldProtectNothingAreRefusedBeforeAnythingIsWritten) {
  const Bytes plain = RandomBytes(100, 22);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {});
  std::vector<std::pair<std::string, Event>> keys = {{key_path, Event::kKeyEmpty}};
#ifndef _WIN32
  // They claim a length they do not hold, or none can be found, and give
  // other bytes at every read.
  for (const char* made_anew : {"/proc/sys/kernel/random/uuid", "/sys/kernel/uevent_seqnum", "/proc/self/status"}) {
    if (FileExists(made_anew)) keys.push_back({made_anew, Event::kKeyMadeAnew});
  }
#endif
  for (const auto& key : keys) {
    SCOPED_TRACE(key.first);
    notifier.reports.clear();
    EXPECT_FALSE(TransformFile(data_path, key.first, 7, kEncrypt, notifier));
    ExpectOnly(notifier, key.second, key.first);
    EXPECT_TRUE(notifier.progress.empty());
    EXPECT_EQ(ReadBytes(data_path), plain);
    EXPECT_FALSE(FileExists(WorkingPath(data_path)));
  }
}

TEST_F(TransformFileTest, InputsChangedDuringTheRunAreNeverUsed) {
  const Bytes plain = RandomBytes(1000, 23);
  const Bytes key = RandomBytes(10, 24);
  Bytes grown = plain;
  grown.push_back(1);
  struct Case {
    int at_percent;
    std::function<void()> meddle;
    Bytes data_after;
    Event event;
    const std::string& about;
    int last_percent;  // a change that shows while reading stops the run there
  };
  const std::vector<Case> cases = {
      {51, [&] { AppendBytes(data_path, {1}); }, grown, Event::kDataChanged, data_path, 91},
      // Each step of a block is shown before it is read.
      {51, [&] { WriteBytes(data_path, {}); }, {}, Event::kDataChanged, data_path, 91},
      // The key is read once, when the run starts: its stamp tells the rest.
      {1, [&] { AppendBytes(key_path, {1}); }, plain, Event::kKeyChanged, key_path, 91},
      {1, [&] { WriteBytes(key_path, {1}); }, plain, Event::kKeyChanged, key_path, 91},
      // Rewritten in place, all of it already read: the stamp tells.
      {51, [&] { WriteBytes(key_path, RandomBytes(10, 99)); }, plain, Event::kKeyChanged, key_path, 91},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases.data());
    WriteBytes(data_path, plain);
    WriteBytes(key_path, key);
    notifier.reports.clear();
    bool refused = false;
    notifier.on_progress = [&](int percent) {
      if (percent != c.at_percent) return;
      try {
        c.meddle();
      } catch (const std::runtime_error&) {
        refused = true;
      }
    };
    const bool done = TransformFile(data_path, key_path, 0, kEncrypt, notifier);
#ifdef _WIN32
    // Windows lets nobody write the data file or the key while a run holds them.
    EXPECT_TRUE(refused);
    EXPECT_TRUE(done);
    EXPECT_EQ(ReadBytes(data_path), Expected(plain, key, 0, kEncrypt));
#else
    EXPECT_FALSE(refused || done);
    ExpectOnly(notifier, c.event, c.about);
    EXPECT_EQ(notifier.progress.back(), "report.txt " + std::to_string(c.last_percent) + "%");
    EXPECT_EQ(ReadBytes(data_path), c.data_after);
#endif
    EXPECT_FALSE(FileExists(WorkingPath(data_path)));
  }
}

TEST_F(TransformFileTest, ExceptionIsShownAndLeavesNoWorkingFileBehind) {
  const Bytes plain = RandomBytes(1000, 25);
  WriteBytes(data_path, plain);
  WriteBytes(key_path, {3});
  notifier.on_progress = [](int percent) {
    if (percent == 51) throw std::bad_alloc();
  };
  EXPECT_FALSE(TransformFile(data_path, key_path, 0, kEncrypt, notifier));
  ExpectOnly(notifier, Event::kUnexpected, data_path);
  EXPECT_EQ(notifier.reports[0].detail, "std::bad_alloc");
  EXPECT_EQ(ReadBytes(data_path), plain);
  EXPECT_FALSE(FileExists(WorkingPath(data_path)));

  notifier.on_progress = nullptr;
  EXPECT_TRUE(TransformFile(data_path, key_path, 0, kEncrypt, notifier));  // the next run is not refused
}

// ---- files over 4 GiB: about 9 GiB of disk natively, so only when asked
// for; always for the Windows build, whose 32-bit file sizes break there,
// where the disk has room

TEST_F(TransformFileTest, FileLargerThanFourGibibytes) {
#ifdef _WIN32
  if (FreeBytes(dir.path()) < (9LL << 30)) GTEST_SKIP() << "needs about 9 GiB of free disk for a file over 4 GiB";
#else
  if (std::getenv("VAULTINE_LARGE_FILE_TESTS") == nullptr) {
    GTEST_SKIP() << "set VAULTINE_LARGE_FILE_TESTS=1 to transform a real file over 4 GiB (needs about 9 GiB of disk)";
  }
#endif
  const std::int64_t length = (4LL << 30) + 4099;
  MakeSparseFile(data_path, length);
  WriteBytes(key_path, {1, 2, 3});
  ASSERT_TRUE(TransformFile(data_path, key_path, 10, kEncrypt, notifier));
  EXPECT_EQ(notifier.progress.size(), 11u);
  EXPECT_EQ(notifier.progress.back(), "report.txt 100%");

  os::InputFile result;
  ASSERT_TRUE(result.Open(data_path).ok());
  EXPECT_EQ(result.Length(), length);
  std::uint8_t tail[4] = {};
  EXPECT_EQ(result.ReadAt(tail, sizeof tail, length - 2), 2);
  EXPECT_EQ(tail[0], 13);  // zeros shifted by the repeated last key byte and the offset
  EXPECT_EQ(tail[1], 13);
  result.Close();

  ASSERT_TRUE(TransformFile(data_path, key_path, 10, kDecrypt, notifier));
  ASSERT_TRUE(result.Open(data_path).ok());
  std::uint8_t block[4096];
  ASSERT_EQ(result.ReadAt(block, sizeof block, length - 4096), 4096);
  EXPECT_EQ(Bytes(block, block + 4096), Repeat(0, 4096));
}

}  // namespace
