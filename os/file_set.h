#pragma once

#include <map>
#include <string>
#include <utility>

#include "os/file_system.h"

namespace os {

// Files met in one command, found again under any other of their names: a
// hard or symbolic link, "./", another spelling on a disk that folds case.
class FileSet {
 public:
  enum class Found { kNo, kYes, kUnknown };
  // Whether the file at path was added, and under which name; unknown (with
  // the system's reason) when the system cannot say.
  Found Find(const std::string& path, std::string* name, Error* error) const;
  // Adds the file at path, as it is now, known as name.
  void Add(const std::string& path, const std::string& name);

 private:
  // The disk, and the number or the listed path that tells the file.
  using Key = std::pair<std::uint64_t, std::string>;
  static Key KeyFor(const FileKey& key);
  std::map<Key, std::string> members_;
  // Files whose key could not be taken once they were done: compared one by one.
  std::map<std::string, std::string> unkeyed_;
};

}  // namespace os
