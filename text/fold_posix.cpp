#include <locale.h>
#include <wctype.h>

#include "text/fold.h"
#include "text/utf16.h"

std::u32string FoldedName(const std::string& name) {
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  std::u32string folded;
  for (std::size_t i = 0; i < name.size();) {
    char32_t character = NextCharacter(name, &i);
    if (character < 0x80) {
      if (character >= 'a' && character <= 'z') character -= 'a' - 'A';
    } else if (character <= 0xFFFF && unicode != nullptr) {
      character = static_cast<char32_t>(towupper_l(static_cast<wint_t>(character), unicode));
    }
    folded += character;
  }
  return folded;
}
