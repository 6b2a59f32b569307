#include "framework/dialog_number.h"

#include <cstdint>
#include <vector>

UINT ParseUnsignedField(const std::string& text) {
  std::string::size_type i = text.find_first_not_of(" \t");
  if (i == std::string::npos) return 0;
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (value > 0xFFFFFFFFu) return 0;
  }
  return static_cast<UINT>(value);
}

UINT GetDlgItemUnsigned(HWND dialog, int id) {
  HWND field = GetDlgItem(dialog, id);
  if (field == nullptr) return 0;
  std::vector<char> text(static_cast<std::size_t>(GetWindowTextLengthA(field)) + 1);
  GetWindowTextA(field, text.data(), static_cast<int>(text.size()));
  return ParseUnsignedField(text.data());
}
