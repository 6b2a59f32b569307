#pragma once

#include <cstdint>
#include <string>

// The numbers typed into the Windows program's fields, read and tidied by
// rules that need no window: the same on every platform, and testable on any.

// Reads a field as an unsigned number the way Windows' GetDlgItemInt does:
// leading blanks skipped, decimal digits up to the first other character; a
// sign, no digit or a number beyond 32 bits gives 0. Wine reads "-5"
// differently, so the program reads its fields with this instead.
std::uint32_t ParseUnsignedField(const std::string& text);

// The offset as the dialog keeps it while it is typed, from the number its
// field reads: above 255 stays above 255, for the clamp or the range check.
std::int32_t OffsetAsTyped(std::uint32_t read);

// The offset kept within 0 to 255: what the field shows once it is left, and
// where its arrows step from.
std::int32_t ClampedOffset(std::int32_t offset);
