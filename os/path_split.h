#pragma once

#include <string>

namespace os {

struct PathParts {
  std::string drive;      // "C:" when the second character is a colon, else empty
  std::string directory;  // up to and including the last backslash or slash
  std::string name;       // up to the last full stop after the directory
  std::string extension;  // that full stop and the rest; empty without one
};

// Splits a path as the Windows run-time's splitter does, except that a part
// longer than kMaxPart characters is cut to kMaxPart rather than emptied.
// Backslash and slash both separate; a two-byte character is never split.
constexpr std::string::size_type kMaxPart = 255;
PathParts SplitPath(const std::string& path);

// Where the file's own name starts: just after the last backslash or slash,
// or 0 when there is none.
std::string::size_type FileNameStart(const std::string& path);

}  // namespace os
