#include "cipher/key_stream.h"

#include <algorithm>
#include <cstring>

bool Key::Open(const std::string& path, Event* event, os::Error* error) {
  path_ = path;
  const os::Probed probed = file_.Open(path);
  if (!probed.ok()) {
    *event = OpenFailure(probed.how);
    *error = probed.error;
    return false;
  }
  as_read_ = file_.facts().stamp;
  length_ = file_.Length();
  // The last byte where the length says, and none beyond it.
  std::uint8_t edge[2];
  const std::int64_t got = file_.ReadAt(edge, 2, std::max<std::int64_t>(length_ - 1, 0));
  if (got < 0) {
    *error = os::LastError();
    *event = os::HasNoEnd(*error) ? Event::kKeyMadeAnew : Event::kCannotRead;
    return false;
  }
  if (length_ == 0 || got != 1) {
    *event = length_ == 0 && got == 0 ? Event::kKeyEmpty : Event::kKeyMadeAnew;
    return false;
  }
  if (length_ <= static_cast<std::int64_t>(kKeptKeyBytes)) {
    kept_.resize(static_cast<std::size_t>(length_));
    for (std::size_t done = 0; done < kept_.size();) {
      const std::int64_t read = file_.ReadAt(kept_.data() + done, kept_.size() - done, done);
      if (read <= 0) {
        *event = read < 0 ? Event::kCannotRead : Event::kKeyChanged;
        *error = read < 0 ? os::LastError() : os::Error();
        return false;
      }
      done += static_cast<std::size_t>(read);
    }
  }
  return true;
}

bool Key::StillAsRead() const {
  const os::FileStatus now = os::StatusOf(path_);
  return now.exists && now.stamp == as_read_;
}

Key::Read Key::BytesAt(std::int64_t position, std::uint8_t* out, std::size_t count) const {
  if (!kept_.empty()) {
    std::memcpy(out, kept_.data() + position, count);
    return Read::kDone;
  }
  for (std::size_t done = 0; done < count;) {
    const std::int64_t got = file_.ReadAt(out + done, count - done, position + static_cast<std::int64_t>(done));
    if (got < 0) return Read::kFailed;
    if (got == 0) return Read::kChanged;  // cut short since its length was taken
    done += static_cast<std::size_t>(got);
  }
  return Read::kDone;
}

Key::Read KeyStream::Next(std::uint8_t* out, std::size_t count) {
  const std::size_t from_file =
      static_cast<std::size_t>(std::min<std::int64_t>(key_.length() - position_, static_cast<std::int64_t>(count)));
  if (from_file > 0) {
    const Key::Read read = key_.BytesAt(position_, out, from_file);
    if (read != Key::Read::kDone) return read;
    position_ += static_cast<std::int64_t>(from_file);
    last_ = out[from_file - 1];
  }
  // Past its end: a key grown since it was opened shows in its stamp, which
  // is checked before the result is used.
  std::memset(out + from_file, last_, count - from_file);
  return Key::Read::kDone;
}
