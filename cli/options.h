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
  std::vector<std::string> files;
};

enum class Command { kTransform, kHelp, kVersion, kUsageError };

// Reads "vaultine encrypt|decrypt -k KEY [-o N] [-r] [-q] FILE...". On a usage
// error, error says what is wrong.
Command ParseCommandLine(int argc, char* argv[], Options* options, std::string* error);

// A decimal integer with an optional sign; values beyond 32 bits are held at
// the nearest 32-bit bound so that the range check still refuses them.
bool ParseOffset(const std::string& text, std::int32_t* offset);

extern const char kUsage[];
extern const char kHelp[];
