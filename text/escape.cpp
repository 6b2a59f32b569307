#include "text/escape.h"

#include "text/utf16.h"

namespace {

bool Shows(char32_t character) {
  if (character < 0x20 || character == 0x7F) return false;
  if (character >= 0x80 && character < 0xA0) return false;       // C1 controls
  if (character >= 0xD800 && character <= 0xDFFF) return false;  // lone surrogates
  return character < kNotUtf8;
}

}  // namespace

std::string Escaped(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    if (Shows(NextCharacter(text, &i))) {
      shown.append(text, start, i - start);
      continue;
    }
    for (std::size_t k = start; k < i; ++k) {
      const unsigned char byte = static_cast<unsigned char>(text[k]);
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    }
  }
  return shown;
}
