#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cipher/notifier.h"
#include "os/file_system.h"

// One file of a command: its name in an open folder, and its path as the
// user knows it.
struct BatchJob {
  std::shared_ptr<const os::Folder> folder;
  std::string name;
  std::string shown;
  bool walked = false;  // met in a walk of -r, not named by the user
  std::uint64_t turn = 0;  // where files must run one at a time: its place, from 1
};

// What one file's run came to, to be told in the command's order.
struct BatchResult {
  std::vector<Report> reports;     // as the run told them
  std::vector<std::string> lines;  // the command's own words, each a whole line
  bool done = false;               // the data path holds the result
  bool failed = false;             // the command's status is a failure
  bool done_after_stop = false;    // put in place after a stop was asked for
  std::string done_remark;         // said after "FILE: encrypted" (or decrypted) with -v
  bool remark_needed = false;      // said without -v too
  std::int64_t bytes = 0;
  // Set before it is told: the folder flushed after its rename, or why not.
  bool flushed = false;
  os::Error flush_error;
};

// Runs the files of a command side by side on a pool of workers, in the
// order they are added, and tells each result in that order, on the thread
// that adds them. A file renamed into its folder is told only once that
// folder is flushed, and a folder is flushed once for all the files renamed
// into it, after the last, unless so many files wait on it that its flush
// must come sooner. What waits is bounded, whatever the tree.
class Batch {
 public:
  // Runs a job, on a worker; its progress in bytes goes to the notifier.
  using Run = std::function<BatchResult(const BatchJob& job, Notifier& progress)>;
  // Tells a result, on the adding thread, in order.
  using Tell = std::function<void(const BatchJob& job, BatchResult& result)>;
  // Called now and then while the adding thread waits, to show progress.
  using Waiting = std::function<void()>;

  // With no workers, each job runs at once on the adding thread. No more
  // than folders different folders are at work or waiting to be told at once.
  Batch(int workers, Run run, Tell tell, Waiting waiting, std::size_t folders);
  ~Batch();
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  // Adds a file, waiting while too many are at work or waiting to be told.
  void Add(BatchJob job);
  // Adds a line of the command's own, told in its place.
  void AddLine(const std::string& line, bool failed);
  // Waits for every file added, and tells the rest.
  void Finish();

  std::int64_t files_done() const { return files_done_; }
  std::int64_t files_added() const { return files_added_; }
  std::int64_t bytes_done() const { return bytes_done_.load(); }

 private:
  struct Entry {
    std::unique_ptr<BatchJob> job;  // none for a line
    BatchResult result;
    bool finished = false;
  };
  // A folder files of the batch are renamed into.
  struct FolderState {
    int at_work = 0;          // added, not finished
    bool complete = false;    // no more of its files will be added
    std::vector<std::uint64_t> renamed;  // finished, renamed, not yet flushed
  };

  void Work();
  // Tells what is finished, in order; false when the next one is not.
  bool TellFinished(std::unique_lock<std::mutex>& lock, bool must_flush);
  void Flush(std::unique_lock<std::mutex>& lock, FolderState& state);
  void Wait(std::unique_lock<std::mutex>& lock);

  const Run run_;
  const Tell tell_;
  const Waiting waiting_;
  const std::size_t window_;
  const std::size_t folder_window_;

  std::mutex mutex_;
  std::condition_variable work_added_;
  std::condition_variable work_finished_;
  std::deque<std::uint64_t> queue_;
  std::map<std::uint64_t, Entry> entries_;  // added, not yet told
  std::map<const os::Folder*, FolderState> folders_;
  const os::Folder* last_folder_ = nullptr;
  std::uint64_t next_to_add_ = 0;
  std::uint64_t next_to_tell_ = 0;
  bool closing_ = false;
  std::vector<std::thread> workers_;

  std::int64_t files_done_ = 0;
  std::int64_t files_added_ = 0;
  std::atomic<std::int64_t> bytes_done_{0};
};
