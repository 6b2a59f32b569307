#include "os/path_split.h"

#include "os/file_system.h"

namespace os {
namespace {

std::string Cut(const std::string& part) { return part.substr(0, kMaxPart); }

}  // namespace

PathParts SplitPath(const std::string& path) {
  PathParts parts;
  std::string::size_type start = 0;
  if (path.size() >= 2 && path[1] == ':') {
    parts.drive = path.substr(0, 2);
    start = 2;
  }

  std::string::size_type name_start = start;
  std::string::size_type last_dot = std::string::npos;
  for (std::string::size_type i = start; i < path.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(byte) && i + 1 < path.size()) {
      ++i;
    } else if (byte == '\\' || byte == '/') {
      name_start = i + 1;
      last_dot = std::string::npos;
    } else if (byte == '.') {
      last_dot = i;
    }
  }

  parts.directory = Cut(path.substr(start, name_start - start));
  if (last_dot == std::string::npos) {
    parts.name = Cut(path.substr(name_start));
  } else {
    parts.name = Cut(path.substr(name_start, last_dot - name_start));
    parts.extension = Cut(path.substr(last_dot));
  }
  return parts;
}

}  // namespace os
