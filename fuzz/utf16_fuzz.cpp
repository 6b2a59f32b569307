// UTF-8 and the UTF-16 of the Windows seam. Every character NextCharacter
// reads is written as its shortest UTF-8, and a byte it reads alone starts
// none; any UTF-16, lone surrogates too, goes to UTF-8 and back exactly, and
// UTF-8 goes to UTF-16 and back exactly unless it holds bytes that are no
// UTF-8 or a surrogate pair written as two lone ones.

#include "fuzz/fuzz.h"

namespace {

// Whether the bytes at start hold a character in its one UTF-8 form.
bool CharacterAt(const std::string& text, std::size_t start) {
  for (std::size_t length = 1; length <= 4 && start + length <= text.size(); ++length) {
    const unsigned char lead = static_cast<unsigned char>(text[start]);
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[start + k]) & 0x3F);
    if (c <= 0x10FFFF && EncodedUtf8(c) == text.substr(start, length)) return true;
  }
  return false;
}

bool IsSurrogate(char32_t c, char32_t first) { return c >= first && c < first + 0x400; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = Text(data, size);
  bool exact = true;
  char32_t previous = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t c = NextCharacter(text, &i);
    REQUIRE(i > start && i <= text.size());
    REQUIRE(EncodedUtf8(c) == text.substr(start, i - start));
    REQUIRE((c >= kNotUtf8) == !CharacterAt(text, start));
    exact = exact && c < kNotUtf8 && !(IsSurrogate(previous, 0xD800) && IsSurrogate(c, 0xDC00));
    previous = c;
  }
  const std::wstring wide = Utf16(text);
  for (wchar_t unit : wide) REQUIRE(static_cast<std::uint32_t>(unit) <= 0xFFFF);
  if (exact) REQUIRE(Utf8(wide) == text);
  REQUIRE(Utf16(Utf8(wide)) == wide);

  std::wstring units;
  for (std::size_t i = 0; i + 1 < size; i += 2) units += static_cast<wchar_t>(data[i] | data[i + 1] << 8);
  const std::string narrow = Utf8(units);
  REQUIRE(Utf16(narrow) == units);
  for (char32_t c : Characters(narrow)) REQUIRE(c < kNotUtf8);
  return 0;
}
