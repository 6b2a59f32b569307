#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// The one progress line of a command on many files: files done of the files
// found so far, bytes, rate, and time left once the walk has found them all.
class JobProgress {
 public:
  JobProgress();

  // The line now, or empty when it was shown too short a while ago to be
  // worth rewriting.
  std::string Line(std::int64_t files_done, std::int64_t files_found, bool all_found, std::int64_t bytes);

 private:
  using Clock = std::chrono::steady_clock;
  Clock::time_point started_;
  Clock::time_point shown_;
};

// A count of bytes as people read it: 512 B, 3.4 KiB, 12.0 MiB.
std::string Bytes(double bytes);
