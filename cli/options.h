#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cipher/notifier.h"

struct Options {
  TransformDirection direction = TransformDirection::kEncrypt;
  std::string key_path;
  std::uint8_t offset = 0;
  bool key_read_only = false;
  bool quiet = false;
  bool verbose = false;  // name each file as it is done or skipped
  bool force = false;      // files with other hard links too; a terminal as standard output
  bool recursive = false;  // every regular file under the folders named
  bool to_stdout = false;  // FILE, or standard input, to standard output
  std::vector<std::string> files;
  // keygen: the size asked for (0: none), or the files whose largest size it
  // is to be; the new key file is key_path.
  std::uint64_t key_size = 0;
  bool size_for_files = false;
};

enum class Command { kTransform, kKeygen, kHelp, kVersion, kUsageError };

// Reads "vaultine encrypt|decrypt -k KEY [-o N] [-r] [-c] [-f] [-q] [FILE...]"
// and "vaultine keygen (-n SIZE | --for FILE...) KEYFILE", options before or
// after the command but before its files, whatever POSIXLY_CORRECT says;
// "--" ends the options. On a usage error, the option parser has said what
// was wrong, or error says it.
Command ParseCommandLine(int argc, char* argv[], Options* options, std::string* error);

// A size in bytes: digits, optionally followed by K, M or G (1024, 1024^2,
// 1024^3). False for anything else, 0, or a size beyond 64 bits.
bool ParseSize(const std::string& text, std::uint64_t* size);

// A whole number from 0 to 255, in decimal digits only (leading zeros too).
bool ParseOffset(const std::string& text, std::uint8_t* offset);

extern const char kUsage[];
extern const char kHelp[];
extern const char kVersion[];
