#include "framework/dialog_number.h"

#include <vector>

UINT GetDlgItemUnsigned(HWND dialog, int id) {
  HWND field = GetDlgItem(dialog, id);
  if (field == nullptr) return 0;
  std::vector<char> text(static_cast<std::size_t>(GetWindowTextLengthA(field)) + 1);
  GetWindowTextA(field, text.data(), static_cast<int>(text.size()));
  return ParseUnsignedField(text.data());
}
