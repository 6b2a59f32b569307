#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cipher/key_stream.h"
#include "os/file_system.h"

// What the companion did to a file, kept with the file as a note of its own
// (user.vaultine), written onto the working file before it takes the file's
// place, so that content and record change in one step. It says whether the
// file is enciphered and how many times, and for each time a fingerprint of
// the key and offset used: a hash keyed with a random salt of its own, which
// tells a key given again from any other without giving the key away. It
// holds the file's length and modification time too: a file written or
// touched since is not what the record describes.
struct Record {
  struct Layer {
    std::string salt;         // random, kSaltBytes
    std::string fingerprint;  // kFingerprintBytes
  };
  std::vector<Layer> layers;  // innermost first; none: plain
  // The layers are decipherings of the plain file (forced), not encipherings.
  bool past_plain = false;
  // Beneath the innermost layer lies what a file held when a layer was forced
  // onto it past a record out of date: plain, or encrypted any times.
  bool over_unknown = false;
  std::int64_t size = -1;
  std::int64_t modified = 0;

  bool Encrypted() const { return !layers.empty() && !past_plain; }

  bool Describes(const os::FileStamp& file) const { return size == file.size && modified == file.modified; }
};

extern const char kRecordNote[];  // the note's name, after "user."

std::string FormatRecord(const Record& record);
// False for a text that is no record of this version's.
bool ParseRecord(const std::string& text, Record* record);

// A new layer for key and offset on a file of length bytes: a new salt, and
// its fingerprint.
Record::Layer NewLayer(const Key& key, std::int64_t length, std::uint8_t offset);
// Whether layer was made with key and offset on a file of length bytes (a key
// that gives the same bytes: what the file uses of it, and whether its last
// byte repeats); false too when the key cannot be read.
bool MadeWith(const Record::Layer& layer, const Key& key, std::int64_t length, std::uint8_t offset);

// Sets up the library that hashes; false when it cannot be.
bool CanFingerprint();
