#pragma once

#include <string>

// Paths and texts travel as UTF-8 inside both programs; Windows takes them
// as UTF-16 at its seam. A name Windows holds that is no valid UTF-16 (a lone
// surrogate) keeps its code unit, as three bytes of its own, so every name
// the system can give comes back to it exactly. Bytes that are no UTF-8 read
// as U+FFFD.
std::wstring Utf16(const std::string& utf8);
std::string Utf8(const std::wstring& utf16);

// The character of UTF-8 text at *i, past which *i moves. A byte that starts
// no valid character is read alone, as kNotUtf8 plus its value: apart from
// every character, and from every other such byte.
constexpr char32_t kNotUtf8 = 0x110000;
char32_t NextCharacter(const std::string& text, std::size_t* i);
