#include "os/file_system.h"

#include "os/handles.h"
#include "os/stop_request.h"

namespace os {

namespace handles {

bool WriteAll(std::intptr_t handle, const void* buffer, std::size_t size) {
  const char* bytes = static_cast<const char*>(buffer);
  while (size > 0) {
    const std::int64_t written = WriteSome(handle, bytes, size);
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<std::size_t>(written);
    // A write cut short by a stop (a reader that takes nothing more) is not
    // waited for again.
    if (size > 0 && StopRequested()) return false;
  }
  return true;
}

}  // namespace handles

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

Sameness CompareFiles(const std::string& a, const std::string& b, Error* error) {
  FileKey key_a;
  FileKey key_b;
  const Keyed keyed_a = KeyOf(a, &key_a, error);
  if (keyed_a == Keyed::kFailed) return Sameness::kUnknown;
  const Keyed keyed_b = KeyOf(b, &key_b, error);
  if (keyed_b == Keyed::kFailed) return Sameness::kUnknown;
  if (keyed_a == Keyed::kNothing || keyed_b == Keyed::kNothing) return Sameness::kDifferent;
  return key_a.IsSameFileAs(key_b) ? Sameness::kSame : Sameness::kDifferent;
}

bool SameFile(const std::string& a, const std::string& b) {
  Error ignored;
  return CompareFiles(a, b, &ignored) == Sameness::kSame;
}

}  // namespace os
