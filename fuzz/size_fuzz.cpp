// ParseSize takes what the manual page allows, and only that: digits, then
// K, M or G (or k, m, g) for 1024, 1024^2, 1024^3; not 0, and no more than 64
// bits hold. Refused, it leaves the size.

#include "cli/options.h"
#include "fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = Text(data, size);
  const std::string::size_type end = text.find_first_not_of("0123456789");
  const std::string unit = end == std::string::npos ? "" : text.substr(end);
  const std::string::size_type scale = std::string("KMG").find(static_cast<char>(std::toupper(unit[0])));
  const bool written_right = end != 0 && !text.empty() && (unit.empty() || (unit.size() == 1 && scale != std::string::npos));
  // Digits past the leading zeros: more than 20 are beyond 64 bits anyway.
  const std::string digits = text.substr(0, end);
  const std::string significant = digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
  unsigned __int128 value = 0;
  for (char digit : significant.substr(0, 21)) value = value * 10 + static_cast<unsigned>(digit - '0');
  if (!unit.empty() && scale != std::string::npos) value <<= 10 * (scale + 1);
  const bool allowed = written_right && significant.size() <= 20 && value != 0 && value <= UINT64_MAX;
  std::uint64_t parsed_size = 77;
  const bool parsed = ParseSize(text, &parsed_size);
  REQUIRE(parsed == allowed);
  REQUIRE(parsed_size == (parsed ? static_cast<std::uint64_t>(value) : 77));
  return 0;
}
