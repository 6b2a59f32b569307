#pragma once

#include <string>

// Paths and texts travel as UTF-8 inside both programs; Windows takes them
// as UTF-16 at its seam. A name Windows holds that is no valid UTF-16 (a lone
// surrogate) keeps its code unit, as three bytes of its own, so every name
// the system can give comes back to it exactly. Bytes that are no UTF-8 read
// as U+FFFD.
std::wstring Utf16(const std::string& utf8);
std::string Utf8(const std::wstring& utf16);
