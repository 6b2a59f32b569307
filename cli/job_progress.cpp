#include "cli/job_progress.h"

#include <cstdio>

namespace {

// Rewritten about four times a second: often enough to look alive, seldom
// enough to cost nothing.
constexpr auto kEvery = std::chrono::milliseconds(250);

std::string Duration(double seconds) {
  const long total = static_cast<long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

}  // namespace

std::string Bytes(double bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 5) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
  return text;
}

JobProgress::JobProgress() : started_(Clock::now()), shown_(started_) {}

std::string JobProgress::Line(std::int64_t files_done, std::int64_t files_found, bool all_found,
                              std::int64_t bytes) {
  const Clock::time_point now = Clock::now();
  if (now - shown_ < kEvery) return "";
  shown_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  std::string line = std::to_string(files_done) + " of " + std::to_string(files_found) + (all_found ? "" : "+") +
                     " files, " + Bytes(static_cast<double>(bytes)) + ", " + Bytes(bytes / seconds) + "/s";
  if (all_found && files_done > 0 && files_done < files_found) {
    line += ", " + Duration(seconds * static_cast<double>(files_found - files_done) / files_done) + " left";
  }
  return line;
}
