#include "text/path_split.h"

#include "text/utf16.h"

namespace {

// At most kMaxPart characters, never half of one; characters as every rule
// reads them, a byte that starts none among them.
std::string Cut(const std::string& part) {
  std::string::size_type i = 0;
  for (std::string::size_type characters = 0; i < part.size() && characters < kMaxPart; ++characters) {
    NextCharacter(part, &i);
  }
  return part.substr(0, i);
}

bool HasDrive(const std::string& path, const PathSyntax& syntax) {
  return syntax.drive_letters && path.size() >= 2 && path[1] == ':';
}

}  // namespace

std::string::size_type FileNameStart(const std::string& path, const PathSyntax& syntax) {
  const std::string::size_type drive = HasDrive(path, syntax) ? 2 : 0;
  const std::string::size_type separator = path.find_last_of(syntax.separators);
  // In \:x the backslash is the drive's first character, no separator.
  return separator != std::string::npos && separator >= drive ? separator + 1 : drive;
}

std::string FolderPart(const std::string& path, const PathSyntax& syntax) {
  return path.substr(0, FileNameStart(path, syntax));
}

std::string NamePart(const std::string& path, const PathSyntax& syntax) {
  return path.substr(FileNameStart(path, syntax));
}

PathParts SplitPath(const std::string& path, const PathSyntax& syntax) {
  PathParts parts;
  const std::string::size_type start = HasDrive(path, syntax) ? 2 : 0;
  parts.drive = path.substr(0, start);
  const std::string::size_type name_start = FileNameStart(path, syntax);
  const std::string::size_type last_dot = path.find_last_of('.');
  parts.directory = Cut(path.substr(start, name_start - start));
  if (last_dot == std::string::npos || last_dot < name_start) {
    parts.name = Cut(path.substr(name_start));
  } else {
    parts.name = Cut(path.substr(name_start, last_dot - name_start));
    parts.extension = Cut(path.substr(last_dot));
  }
  return parts;
}
