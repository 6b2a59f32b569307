#include "os/file_system.h"

namespace os {

std::int64_t InputFile::ReadFully(void* buffer, std::size_t size) {
  char* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const std::int64_t got = Read(bytes + done, size - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

}  // namespace os
