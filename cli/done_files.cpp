#include "cli/done_files.h"

namespace {

// The run's result, as another look finds it: where FUSE keeps what it last
// saw of each spelling a while, only the length is sure.
bool StillAsDone(const os::FileStamp& result, const os::FileStamp& now, bool by_listing) {
  return result.size == now.size && (by_listing || result.modified == now.modified);
}

}  // namespace

DoneFiles::Entry* DoneFiles::Find(const Identity& file) {
  const os::FileStamp& now = file.facts.stamp;
  const auto by_number = by_number_.find({now.volume, now.index});
  if (by_number != by_number_.end()) {
    Entry& entry = by_number->second;
    if (!entry.done || StillAsDone(entry.result, now, false)) return &entry;
  }
  if (file.listed.empty()) return nullptr;
  const auto by_listing = by_listing_.find({now.volume, file.listed});
  if (by_listing == by_listing_.end()) return nullptr;
  const auto listed = by_number_.find(by_listing->second);
  if (listed == by_number_.end()) return nullptr;
  Entry& entry = listed->second;
  return !entry.done || StillAsDone(entry.result, now, true) ? &entry : nullptr;
}

DoneFiles::Claim DoneFiles::Take(const Identity& file, const std::string& name, std::string* earlier) {
  std::unique_lock<std::mutex> lock(mutex_);
  Entry* entry = Find(file);
  if (entry != nullptr) {
    if (entry->done) {
      *earlier = entry->name;
      return Claim::kDone;
    }
    // The same file under another name, at work: once that run ends, the
    // file may be another (the result) or hold other facts.
    released_.wait(lock, [&] {
      const Entry* now = Find(file);
      return now == nullptr || now->done;
    });
    return Claim::kAgain;
  }
  const ByNumber number = {file.facts.stamp.volume, file.facts.stamp.index};
  Entry& claim = by_number_[number];
  claim = Entry();
  claim.name = name;
  if (!file.listed.empty()) by_listing_[{number.first, file.listed}] = number;
  return Claim::kMine;
}

void DoneFiles::Release(const Identity& file, bool done, const os::FileStamp& result) {
  std::lock_guard<std::mutex> lock(mutex_);
  const ByNumber number = {file.facts.stamp.volume, file.facts.stamp.index};
  const auto claim = by_number_.find(number);
  if (claim != by_number_.end()) {
    Entry entry = claim->second;
    by_number_.erase(claim);
    // The path holds another file now, the result: that is the one done.
    if (done) {
      entry.done = true;
      entry.result = result;
      const ByNumber resulting = {result.volume, result.index};
      by_number_[resulting] = entry;
      if (!file.listed.empty()) by_listing_[{resulting.first, file.listed}] = resulting;
    } else if (!file.listed.empty()) {
      by_listing_.erase({number.first, file.listed});
    }
  }
  released_.notify_all();
}
