// Every call the file layer makes fails in turn, through the hook of
// os/system_calls.h: whichever it is, the data path holds the whole original
// or the whole result, the run says what went wrong, and a working file stays
// only where the report names it.

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "cipher/transform.h"
#include "os/file_system.h"
#include "os/system_calls.h"
#include "tests/support/test_files.h"

namespace {

using os::SystemCall;

#ifdef _WIN32
constexpr int kInjected = 31;  // ERROR_GEN_FAILURE
constexpr int kExists = 80;    // ERROR_FILE_EXISTS
#else
constexpr int kInjected = 5;  // EIO
constexpr int kExists = 17;   // EEXIST
#endif

class FailingCallTest : public ::testing::Test {
 protected:
  void TearDown() override { os::SetSystemCallHook(nullptr); }

  // Runs a transform of a fresh copy of plain, with what the hook does
  // before each call.
  bool Run(const std::function<int(SystemCall)>& hook) {
    os::SetSystemCallHook(nullptr);
    RemoveLeftover();
    WriteBytes(data_path, plain);
    notifier = RecordingNotifier();
    os::SetSystemCallHook(hook);
    const bool done = TransformFile(data_path, key_path, 7, TransformDirection::kEncrypt, notifier);
    os::SetSystemCallHook(nullptr);
    return done;
  }

  // The calls of a run where nothing fails, in order.
  std::vector<SystemCall> CallsOfARun() {
    std::vector<SystemCall> calls;
    EXPECT_TRUE(Run([&](SystemCall call) {
      calls.push_back(call);
      return 0;
    }));
    return calls;
  }

  // Fails the nth call (from 1) of kind with error; calls other hooks never.
  static std::function<int(SystemCall)> Failing(SystemCall kind, int nth, int error = kInjected) {
    auto seen = std::make_shared<int>(0);
    return [=](SystemCall call) { return call == kind && ++*seen == nth ? error : 0; };
  }

  void RemoveLeftover() { RemoveFile(WorkingPath(data_path)); }

  ScratchDir dir;
  std::string data_path = dir.File("data.txt");
  std::string key_path = dir.File("key.bin");
  // Two blocks and a bit, so that reads and writes come more than once.
  const Bytes plain = RandomBytes((2 << 20) + 99, 1);
  const Bytes key = [this] {
    Bytes bytes = RandomBytes(5000, 2);
    WriteBytes(key_path, bytes);
    return bytes;
  }();
  const Bytes result = Expected(plain, key, 7, TransformDirection::kEncrypt);
  RecordingNotifier notifier;
};

// Whether a report leaves the result at the working path on purpose.
bool KeepsTheResult(const Report& report) {
  return report.event == Event::kReadOnly || report.event == Event::kNotReplaced ||
         report.event == Event::kDataInUse || report.left_behind;
}

TEST_F(FailingCallTest, WhicheverCallFailsTheFileIsWholeAndTheRunSaysSo) {
  std::map<SystemCall, int> counts;
  for (SystemCall call : CallsOfARun()) ++counts[call];
  ASSERT_GE(counts.size(), 6u);
  int runs = 0;
  for (const auto& kind : counts) {
    for (int nth = 1; nth <= kind.second; ++nth, ++runs) {
      SCOPED_TRACE(std::string(os::NameOf(kind.first)) + " #" + std::to_string(nth));
      const bool done = Run(Failing(kind.first, nth));
      const Bytes now = ReadBytes(data_path);
      if (done) {
        // Only a failure the run may go past: a lease it can do without, a
        // close once nothing more is to be read or written, or one it names
        // in a remark.
        EXPECT_TRUE(kind.first == SystemCall::kLease || kind.first == SystemCall::kClose ||
                    !notifier.reports.empty());
        EXPECT_EQ(now, result);
        for (const Report& report : notifier.reports) {
          EXPECT_TRUE(report.event == Event::kNotFlushed || report.event == Event::kAttributeNotKept);
        }
        continue;
      }
      EXPECT_EQ(now, plain);
      ASSERT_FALSE(notifier.reports.empty());
      const Report& report = notifier.reports.back();
      EXPECT_EQ(FileExists(WorkingPath(data_path)), KeepsTheResult(report));
      if (FileExists(WorkingPath(data_path)) && !report.left_behind) {
        EXPECT_EQ(ReadBytes(WorkingPath(data_path)), result);
      }
    }
  }
  EXPECT_GT(runs, 20);
  // And afterwards nothing stands in the way of a run that works.
  EXPECT_TRUE(Run(nullptr));
  EXPECT_EQ(ReadBytes(data_path), result);
}

// What a failure, or another program, at a given moment makes of the run.
TEST_F(FailingCallTest, EachMomentHasItsOwnReport) {
  // Just before the first look after the final flush: the checks that
  // decide the replacement come next.
  [[maybe_unused]] const auto after_the_flush = [](std::function<void()> meddle) {
    auto flushed = std::make_shared<bool>(false);
    auto done = std::make_shared<bool>(false);
    return [=](SystemCall call) {
      if (call == SystemCall::kFlush) *flushed = true;
      if (call == SystemCall::kLook && *flushed && !*done) {
        *done = true;
        meddle();
      }
      return 0;
    };
  };
  // The working file is the last file opened before the first write.
  int working_open = 0;
  for (SystemCall call : CallsOfARun()) {
    if (call == SystemCall::kWrite) break;
    if (call == SystemCall::kOpen) ++working_open;
  }
  struct Case {
    const char* what;
    std::function<int(SystemCall)> hook;
    Event event;
    bool injected;  // the report carries the injected error
  };
  const std::vector<Case> cases = {
      {"the final flush fails", Failing(SystemCall::kFlush, 1), Event::kCannotWrite, true},
      {"the rename fails", Failing(SystemCall::kRename, 1), Event::kNotReplaced, true},
      // Another run's working file, put in place between its creation and
      // the look at it: that run is at work, no leftover is to be removed.
      {"the working file is there, then gone", Failing(SystemCall::kOpen, working_open, kExists),
       Event::kRunInProgress, false},
#ifndef _WIN32  // where nobody else may write them during a run
      {"the data file grows", after_the_flush([this] { AppendBytes(data_path, {1}); }), Event::kDataChanged,
       false},
      {"the key is rewritten", after_the_flush([this] { WriteBytes(key_path, key); }), Event::kKeyChanged,
       false},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(Run(c.hook));
    ASSERT_EQ(notifier.reports.size(), 1u);
    EXPECT_EQ(static_cast<int>(notifier.reports[0].event), static_cast<int>(c.event));
    if (c.injected) {
      EXPECT_EQ(notifier.reports[0].error.code, kInjected);
    }
    // As it was, or as the other program left it.
    Bytes now = ReadBytes(data_path);
    now.resize(plain.size());
    EXPECT_EQ(now, plain);
  }
}

}  // namespace
