// An escaped name holds no control character, no byte that is no UTF-8 and no
// lone surrogate, so it can neither forge a line nor send an escape sequence;
// what it shows it shows as it is, and it loses nothing: read back, its \xHH
// give the name (where the name holds no backslash of its own).

#include "text/escape.h"

#include "fuzz/fuzz.h"

namespace {

std::string Unescaped(const std::string& shown) {
  std::string text;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (shown.compare(i, 2, "\\x") == 0 && i + 4 <= shown.size()) {
      text += static_cast<char>(std::stoi(shown.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      text += shown[i];
    }
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name = Text(data, size);
  const std::string shown = Escaped(name);
  for (char byte : shown) REQUIRE(static_cast<unsigned char>(byte) >= 0x20 && byte != 0x7F);
  for (char32_t c : Characters(shown)) {
    REQUIRE(c < kNotUtf8 && !(c >= 0x80 && c < 0xA0) && !(c >= 0xD800 && c <= 0xDFFF));
  }
  REQUIRE(Escaped(shown) == shown);
  if (name.find('\\') == std::string::npos) REQUIRE(Unescaped(shown) == name);
  return 0;
}
