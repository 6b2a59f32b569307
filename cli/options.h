#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cipher/transform.h"

struct Options {
  TransformDirection direction = TransformDirection::Encrypt;
  std::string key_path;
  std::int32_t offset = 0;
  bool make_key_read_only = false;
  bool quiet = false;
  bool force = false;  // transform files with other hard links all the same
  std::vector<std::string> files;
  // keygen: the size asked for (0: none), or the files whose largest size it
  // is to be; the new key file is key_path.
  std::uint64_t key_size = 0;
  bool size_for_files = false;
};

enum class Command { kTransform, kKeygen, kHelp, kVersion, kUsageError };

// Reads "vaultine encrypt|decrypt -k KEY [-o N] [-r] [-f] [-q] FILE..." and
// "vaultine keygen (-n SIZE | --for FILE...) KEYFILE". On a usage error,
// error says what is wrong.
Command ParseCommandLine(int argc, char* argv[], Options* options, std::string* error);

// A size in bytes: digits, optionally followed by K, M or G (1024, 1024^2,
// 1024^3). False for anything else, 0, or a size beyond 64 bits.
bool ParseSize(const std::string& text, std::uint64_t* size);

// A decimal integer with an optional sign; values beyond 32 bits are held at
// the nearest 32-bit bound so that the range check still refuses them.
bool ParseOffset(const std::string& text, std::int32_t* offset);

extern const char kUsage[];
extern const char kHelp[];
