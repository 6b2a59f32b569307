// The offset field, read as Windows reads an unsigned field and tidied when
// it is left: blanks, then digits; the number they make, up to 255, or 255
// above it; 0 for no digit or a number beyond 32 bits, which Windows reads
// as none. What the field then shows reads back as itself.

#include "fuzz/fuzz.h"
#include "text/field_number.h"

namespace {

std::int32_t Tidied(const std::string& typed) { return ClampedOffset(OffsetAsTyped(ParseUnsignedField(typed))); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string typed = Text(data, size);
  if (typed.find('\0') != std::string::npos) return 0;  // a field's text ends there
  const std::string::size_type start = std::min(typed.find_first_not_of(" \t"), typed.size());
  const std::string digits = typed.substr(start, typed.find_first_not_of("0123456789", start) - start);
  const std::string number = digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
  const bool within_32_bits = number.size() < 10 || (number.size() == 10 && number <= "4294967295");
  const std::uint64_t value = within_32_bits && !number.empty() ? std::stoull(number) : 0;
  REQUIRE(ParseUnsignedField(typed) == value);
  const std::int32_t shown = Tidied(typed);
  REQUIRE(shown == static_cast<std::int32_t>(std::min<std::uint64_t>(value, 255)));
  REQUIRE(Tidied(std::to_string(shown)) == shown);
  return 0;
}
