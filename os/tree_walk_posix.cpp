#include "os/tree_walk.h"

#include <fts.h>

#include <cerrno>
#include <cstring>

namespace os {
namespace {

int ByName(const FTSENT** a, const FTSENT** b) { return std::strcmp((*a)->fts_name, (*b)->fts_name); }

WalkEntry EntryOf(const FTSENT& found) {
  WalkEntry entry;
  entry.shown = found.fts_path;
  entry.here = found.fts_accpath;
  switch (found.fts_info) {
    case FTS_F:
      entry.kind = WalkEntry::kFile;
      break;
    case FTS_SL:
    case FTS_SLNONE:
      entry.kind = WalkEntry::kLink;
      break;
    case FTS_DEFAULT:
      entry.kind = WalkEntry::kOther;
      break;
    case FTS_DC:  // a folder that holds itself, through a bind mount
      entry.error = {ELOOP, std::strerror(ELOOP)};
      break;
    default:
      entry.error = {found.fts_errno, std::strerror(found.fts_errno)};
      break;
  }
  return entry;
}

}  // namespace

bool WalkTrees(const std::vector<std::string>& roots, const std::function<bool(const WalkEntry&)>& visit) {
  std::vector<std::string> copies(roots);
  std::vector<char*> paths;
  for (std::string& root : copies) paths.push_back(&root[0]);
  paths.push_back(nullptr);
  // Without FTS_NOCHDIR the walk enters each folder by its handle and checks
  // that it is the folder its parent listed.
  FTS* walk = fts_open(paths.data(), FTS_PHYSICAL, ByName);
  if (walk == nullptr) {
    WalkEntry entry;
    entry.error = LastError();
    entry.shown = entry.here = roots.empty() ? "" : roots.front();
    return visit(entry);
  }
  bool go_on = true;
  while (go_on) {
    errno = 0;
    const FTSENT* found = fts_read(walk);
    if (found == nullptr) {
      if (errno != 0) {
        WalkEntry entry;
        entry.error = LastError();
        entry.shown = entry.here = roots.front();  // where the walk could go no further
        go_on = visit(entry);
      }
      break;
    }
    // A folder that could not be entered (no permission, swapped for a link
    // meanwhile) leaves its files untouched: that is said, not passed over.
    const bool folder = found->fts_info == FTS_D || found->fts_info == FTS_DP;
    if (folder && found->fts_errno == 0) continue;
    WalkEntry entry = EntryOf(*found);
    if (folder) entry.error = {found->fts_errno, std::strerror(found->fts_errno)};
    go_on = visit(entry);
  }
  if (fts_close(walk) != 0) {
    // The walk could not go back to the folder it started from, so later
    // paths, named from there, would name other files: nothing more is done.
    WalkEntry entry;
    entry.error = LastError();
    entry.shown = entry.here = roots.front();
    visit(entry);
    return false;
  }
  return go_on;
}

}  // namespace os
