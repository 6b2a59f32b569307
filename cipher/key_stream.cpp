#include "cipher/key_stream.h"

#include <algorithm>
#include <cstring>

#include "cipher/transform.h"

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
  opened.as_read = key.Stamp();
  opened.length = opened.as_read.known() ? FileLength(key) : -1;
  if (opened.length < 0) {
    const os::Error error = os::LastError();
    return os::HasNoEnd(error) ? Refused(Event::kKeyMadeAnew) : Refused(Event::kCannotRead, error);
  }
  std::uint8_t last;
  if (!key.Seek(std::max<std::int64_t>(opened.length - 1, 0))) return Refused(Event::kCannotRead, os::LastError());
  const std::int64_t got = key.Read(&last, 1);
  if (got < 0 || !key.Seek(0)) return Refused(Event::kCannotRead, os::LastError());
  if (opened.length == 0 || got != 1) {
    return Refused(opened.length == 0 && got == 0 ? Event::kKeyEmpty : Event::kKeyMadeAnew);
  }
  opened.ok = true;
  return opened;
}

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
