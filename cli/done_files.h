#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "os/file_system.h"

// The files one command has at work or has done, so that a file met again
// under another name (a hard link, a path named twice, a file moved into a
// folder the walk had not reached yet, another spelling on a disk that folds
// case) is transformed once. A file is the same only while it is as the run
// left it: a number its disk gave to a new file after ours was removed is no
// match.
class DoneFiles {
 public:
  // What tells a file: its disk and number, and where the disk gives each
  // spelling a number of its own, its path as the folders list it.
  struct Identity {
    os::FileFacts facts;
    std::string listed;  // empty where the number tells
  };

  enum class Claim {
    kMine,   // nobody had it: this run may go on, and must Release it
    kDone,   // this command did it already, as *earlier names it
    kTried,  // this command tried it, as *earlier names it, and it is as that run left it
    kAgain,  // another run had it, and is done with it: look at the file again
  };

  // Claims the file for a run; while another run of this command is at work
  // on it, waits for that run to end.
  Claim Take(const Identity& file, const std::string& name, std::string* earlier);

  // The file a claim will leave at its path: another name that opens it
  // before the claim ends waits for it too.
  void Expect(const Identity& file, const os::FileStamp& result);

  // Whether the file is at work in another run of this command: then waits
  // for that run to end.
  bool AwaitIfAtWork(const Identity& file);

  // Ends a claim: done, the result as now stamped, or not.
  void Release(const Identity& file, bool done, const os::FileStamp& result);

 private:
  struct Entry {
    enum class State { kAtWork, kDone, kTried } state = State::kAtWork;
    std::string name;
    os::FileStamp stamp;  // kDone: the result; kTried: the file as it was tried
  };
  using ByNumber = std::pair<std::uint64_t, std::uint64_t>;
  using ByListing = std::pair<std::uint64_t, std::string>;

  // The entry that is this file, or null.
  Entry* Find(const Identity& file);

  std::mutex mutex_;
  std::condition_variable released_;
  std::map<ByNumber, Entry> by_number_;
  std::map<ByListing, ByNumber> by_listing_;
};
