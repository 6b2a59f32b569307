#include "cli/done_files.h"

namespace {

// Whether a file found again is still as this command left it: a done one as
// its result was (where FUSE keeps what it last saw of each spelling a while,
// only the length is sure), a tried one as it was tried.
bool StillAsLeft(const DoneFiles::Identity& file, const os::FileStamp& left, bool tried, bool by_listing) {
  const os::FileStamp& now = file.facts.stamp;
  if (tried) return now == left;
  return left.size == now.size && (by_listing || left.modified == now.modified);
}

}  // namespace

DoneFiles::Entry* DoneFiles::Find(const Identity& file) {
  const os::FileStamp& now = file.facts.stamp;
  const auto holds = [&](Entry& entry, bool by_listing) {
    return entry.state == Entry::State::kAtWork ||
           StillAsLeft(file, entry.stamp, entry.state == Entry::State::kTried, by_listing);
  };
  const auto by_number = by_number_.find({now.volume, now.index});
  if (by_number != by_number_.end() && holds(by_number->second, false)) return &by_number->second;
  if (file.listed.empty()) return nullptr;
  const auto by_listing = by_listing_.find({now.volume, file.listed});
  if (by_listing == by_listing_.end()) return nullptr;
  const auto listed = by_number_.find(by_listing->second);
  return listed != by_number_.end() && holds(listed->second, true) ? &listed->second : nullptr;
}

DoneFiles::Claim DoneFiles::Take(const Identity& file, const std::string& name, std::string* earlier) {
  std::unique_lock<std::mutex> lock(mutex_);
  Entry* entry = Find(file);
  if (entry != nullptr && entry->state != Entry::State::kAtWork) {
    *earlier = entry->name;
    return entry->state == Entry::State::kDone ? Claim::kDone : Claim::kTried;
  }
  if (entry != nullptr) {
    // The same file under another name, at work: once that run ends, the
    // file may be another (the result) or hold other facts.
    released_.wait(lock, [&] {
      const Entry* now = Find(file);
      return now == nullptr || now->state != Entry::State::kAtWork;
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

void DoneFiles::Expect(const Identity& file, const os::FileStamp& result) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto claim = by_number_.find({file.facts.stamp.volume, file.facts.stamp.index});
  if (claim != by_number_.end()) by_number_[{result.volume, result.index}] = claim->second;
}

bool DoneFiles::AwaitIfAtWork(const Identity& file) {
  std::unique_lock<std::mutex> lock(mutex_);
  const Entry* entry = Find(file);
  if (entry == nullptr || entry->state != Entry::State::kAtWork) return false;
  released_.wait(lock, [&] {
    const Entry* now = Find(file);
    return now == nullptr || now->state != Entry::State::kAtWork;
  });
  return true;
}

void DoneFiles::Release(const Identity& file, bool done, const os::FileStamp& result) {
  std::lock_guard<std::mutex> lock(mutex_);
  const ByNumber number = {file.facts.stamp.volume, file.facts.stamp.index};
  // What Expect put under the result's number goes.
  if (result.known() && ByNumber{result.volume, result.index} != number) by_number_.erase({result.volume, result.index});
  const auto claim = by_number_.find(number);
  if (claim != by_number_.end()) {
    Entry entry = claim->second;
    by_number_.erase(claim);
    // Done, the path holds another file now, the result: that is the one
    // done. Tried, the file is known as it was tried.
    entry.state = done ? Entry::State::kDone : Entry::State::kTried;
    entry.stamp = done ? result : file.facts.stamp;
    const ByNumber kept = done ? ByNumber{result.volume, result.index} : number;
    by_number_[kept] = entry;
    if (!file.listed.empty()) by_listing_[{kept.first, file.listed}] = kept;
  }
  released_.notify_all();
}
