#pragma once

#include <functional>
#include <string>
#include <vector>

#include "os/file_system.h"

namespace os {

struct WalkEntry {
  enum Kind {
    kFile,    // a regular file
    kLink,    // a symbolic link, not followed
    kOther,   // a FIFO, socket or device
    kFailed,  // a folder that could not be read, or an entry that could not be looked at (error)
  } kind = kFailed;
  std::string shown;  // the path as reached from the root the user named
  std::string here;   // the path to use now, from the current folder, which the walk has entered
  Error error;
};

// Visits every entry under the roots but the folders themselves, in the
// order of their names. Each folder is entered through its parent, never
// through a symbolic link, and the walk goes no further where a folder was
// swapped for another meanwhile; the current folder is given back at the
// end. A root must be no link. Returns false when visit asked to stop.
bool WalkTrees(const std::vector<std::string>& roots, const std::function<bool(const WalkEntry&)>& visit);

}  // namespace os
