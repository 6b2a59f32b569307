#include "cipher/key_stream.h"

#include <algorithm>
#include <cstring>

KeyStream::KeyStream(os::InputFile& file, std::size_t buffer_size) : file_(file), buffer_(buffer_size) {}

bool KeyStream::Next(std::uint8_t* out, std::size_t count) {
  while (count > 0) {
    if (position_ == filled_ && !exhausted_) {
      std::int64_t got = file_.Read(buffer_.data(), buffer_.size());
      if (got < 0) return false;
      exhausted_ = got == 0;
      position_ = 0;
      filled_ = static_cast<std::size_t>(got);
    }
    if (exhausted_) {
      std::memset(out, last_, count);
      return true;
    }
    std::size_t take = std::min(count, filled_ - position_);
    std::memcpy(out, buffer_.data() + position_, take);
    position_ += take;
    last_ = out[take - 1];
    out += take;
    count -= take;
  }
  return true;
}
