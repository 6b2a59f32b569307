#include "text/field_number.h"

#include <algorithm>

std::uint32_t ParseUnsignedField(const std::string& text) {
  std::string::size_type i = text.find_first_not_of(" \t");
  if (i == std::string::npos) return 0;
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (value > 0xFFFFFFFFu) return 0;
  }
  return static_cast<std::uint32_t>(value);
}

std::int32_t OffsetAsTyped(std::uint32_t read) {
  // A number past 31 bits is still a number too large, never a negative one
  // that the clamp would make 0.
  return static_cast<std::int32_t>(std::min<std::uint32_t>(read, INT32_MAX));
}

std::int32_t ClampedOffset(std::int32_t offset) {
  if (offset > 255) return 255;
  if (offset < 0) return 0;
  return offset;
}
