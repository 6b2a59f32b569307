#include "cipher/progress.h"

std::int64_t ProgressStep(std::int64_t length) {
  std::int64_t step = length / 10;
  return step == 0 ? 1 : step;
}

int ProgressPercent(std::int64_t position, std::int64_t length) {
  return static_cast<int>(static_cast<double>(position) / static_cast<double>(length) * 100.0 + 1.0);
}
