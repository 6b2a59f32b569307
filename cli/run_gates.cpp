#include "cli/run_gates.h"

Line::Turn::Turn(Line& line, std::uint64_t place) : line_(line), place_(place) {
  if (place_ == 0) return;
  std::unique_lock<std::mutex> lock(line_.mutex_);
  line_.moved_.wait(lock, [&] { return line_.serving_ == place_; });
}

Line::Turn::~Turn() {
  if (place_ == 0) return;
  std::lock_guard<std::mutex> lock(line_.mutex_);
  ++line_.serving_;
  line_.moved_.notify_all();
}

WorkingNames::Hold::Hold(WorkingNames& names, const os::FileStamp& folder, const std::string& working_name)
    : names_(names), taken_(folder.volume, folder.index, working_name) {
  std::unique_lock<std::mutex> lock(names_.mutex_);
  names_.released_.wait(lock, [&] { return names_.taken_.count(taken_) == 0; });
  names_.taken_.insert(taken_);
}

WorkingNames::Hold::~Hold() {
  std::lock_guard<std::mutex> lock(names_.mutex_);
  names_.taken_.erase(taken_);
  names_.released_.notify_all();
}
