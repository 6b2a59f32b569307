// The display of a chosen path: whole up to 20 characters; else its drive,
// "\...\" and its file name, whole where the name is no longer than a part
// may be, and never cut inside a character.

#include "ui/path_display.h"

#include "fuzz/fuzz.h"
#include "text/path_split.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = Text(data, size);
  if (path.find('\0') != std::string::npos) return 0;  // no path holds one
  const std::string shown = AbbreviatedPath(path);
  if (Characters(path).size() <= 20) {
    REQUIRE(shown == path);
    return 0;
  }
  const std::string drive = path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : "";
  const std::string start = drive + "\\...\\";
  REQUIRE(shown.compare(0, start.size(), start) == 0);
  const std::string name = NamePart(path, kWindowsPaths);
  const std::string::size_type dot = name.rfind('.');
  const std::string stem = name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  const std::u32string shown_name = Characters(shown.substr(start.size()));
  if (Characters(stem).size() <= kMaxPart && Characters(extension).size() <= kMaxPart) {
    REQUIRE(shown_name == Characters(name));
  }
  REQUIRE(shown_name.size() <= 2 * kMaxPart);
  const std::u32string characters = Characters(path);
  if (std::all_of(characters.begin(), characters.end(), [](char32_t c) { return c < kNotUtf8; })) {
    for (char32_t c : shown_name) REQUIRE(c < kNotUtf8);
  }
  return 0;
}
