#include "cli/record.h"

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <sstream>

namespace {

// A layer is 16 bytes, written as 22 characters, so that a small file's whole
// record (about 60 bytes) fits in the room ext4 keeps in the file's own inode
// and costs no block of its own: a random salt of 8 bytes, which BLAKE2b takes
// as the first half of its smallest key, and the first 8 bytes of its
// smallest digest, which a wrong key matches once in 2^64 tries.
constexpr std::size_t kSaltBytes = 8;
constexpr std::size_t kFingerprintBytes = 8;
constexpr int kBase64 = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
constexpr std::int64_t kNanoseconds = 1000000000;
// The key bytes that are hashed, of those the file uses: the first mebibyte,
// and beyond it as much again in blocks spread evenly over the rest, so that
// a big file's run costs next to nothing for it (a mebibyte hashes in about
// a millisecond) and two keys that differ anywhere but in a few bytes are
// told apart.
constexpr std::int64_t kHashedKeyBytes = 1 << 20;
constexpr std::int64_t kSampleBytes = 4096;
constexpr std::int64_t kSamples = kHashedKeyBytes / kSampleBytes;
const char kFormat[] = "vaultine/1";
const char kUnknown[] = "?";  // in place of the innermost layer: see Record::over_unknown

std::string LayerText(const Record::Layer& layer) {
  const std::string bytes = layer.salt + layer.fingerprint;
  std::string text(sodium_base64_ENCODED_LEN(bytes.size(), kBase64), '\0');
  sodium_bin2base64(&text[0], text.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                    kBase64);
  text.resize(text.size() - 1);  // its terminating zero
  return text;
}

bool ParseLayer(const std::string& text, Record::Layer* layer) {
  unsigned char bytes[kSaltBytes + kFingerprintBytes];
  std::size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(bytes, sizeof bytes, text.data(), text.size(), nullptr, &length, &end, kBase64) != 0 ||
      length != sizeof bytes || end != text.data() + text.size()) {
    return false;
  }
  layer->salt.assign(reinterpret_cast<const char*>(bytes), kSaltBytes);
  layer->fingerprint.assign(reinterpret_cast<const char*>(bytes) + kSaltBytes, kFingerprintBytes);
  return true;
}

// A time in whole seconds where it is one, as the records' times are.
std::string TimeText(std::int64_t nanoseconds) {
  const std::string sign = nanoseconds < 0 ? "-" : "";
  const std::uint64_t magnitude =
      nanoseconds < 0 ? 0 - static_cast<std::uint64_t>(nanoseconds) : static_cast<std::uint64_t>(nanoseconds);
  const std::uint64_t rest = magnitude % kNanoseconds;
  const std::string seconds = sign + std::to_string(magnitude / kNanoseconds);
  if (rest == 0) return seconds;
  const std::string fraction = std::to_string(rest);
  return seconds + "." + std::string(9 - fraction.size(), '0') + fraction;
}

// Digits only, one at least and at most most.
bool Digits(const std::string& text, std::size_t most) {
  return !text.empty() && text.size() <= most && text.find_first_not_of("0123456789") == std::string::npos;
}

// A length as FormatRecord writes it: digits only, no sign, no leading zero.
bool ParseLength(const std::string& text, std::int64_t* size) {
  if (!Digits(text, 18) || (text[0] == '0' && text.size() > 1)) return false;
  *size = std::stoll(text);
  return true;
}

bool ParseTime(const std::string& text, std::int64_t* nanoseconds) {
  const std::size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  const bool negative = !whole.empty() && whole[0] == '-';
  const std::string magnitude = negative ? whole.substr(1) : whole;
  if (!Digits(magnitude, 10) || (dot != std::string::npos && (!Digits(fraction, 9) || fraction.size() != 9))) {
    return false;
  }
  const std::int64_t seconds = std::stoll(magnitude);
  if (seconds >= INT64_MAX / kNanoseconds) return false;
  const std::int64_t rest = fraction.empty() ? 0 : std::stoll(fraction);
  *nanoseconds = (negative ? -1 : 1) * (seconds * kNanoseconds + rest);
  return true;
}

// The keyed hash of what a layer stands for: the offset, and the key bytes
// the file uses, with whether its last byte repeats past its end.
bool Hash(const Key& key, std::int64_t length, std::uint8_t offset, const std::string& salt, std::string* out) {
  const std::int64_t used = std::min(length, key.length());
  const std::string header = std::string(kFormat) + " key bytes " + std::to_string(used) +
                             (length > used ? " then its last again" : "") + " offset " + std::to_string(offset) + "\n";
  crypto_generichash_state state;
  unsigned char key_of_hash[crypto_generichash_KEYBYTES_MIN] = {};
  std::copy(salt.begin(), salt.end(), key_of_hash);
  unsigned char digest[crypto_generichash_BYTES_MIN];
  if (crypto_generichash_init(&state, key_of_hash, sizeof key_of_hash, sizeof digest) != 0 ||
      crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(header.data()), header.size()) != 0) {
    return false;
  }
  const auto hash = [&](std::int64_t position, std::int64_t count) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    return count == 0 || (key.BytesAt(position, bytes.data(), bytes.size()) == Key::Read::kDone &&
                          crypto_generichash_update(&state, bytes.data(), bytes.size()) == 0);
  };
  if (!hash(0, std::min(used, kHashedKeyBytes))) return false;
  const std::int64_t rest = used - kHashedKeyBytes;
  for (std::int64_t i = 0; rest > 0 && i < kSamples; ++i) {
    const std::int64_t start = rest <= kHashedKeyBytes ? i * kSampleBytes : i * (rest - kSampleBytes) / (kSamples - 1);
    if (start >= rest) break;
    if (!hash(kHashedKeyBytes + start, std::min(kSampleBytes, rest - start))) return false;
  }
  if (crypto_generichash_final(&state, digest, sizeof digest) != 0) return false;
  out->assign(reinterpret_cast<const char*>(digest), kFingerprintBytes);
  return true;
}

}  // namespace

const char kRecordNote[] = "vaultine";

bool CanFingerprint() { return sodium_init() >= 0; }

std::string FormatRecord(const Record& record) {
  std::string text =
      std::string(kFormat) + " " + std::to_string(record.size) + " " + TimeText(record.modified);
  if (record.layers.empty()) return text + " plain";
  text += record.past_plain ? " decrypted" : " encrypted";
  if (record.over_unknown) text += " " + std::string(kUnknown);
  for (const Record::Layer& layer : record.layers) text += " " + LayerText(layer);
  return text;
}

bool ParseRecord(const std::string& text, Record* record) {
  std::istringstream words(text);
  std::string format;
  std::string size;
  std::string time;
  std::string state;
  Record read;
  if (!(words >> format >> size >> time >> state) || format != kFormat || !ParseLength(size, &read.size) ||
      !ParseTime(time, &read.modified)) {
    return false;
  }
  if (state == "plain") {
    if (words >> state) return false;
  } else if (state == "encrypted" || state == "decrypted") {
    read.past_plain = state == "decrypted";
    std::string layer;
    while (words >> layer) {
      if (layer == kUnknown && read.layers.empty() && !read.over_unknown && !read.past_plain) {
        read.over_unknown = true;
        continue;
      }
      Record::Layer parsed;
      if (!ParseLayer(layer, &parsed)) return false;
      read.layers.push_back(parsed);
    }
    if (read.layers.empty()) return false;
  } else {
    return false;
  }
  *record = read;
  return true;
}

namespace {

// A salt no other layer has: drawn from a seed the system's randomness gives
// once a run, and a count, rather than a call to the system for each file.
std::string NewSalt() {
  static unsigned char seed[crypto_generichash_KEYBYTES];
  static std::once_flag seeded;
  static std::atomic<std::uint64_t> count{0};
  std::call_once(seeded, [] { randombytes_buf(seed, sizeof seed); });
  const std::uint64_t number = count++;
  unsigned char salt[crypto_generichash_BYTES_MIN];
  crypto_generichash(salt, sizeof salt, reinterpret_cast<const unsigned char*>(&number), sizeof number, seed,
                     sizeof seed);
  return std::string(reinterpret_cast<const char*>(salt), kSaltBytes);
}

}  // namespace

Record::Layer NewLayer(const Key& key, std::int64_t length, std::uint8_t offset) {
  Record::Layer layer;
  layer.salt = NewSalt();
  if (!Hash(key, length, offset, layer.salt, &layer.fingerprint)) layer.fingerprint.clear();
  return layer;
}

bool MadeWith(const Record::Layer& layer, const Key& key, std::int64_t length, std::uint8_t offset) {
  std::string fingerprint;
  return Hash(key, length, offset, layer.salt, &fingerprint) &&
         sodium_memcmp(fingerprint.data(), layer.fingerprint.data(), fingerprint.size()) == 0;
}
