#include "os/file_set.h"

#include "os/file_system.h"

namespace os {

std::string FileSet::Find(const std::string& path) const {
  const FileStatus status = StatusOf(path);
  if (!status.exists) return "";
  const auto found = members_.find(Key(status.stamp.volume, status.stamp.size, status.stamp.modified));
  if (found == members_.end()) return "";
  for (const Member& member : found->second) {
    if (SameFile(path, member.absolute)) return member.name;
  }
  return "";
}

void FileSet::Add(const std::string& path, const std::string& name) {
  const FileStatus status = StatusOf(path);
  if (!status.exists) return;
  members_[Key(status.stamp.volume, status.stamp.size, status.stamp.modified)].push_back({AbsolutePath(path), name});
}

}  // namespace os
