#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <tuple>

#include "os/file_system.h"

// Files of one command that must not run side by side.

// The line of files on a FUSE disk: exfat-fuse has been seen to fail for good
// when a file is renamed while another spelling of it is open, so there files
// run one at a time, in the command's order, as one worker would run them.
class Line {
 public:
  // A place in the line, from 1, given in the command's order.
  std::uint64_t Join() { return ++joined_; }

  // Waits for the place's turn; the next place's turn comes when the
  // returned object goes. Place 0 is in no line.
  class Turn {
   public:
    Turn(Line& line, std::uint64_t place);
    ~Turn();
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

   private:
    Line& line_;
    const std::uint64_t place_;
  };

 private:
  std::uint64_t joined_ = 0;  // only the adding thread joins
  std::mutex mutex_;
  std::condition_variable moved_;
  std::uint64_t serving_ = 1;
};

// Two files of one folder whose working files would have one name
// (report.txt and report.pdf, .bashrc and .profile): the second waits for the
// first, rather than find the first one's working file in its way.
class WorkingNames {
 public:
  class Hold {
   public:
    Hold(WorkingNames& names, const os::FileStamp& folder, const std::string& working_name);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    WorkingNames& names_;
    const std::tuple<std::uint64_t, std::uint64_t, std::string> taken_;
  };

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  std::set<std::tuple<std::uint64_t, std::uint64_t, std::string>> taken_;
};
