#pragma once

// The walk of -r (POSIX): every entry under a folder the user named, each
// folder entered from its parent and held open while its files are at work,
// so that a folder renamed or swapped for a link meanwhile can send no step
// outside the tree, and the walk needs no current folder of its own: many
// files may be at work at once.

#include <memory>
#include <string>
#include <vector>

#include "os/file_system.h"

namespace os {

struct WalkEntry {
  enum Kind {
    kFile,    // a regular file, as its folder listed it
    kLink,    // a symbolic link, not followed
    kOther,   // a FIFO, socket or device
    kFailed,  // a folder that could not be entered or listed whole (error): its files are left as they are
  } kind = kFailed;
  std::shared_ptr<const Folder> folder;  // the open folder that holds it; none for kFailed
  std::string name;                      // its name in that folder
  std::string shown;                     // its path from the root the user named
  Error error;
};

class TreeWalk {
 public:
  // Walks the folder at root; the root itself must be no link.
  explicit TreeWalk(const std::string& root);
  ~TreeWalk();
  TreeWalk(const TreeWalk&) = delete;
  TreeWalk& operator=(const TreeWalk&) = delete;

  // The next entry: each folder's files by name, then each of its subfolders
  // in turn, by name. False at the end.
  bool Next(WalkEntry* entry);

 private:
  struct Level;
  // Enters the folder name in parent (none: the root), listing it; its files
  // and subfolders become the next entries. False, with *failed set, when it
  // cannot be entered or listed whole.
  bool Enter(const std::shared_ptr<const Folder>& parent, const std::string& name, const std::string& shown,
             WalkEntry* failed);

  std::string root_;
  bool started_ = false;
  std::vector<std::unique_ptr<Level>> levels_;
};

}  // namespace os
