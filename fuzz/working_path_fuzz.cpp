// The working path stays in the data file's folder, is named after the data
// file's name up to its first full stop, ends with the working suffix, and is
// its own working path, so that a leftover is known by the same rule.

#include "cipher/transform.h"

#include "fuzz/fuzz.h"
#include "os/file_system.h"
#include "text/path_split.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = Text(data, size);
  const std::string working = WorkingPath(path);
  const std::string name = NamePart(path);
  REQUIRE(FolderPart(working) == FolderPart(path));
  REQUIRE(NamePart(working) == name.substr(0, name.find('.')) + "." + os::WorkingSuffix());
  REQUIRE(WorkingPath(working) == working);
  return 0;
}
