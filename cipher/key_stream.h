#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "os/file_system.h"

// The key file's bytes in order; once they run out, the last one again and
// again. A key file with no bytes at all gives 0 throughout.
class KeyStream {
 public:
  KeyStream(os::InputFile& file, std::size_t buffer_size);

  // Fills out with the next count key bytes; false when the key file could
  // not be read.
  bool Next(std::uint8_t* out, std::size_t count);

 private:
  os::InputFile& file_;
  std::vector<std::uint8_t> buffer_;
  std::size_t position_ = 0;
  std::size_t filled_ = 0;
  bool exhausted_ = false;
  std::uint8_t last_ = 0;
};
