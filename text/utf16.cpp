#include "text/utf16.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void Append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

char32_t NextCharacter(const std::string& text, std::size_t* i) {
  const unsigned char lead = static_cast<unsigned char>(text[*i]);
  const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                           : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  bool valid = length != 0 && *i + length <= text.size();
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; valid && k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[*i + k]);
    valid = (next & 0xC0) == 0x80;
    c = (c << 6) | (next & 0x3F);
  }
  const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (!valid || c < least[length] || c > 0x10FFFF) {
    ++*i;
    return kNotUtf8 + lead;
  }
  *i += length;
  return c;
}

std::wstring Utf16(const std::string& utf8) {
  std::wstring out;
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = NextCharacter(utf8, &i);
    if (c >= kNotUtf8) c = kReplacement;
    if (c >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);  // a lone surrogate stays one
    }
  }
  return out;
}

std::string Utf8(const std::wstring& utf16) {
  std::string out;
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char32_t unit = static_cast<char32_t>(utf16[i]) & 0xFFFF;
    const char32_t next = i + 1 < utf16.size() ? static_cast<char32_t>(utf16[i + 1]) & 0xFFFF : 0;
    if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      Append(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
      ++i;
    } else {
      Append(out, unit);
    }
  }
  return out;
}
