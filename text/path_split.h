#pragma once

#include <string>

// How a platform writes paths: the characters that separate folders, and
// whether a path may start with a drive ("C:").
struct PathSyntax {
  const char* separators;
  bool drive_letters;
};
constexpr PathSyntax kWindowsPaths = {"\\/", true};
constexpr PathSyntax kPosixPaths = {"/", false};
#ifdef _WIN32
constexpr PathSyntax kNativePaths = kWindowsPaths;
#else
constexpr PathSyntax kNativePaths = kPosixPaths;
#endif

struct PathParts {
  std::string drive;      // "C:" when drives exist and the second character is a colon, else empty
  std::string directory;  // up to and including the last separator
  std::string name;       // up to the last full stop after the directory
  std::string extension;  // that full stop and the rest; empty without one
};

// The one splitter of paths, for every caller. Splits as the Windows
// run-time's splitter does, except that a part longer than kMaxPart
// characters is cut to kMaxPart characters rather than emptied. Paths are
// UTF-8 (or bytes on POSIX), whose multi-byte characters never hold a
// separator or a full stop.
constexpr std::string::size_type kMaxPart = 255;
PathParts SplitPath(const std::string& path, const PathSyntax& syntax = kNativePaths);

// Where the file's own name starts: just after the drive or the last
// separator, or 0 when there is neither.
std::string::size_type FileNameStart(const std::string& path, const PathSyntax& syntax = kNativePaths);

// The path up to where the file's name starts ("" for a bare name), and the
// name itself. Neither is cut.
std::string FolderPart(const std::string& path, const PathSyntax& syntax = kNativePaths);
std::string NamePart(const std::string& path, const PathSyntax& syntax = kNativePaths);
