#include "os/path_split.h"

#include <algorithm>

#include "os/file_system.h"

namespace os {
namespace {

std::string Cut(const std::string& part) { return part.substr(0, kMaxPart); }

}  // namespace

std::string::size_type FileNameStart(const std::string& path) {
  std::string::size_type name_start = 0;
  for (std::string::size_type i = 0; i < path.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(byte) && i + 1 < path.size()) {
      ++i;
    } else if (byte == '\\' || byte == '/') {
      name_start = i + 1;
    }
  }
  return name_start;
}

PathParts SplitPath(const std::string& path) {
  PathParts parts;
  std::string::size_type start = 0;
  if (path.size() >= 2 && path[1] == ':') {
    parts.drive = path.substr(0, 2);
    start = 2;
  }
  const std::string::size_type name_start = std::max(start, FileNameStart(path));

  // The name starts just after a separator, so the scan starts in step with
  // the two-byte characters.
  std::string::size_type last_dot = std::string::npos;
  for (std::string::size_type i = name_start; i < path.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      ++i;
    } else if (path[i] == '.') {
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
