// The two foldings of names, given two names on two lines (or one name and
// itself). FoldedName keeps one character for each, is idempotent, and never
// minds the case of ASCII letters; SamePathText ignores the case of ASCII
// letters and nothing else, and names it takes for one fold to one name.

#include "text/fold.h"

#include "fuzz/fuzz.h"

namespace {

// The text of folded characters, a byte that was no UTF-8 as that byte.
std::string Spelled(const std::u32string& folded) {
  std::string text;
  for (char32_t c : folded) text += EncodedUtf8(c);
  return text;
}

std::string AsciiCase(std::string text, int (*change)(int)) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x80) c = static_cast<char>(change(c));
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = Text(data, size);
  const std::string::size_type line_end = text.find('\n');
  const std::string a = text.substr(0, line_end);
  const std::string b = line_end == std::string::npos ? a : text.substr(line_end + 1);
  const std::u32string folded = FoldedName(a);
  REQUIRE(folded.size() == Characters(a).size());
  REQUIRE(FoldedName(Spelled(folded)) == folded);
  REQUIRE(FoldedName(AsciiCase(a, ::tolower)) == folded);
  REQUIRE(FoldedName(AsciiCase(a, ::toupper)) == folded);

  REQUIRE(SamePathText(a, b) == (AsciiCase(a, ::tolower) == AsciiCase(b, ::tolower)));
  REQUIRE(SamePathText(a, b) == SamePathText(b, a));
  if (SamePathText(a, b)) REQUIRE(FoldedName(a) == FoldedName(b));
  return 0;
}
