#pragma once

// What the fuzz targets share: a property that fails ends the run as a
// finding, said in one line; inputs read as text or lines; and an encoder of
// UTF-8 of our own, so that a target checks text/utf16.cpp against something
// it did not write.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/utf16.h"

#define REQUIRE(property) ((property) ? (void)0 : PropertyFailed(#property, __FILE__, __LINE__))

[[noreturn]] inline void PropertyFailed(const char* property, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, property);
  std::abort();  // libFuzzer keeps the input and says how to run it again
}

inline std::string Text(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// The text cut at each line end; "" gives no line, "a\n" gives "a" and "".
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
    if (start == text.size()) lines.emplace_back();
  }
  return lines;
}

// The shortest UTF-8 form of c (a surrogate too, in three bytes, as a lone
// one travels); a value from NextCharacter at or past kNotUtf8 gives back
// the byte it stood for.
inline std::string EncodedUtf8(char32_t c) {
  if (c >= kNotUtf8) return std::string(1, static_cast<char>(c - kNotUtf8));
  const int length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  static const unsigned kLead[] = {0, 0x00, 0xC0, 0xE0, 0xF0};
  std::string out(1, static_cast<char>(kLead[length] | (c >> (6 * (length - 1)))));
  for (int k = length - 2; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
  return out;
}

// The characters of text as every rule of ours reads them.
inline std::u32string Characters(const std::string& text) {
  std::u32string characters;
  for (std::size_t i = 0; i < text.size();) characters += NextCharacter(text, &i);
  return characters;
}

// Whether a character of text starts at byte at (or text ends there).
inline bool StartsCharacter(const std::string& text, std::size_t at) {
  std::size_t i = 0;
  while (i < at) NextCharacter(text, &i);
  return i == at;
}

// part is whole cut to at most limit characters, never inside one.
inline bool IsCutOf(const std::string& part, const std::string& whole, std::size_t limit) {
  const std::size_t characters = Characters(whole).size();
  return whole.compare(0, part.size(), part) == 0 && StartsCharacter(whole, part.size()) &&
         Characters(part).size() == (characters < limit ? characters : limit);
}
