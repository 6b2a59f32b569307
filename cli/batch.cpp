#include "cli/batch.h"

#include <chrono>

namespace {

// So many files may be at work or waiting to be told: enough that a big file
// does not hold back the small ones behind it, few enough to keep memory
// small whatever the tree.
constexpr std::size_t kWindow = 4096;

// Bytes done, counted as the workers go.
class ByteCounter : public Notifier {
 public:
  explicit ByteCounter(std::atomic<std::int64_t>& bytes) : bytes_(bytes) {}
  void Tell(const Report&) override {}
  void Progress(const std::string&, const std::string&, int) override {}
  void Advanced(std::int64_t bytes) override { bytes_ += bytes; }

 private:
  std::atomic<std::int64_t>& bytes_;
};

}  // namespace

Batch::Batch(int workers, Run run, Tell tell, Waiting waiting, std::size_t folders)
    : run_(std::move(run)),
      tell_(std::move(tell)),
      waiting_(std::move(waiting)),
      window_(kWindow),
      folder_window_(folders) {
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

Batch::~Batch() { Finish(); }

void Batch::Work() {
  ByteCounter progress(bytes_done_);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_added_.wait(lock, [this] { return !queue_.empty() || closing_; });
    if (queue_.empty()) return;
    const std::uint64_t number = queue_.front();
    queue_.pop_front();
    const BatchJob& job = *entries_[number].job;  // stays until it is told
    lock.unlock();
    BatchResult result = run_(job, progress);
    lock.lock();
    Entry& entry = entries_[number];
    entry.result = std::move(result);
    entry.finished = true;
    FolderState& folder = folders_[job.folder.get()];
    --folder.at_work;
    if (entry.result.done) folder.renamed.push_back(number);
    ++files_done_;
    work_finished_.notify_all();
  }
}

void Batch::Add(BatchJob job) {
  std::unique_lock<std::mutex> lock(mutex_);
  const os::Folder* folder = job.folder.get();
  // Each folder at work holds a file open: a new one waits for room.
  while (folders_.count(folder) == 0 && folders_.size() >= folder_window_ && next_to_tell_ < next_to_add_) {
    if (!TellFinished(lock, true)) Wait(lock);
  }
  if (folder != last_folder_) {
    // Files come folder by folder: the one before has all its files now.
    if (last_folder_ != nullptr) folders_[last_folder_].complete = true;
    last_folder_ = folder;
    folders_[folder].complete = false;
  }
  const std::uint64_t number = next_to_add_++;
  Entry& entry = entries_[number];
  entry.job.reset(new BatchJob(std::move(job)));
  ++folders_[folder].at_work;
  ++files_added_;
  if (workers_.empty()) {
    ByteCounter progress(bytes_done_);
    lock.unlock();
    BatchResult result = run_(*entry.job, progress);
    lock.lock();
    entry.result = std::move(result);
    entry.finished = true;
    FolderState& state = folders_[folder];
    --state.at_work;
    if (entry.result.done) state.renamed.push_back(number);
    ++files_done_;
  } else {
    queue_.push_back(number);
    work_added_.notify_one();
  }
  while (next_to_add_ - next_to_tell_ >= window_) {
    if (!TellFinished(lock, true)) Wait(lock);
  }
  TellFinished(lock, false);
}

void Batch::AddLine(const std::string& line, bool failed) {
  std::unique_lock<std::mutex> lock(mutex_);
  Entry& entry = entries_[next_to_add_++];
  entry.result.lines.push_back(line);
  entry.result.failed = failed;
  entry.finished = true;
  TellFinished(lock, false);
}

void Batch::Finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (last_folder_ != nullptr) folders_[last_folder_].complete = true;
  closing_ = true;
  work_added_.notify_all();
  while (next_to_tell_ < next_to_add_) {
    if (!TellFinished(lock, true)) Wait(lock);
  }
  lock.unlock();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
}

void Batch::Wait(std::unique_lock<std::mutex>& lock) {
  work_finished_.wait_for(lock, std::chrono::milliseconds(100));
  lock.unlock();
  waiting_();
  lock.lock();
}

bool Batch::TellFinished(std::unique_lock<std::mutex>& lock, bool must_flush) {
  bool told = false;
  for (;;) {
    const auto next = entries_.find(next_to_tell_);
    if (next == entries_.end() || !next->second.finished) return told;
    Entry& entry = next->second;
    if (entry.job && entry.result.done && !entry.result.flushed && entry.result.flush_error.code == 0) {
      FolderState& state = folders_[entry.job->folder.get()];
      // Its folder is flushed once the files renamed into it are all there,
      // and no more of them are to come; sooner only when the command waits.
      if (state.at_work > 0 || (!state.complete && !must_flush)) return told;
      Flush(lock, state);
      continue;
    }
    Entry done = std::move(entry);
    entries_.erase(next);
    ++next_to_tell_;
    if (done.job) {
      const auto state = folders_.find(done.job->folder.get());
      if (state != folders_.end() && state->second.complete && state->second.at_work == 0 &&
          state->second.renamed.empty() && state->first != last_folder_) {
        folders_.erase(state);
      }
    }
    lock.unlock();
    static const BatchJob kNoJob;
    tell_(done.job ? *done.job : kNoJob, done.result);
    lock.lock();
    told = true;
  }
}

void Batch::Flush(std::unique_lock<std::mutex>& lock, FolderState& state) {
  const std::vector<std::uint64_t> renamed = std::move(state.renamed);
  state.renamed.clear();
  // Each file renamed into it holds the folder open; the first is enough.
  const std::shared_ptr<const os::Folder> open = entries_[renamed.front()].job->folder;
  lock.unlock();
  const bool flushed = open->Flush();
  const os::Error error = flushed ? os::Error() : os::LastError();
  lock.lock();
  for (std::uint64_t number : renamed) {
    BatchResult& result = entries_[number].result;
    result.flushed = flushed;
    result.flush_error = flushed ? os::Error() : (error.code != 0 ? error : os::Error{-1, "unknown error"});
  }
}
