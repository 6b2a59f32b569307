#include "os/file_set.h"

#include "os/posix.h"

namespace os {

FileSet::Key FileSet::KeyFor(const FileKey& key) {
  return {key.volume, key.listed.empty() ? "#" + std::to_string(key.index) : key.listed};
}

FileSet::Found FileSet::Find(const std::string& path, std::string* name, Error* error) const {
  FileKey key;
  const Keyed keyed = KeyOf(path, &key, error);
  if (keyed == Keyed::kFailed) return Found::kUnknown;
  if (keyed == Keyed::kNothing) return Found::kNo;
  const auto member = members_.find(KeyFor(key));
  if (member != members_.end()) {
    *name = member->second;
    return Found::kYes;
  }
  for (const auto& unkeyed : unkeyed_) {
    switch (CompareFiles(path, unkeyed.first, error)) {
      case Sameness::kSame:
        *name = unkeyed.second;
        return Found::kYes;
      case Sameness::kUnknown:
        return Found::kUnknown;
      case Sameness::kDifferent:
        break;
    }
  }
  return Found::kNo;
}

void FileSet::Add(const std::string& path, const std::string& name) {
  FileKey key;
  Error ignored;
  if (KeyOf(path, &key, &ignored) == Keyed::kKeyed) {
    members_[KeyFor(key)] = name;
  } else {
    unkeyed_[AbsolutePath(path)] = name;
  }
}

}  // namespace os
