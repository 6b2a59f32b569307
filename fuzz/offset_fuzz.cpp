// ParseOffset takes what the manual page allows, and only that: a whole
// number from 0 to 255, in decimal digits. Refused, it leaves the offset.

#include "cli/options.h"
#include "fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = Text(data, size);
  const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  // The number without its leading zeros, "0" for zero: its value is within
  // 0 to 255 when it has at most three digits and reads at most "255".
  const std::string number = digits ? text.substr(std::min(text.find_first_not_of('0'), text.size() - 1)) : "";
  const bool allowed = digits && (number.size() < 3 || (number.size() == 3 && number <= "255"));
  std::uint8_t offset = 77;
  const bool parsed = ParseOffset(text, &offset);
  REQUIRE(parsed == allowed);
  REQUIRE(offset == (parsed ? std::stoi(number) : 77));
  return 0;
}
