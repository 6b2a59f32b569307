// The transform and its key stream: with any key, offset and length, each
// byte is shifted by its key byte plus the offset, the key's last byte
// standing for every byte past its end, and deciphering gives the bytes
// back; a key that grew or was cut since it was opened is no longer the key
// as read. The key is a real file on a tmpfs, opened and read through the
// file layer as a run reads it: the rule of its last byte lives in
// KeyStream, which knows no other source.
//
// Input: the offset; flags (bit 0: decipher first; bits 1-2: once opened, the
// key file grows by a byte, or is cut to half its length; bits 3-7: the key
// bytes asked for at a time, less one); the key's length; the key; the data.

#include <fcntl.h>
#include <unistd.h>

#include "cipher/key_stream.h"
#include "cipher/transform.h"
#include "fuzz/fuzz.h"

namespace {

// The key file of one run, on a tmpfs, removed after it (and left by a
// finding, which ends the process).
struct KeyFile {
  explicit KeyFile(const std::vector<std::uint8_t>& key) { Write(key.data(), key.size(), O_TRUNC); }
  ~KeyFile() { unlink(path.c_str()); }
  void Write(const std::uint8_t* bytes, std::size_t size, int flags) const {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | flags, 0600);
    REQUIRE(fd >= 0 && write(fd, bytes, size) == static_cast<ssize_t>(size) && close(fd) == 0);
  }
  const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/vaultine-fuzz-" +
                           std::to_string(getpid()) + ".key";
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3 || size - 3 < data[2]) return 0;
  const std::uint8_t offset = data[0];
  const auto first = data[1] & 1 ? TransformDirection::kDecrypt : TransformDirection::kEncrypt;
  const auto then = data[1] & 1 ? TransformDirection::kEncrypt : TransformDirection::kDecrypt;
  const std::vector<std::uint8_t> key(data + 3, data + 3 + data[2]);
  const std::vector<std::uint8_t> plain(data + 3 + key.size(), data + size);
  const KeyFile key_file(key);

  Key opened;
  Event refused = Event::kCannotOpen;
  os::Error error;
  const bool ok = opened.Open(key_file.path, &refused, &error);
  REQUIRE(ok == !key.empty() && (ok || refused == Event::kKeyEmpty));
  if (!ok) return 0;
  REQUIRE(opened.length() == static_cast<std::int64_t>(key.size()));
  const int change = data[1] >> 1 & 3;
  if (change == 1) key_file.Write(data, 1, O_APPEND);
  if (change == 2) REQUIRE(truncate(key_file.path.c_str(), static_cast<off_t>(key.size() / 2)) == 0);
  // A key the size of a run's block is kept as read: what changed since is
  // found by its stamp, which every replacement looks at.
  REQUIRE(opened.StillAsRead() == (change != 1 && change != 2));

  KeyStream stream(opened);
  std::vector<std::uint8_t> keys(plain.size());
  for (std::size_t done = 0, count; done < keys.size(); done += count) {
    count = std::min<std::size_t>((data[1] >> 3) + 1, keys.size() - done);
    REQUIRE(stream.Next(keys.data() + done, count) == Key::Read::kDone);
  }

  std::vector<std::uint8_t> bytes = plain;
  ShiftBytes(bytes.data(), keys.data(), bytes.size(), offset, first);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int shift = key[std::min(i, key.size() - 1)] + offset;
    REQUIRE(bytes[i] == static_cast<std::uint8_t>(first == TransformDirection::kEncrypt ? plain[i] + shift
                                                                                          : plain[i] - shift));
  }
  ShiftBytes(bytes.data(), keys.data(), bytes.size(), offset, then);
  REQUIRE(bytes == plain);
  return 0;
}
