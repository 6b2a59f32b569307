#include "cli/record.h"

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <sstream>

namespace {

constexpr std::size_t kSaltBytes = 16;         // BLAKE2b's smallest key
constexpr std::size_t kFingerprintBytes = 16;  // and its smallest digest
// The key bytes that are hashed, of those the file uses: the first mebibyte,
// and beyond it as much again in blocks spread evenly over the rest, so that
// a big file's run costs next to nothing for it (a mebibyte hashes in about
// a millisecond) and two keys that differ anywhere but in a few bytes are
// told apart.
constexpr std::int64_t kHashedKeyBytes = 1 << 20;
constexpr std::int64_t kSampleBytes = 4096;
constexpr std::int64_t kSamples = kHashedKeyBytes / kSampleBytes;
const char kFormat[] = "vaultine/1";

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

bool Unhex(const std::string& hex, std::size_t bytes, std::string* out) {
  if (hex.size() != 2 * bytes) return false;
  out->clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int value = 0;
    for (char c : {hex[i], hex[i + 1]}) {
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    *out += static_cast<char>(value);
  }
  return true;
}

// The keyed hash of what a layer stands for: the offset, and the key bytes
// the file uses, with whether its last byte repeats past its end.
bool Hash(const Key& key, std::int64_t length, std::uint8_t offset, const std::string& salt, std::string* out) {
  const std::int64_t used = std::min(length, key.length());
  const std::string header = std::string(kFormat) + " key bytes " + std::to_string(used) +
                             (length > used ? " then its last again" : "") + " offset " + std::to_string(offset) + "\n";
  crypto_generichash_state state;
  unsigned char digest[kFingerprintBytes];
  if (crypto_generichash_init(&state, reinterpret_cast<const unsigned char*>(salt.data()), salt.size(),
                              sizeof digest) != 0 ||
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
  out->assign(reinterpret_cast<const char*>(digest), sizeof digest);
  return true;
}

}  // namespace

const char kRecordNote[] = "vaultine";

bool CanFingerprint() { return sodium_init() >= 0; }

std::string FormatRecord(const Record& record) {
  std::string text =
      std::string(kFormat) + " " + std::to_string(record.size) + " " + std::to_string(record.modified);
  if (record.layers.empty()) return text + " plain";
  text += record.past_plain ? " decrypted" : " encrypted";
  for (const Record::Layer& layer : record.layers) text += " " + Hex(layer.salt) + ":" + Hex(layer.fingerprint);
  return text;
}

bool ParseRecord(const std::string& text, Record* record) {
  std::istringstream words(text);
  std::string format;
  std::string state;
  Record read;
  if (!(words >> format >> read.size >> read.modified >> state) || format != kFormat) return false;
  if (state == "plain") {
    if (words >> state) return false;
  } else if (state == "encrypted" || state == "decrypted") {
    read.past_plain = state == "decrypted";
    std::string layer;
    while (words >> layer) {
      const std::size_t colon = layer.find(':');
      Record::Layer parsed;
      if (colon == std::string::npos || !Unhex(layer.substr(0, colon), kSaltBytes, &parsed.salt) ||
          !Unhex(layer.substr(colon + 1), kFingerprintBytes, &parsed.fingerprint)) {
        return false;
      }
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
  unsigned char salt[kSaltBytes];
  crypto_generichash(salt, sizeof salt, reinterpret_cast<const unsigned char*>(&number), sizeof number, seed,
                     sizeof seed);
  return std::string(reinterpret_cast<const char*>(salt), sizeof salt);
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
