#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace os {

// Files met in one command, found again under any other of their names: a
// hard or symbolic link, "./", another spelling on a disk that folds case.
class FileSet {
 public:
  // The name under which the file at path was added, or "" when it was not.
  std::string Find(const std::string& path) const;
  // Adds the file at path, as it is now, known as name.
  void Add(const std::string& path, const std::string& name);

 private:
  struct Member {
    std::string absolute;
    std::string name;
  };
  // By disk, size and time of change, which every name of a file shows alike.
  using Key = std::tuple<std::uint64_t, std::int64_t, std::int64_t>;
  std::map<Key, std::vector<Member>> members_;
};

}  // namespace os
