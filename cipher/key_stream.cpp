#include "cipher/key_stream.h"

#include <algorithm>
#include <cstring>

KeyStream::KeyStream(os::InputFile& file, std::int64_t length) : file_(file), left_(length) {}

KeyStream::Read KeyStream::Next(std::uint8_t* out, std::size_t count) {
  const std::size_t from_file = static_cast<std::size_t>(std::min<std::int64_t>(left_, static_cast<std::int64_t>(count)));
  if (from_file > 0) {
    const std::int64_t got = file_.ReadFully(out, from_file);
    if (got < 0) return Read::kFailed;
    if (got != static_cast<std::int64_t>(from_file)) return Read::kChanged;
    left_ -= got;
    last_ = out[from_file - 1];
  }
  if (from_file < count) {
    if (!end_checked_) {
      std::uint8_t beyond;
      const std::int64_t got = file_.Read(&beyond, 1);
      if (got < 0) return Read::kFailed;
      if (got != 0) return Read::kChanged;
      end_checked_ = true;
    }
    std::memset(out + from_file, last_, count - from_file);
  }
  return Read::kDone;
}
