// The one path splitter, in both syntaxes: the drive, the folders, the name
// and the extension are the path in order, each whole or cut to kMaxPart
// characters, never inside one; FolderPart and NamePart are the path, uncut.

#include "text/path_split.h"

#include "fuzz/fuzz.h"

namespace {

void CheckSplit(const std::string& path, const PathSyntax& syntax) {
  const std::string folder = FolderPart(path, syntax);
  const std::string name = NamePart(path, syntax);
  REQUIRE(folder + name == path);
  REQUIRE(name.find_first_of(syntax.separators) == std::string::npos);
  const PathParts parts = SplitPath(path, syntax);
  const bool drive = syntax.drive_letters && path.size() >= 2 && path[1] == ':';
  REQUIRE(parts.drive == path.substr(0, drive ? 2 : 0));
  REQUIRE(folder.compare(0, parts.drive.size(), parts.drive) == 0);
  const std::string directory = folder.substr(parts.drive.size());
  REQUIRE(directory.empty() || std::string(syntax.separators).find(directory.back()) != std::string::npos);
  const std::string::size_type dot = name.rfind('.');
  REQUIRE(IsCutOf(parts.directory, directory, kMaxPart));
  REQUIRE(IsCutOf(parts.name, name.substr(0, dot), kMaxPart));
  REQUIRE(IsCutOf(parts.extension, dot == std::string::npos ? "" : name.substr(dot), kMaxPart));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = Text(data, size);
  CheckSplit(path, kWindowsPaths);
  CheckSplit(path, kPosixPaths);
  return 0;
}
