#include "cipher/key_stream.h"

#include <algorithm>
#include <cstring>

namespace {

OpenedKey Refused(Event event, const os::Error& error = {}) {
  OpenedKey opened;
  opened.event = event;
  opened.error = error;
  return opened;
}

}  // namespace

OpenedKey OpenKey(os::InputFile& key, const std::string& path) {
  const os::Probed probed = key.Open(path);
  if (!probed.ok()) return Refused(OpenFailure(probed.how), probed.error);
  OpenedKey opened;
  opened.as_read = key.facts().stamp;
  opened.length = key.Length();
  std::uint8_t last;
  const std::int64_t got = key.ReadAt(&last, 1, std::max<std::int64_t>(opened.length - 1, 0));
  if (got < 0) {
    const os::Error error = os::LastError();
    return os::HasNoEnd(error) ? Refused(Event::kKeyMadeAnew) : Refused(Event::kCannotRead, error);
  }
  if (opened.length == 0 || got != 1) {
    return Refused(opened.length == 0 && got == 0 ? Event::kKeyEmpty : Event::kKeyMadeAnew);
  }
  opened.ok = true;
  return opened;
}

KeyStream::KeyStream(os::InputFile& file, std::int64_t length) : file_(file), length_(length) {}

KeyStream::Read KeyStream::Next(std::uint8_t* out, std::size_t count) {
  const std::size_t from_file =
      static_cast<std::size_t>(std::min<std::int64_t>(length_ - position_, static_cast<std::int64_t>(count)));
  for (std::size_t done = 0; done < from_file;) {
    const std::int64_t got = file_.ReadAt(out + done, from_file - done, position_);
    if (got < 0) return Read::kFailed;
    if (got == 0) return Read::kChanged;  // cut short since its length was taken
    position_ += got;
    done += static_cast<std::size_t>(got);
  }
  if (from_file > 0) last_ = out[from_file - 1];
  if (from_file < count) {
    if (!end_checked_) {
      std::uint8_t beyond;
      const std::int64_t got = file_.ReadAt(&beyond, 1, length_);
      if (got < 0) return Read::kFailed;
      if (got != 0) return Read::kChanged;
      end_checked_ = true;
    }
    std::memset(out + from_file, last_, count - from_file);
  }
  return Read::kDone;
}
