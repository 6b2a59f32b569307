#pragma once

#include <cstdint>

// The title line is rewritten at every position that is a multiple of the
// step: each byte of a file under 20 bytes, else 10 to 15 times in all.
std::int64_t ProgressStep(std::int64_t length);

// The percentage shown at a position: i / length * 100 + 1 in double
// precision, truncated, so a 100-byte file shows 1% to 91%.
int ProgressPercent(std::int64_t position, std::int64_t length);
