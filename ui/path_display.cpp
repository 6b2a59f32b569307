#include "ui/path_display.h"

#include "ui/format.h"
#include "text/path_split.h"
#include "text/utf16.h"

std::string AbbreviatedPath(const std::string& path) {
  // Characters as the field shows them, not the bytes of their UTF-8.
  std::size_t characters = 0;
  for (std::size_t i = 0; i < path.size() && characters <= 20; ++characters) NextCharacter(path, &i);
  if (characters <= 20) return path;
  // Windows paths, on whichever platform this is built for its tests.
  const PathParts parts = SplitPath(path, kWindowsPaths);
  return Format("%s\\...\\%s%s", parts.drive.c_str(), parts.name.c_str(), parts.extension.c_str());
}
