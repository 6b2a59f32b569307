#include "cli/options.h"

#include <getopt.h>

#include <climits>
#include <cstdlib>

const char kUsage[] =
    "Usage: vaultine encrypt -k KEYFILE [-o N] [-r] [-q] FILE...\n"
    "       vaultine decrypt -k KEYFILE [-o N] [-r] [-q] FILE...\n"
    "Try 'vaultine --help' for more information.\n";

const char kHelp[] =
    "Usage: vaultine encrypt -k KEYFILE [-o N] [-r] [-q] FILE...\n"
    "       vaultine decrypt -k KEYFILE [-o N] [-r] [-q] FILE...\n"
    "\n"
    "Enciphers or deciphers each FILE in place: every byte is shifted by the next\n"
    "byte of KEYFILE plus the offset, modulo 256. Once KEYFILE runs out, its last\n"
    "byte is used for the rest. Decrypt with the same key file and offset to get\n"
    "the original back; without them the original cannot be recovered.\n"
    "\n"
    "  -k, --key KEYFILE        the key file (required)\n"
    "  -o, --offset N           added to every key byte, 0 to 255 (default 0)\n"
    "  -r, --key-read-only      make the key file read-only first\n"
    "  -q, --quiet              do not show progress\n"
    "  -h, --help               show this help and exit\n"
    "      --version            show the version and exit\n"
    "\n"
    "Each FILE is written to a working file beside it, flushed to disk, and only\n"
    "then replaces the original. Exit status: 0 when every file was transformed,\n"
    "1 when any was refused or failed, 2 for a usage error.\n";

bool ParseOffset(const std::string& text, std::int32_t* offset) {
  std::string::size_type digits = text.find_first_not_of("+-") == 1 ? 1 : 0;
  if (digits == text.size() || text.find_first_not_of("0123456789", digits) != std::string::npos) {
    return false;
  }
  long long value = std::strtoll(text.c_str(), nullptr, 10);  // saturates on overflow
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  *offset = static_cast<std::int32_t>(value);
  return true;
}

Command ParseCommandLine(int argc, char* argv[], Options* options, std::string* error) {
  enum { kVersionOption = 1000 };
  static const option kLongOptions[] = {
      {"key", required_argument, nullptr, 'k'},     {"offset", required_argument, nullptr, 'o'},
      {"key-read-only", no_argument, nullptr, 'r'}, {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},          {"version", no_argument, nullptr, kVersionOption},
      {nullptr, 0, nullptr, 0},
  };

  bool have_key = false;
  optind = 0;
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, "k:o:rqh", kLongOptions, nullptr)) != -1) {
    switch (c) {
      case 'k':
        options->key_path = optarg;
        have_key = true;
        break;
      case 'o':
        if (!ParseOffset(optarg, &options->offset)) {
          *error = "the offset '" + std::string(optarg) + "' is not a whole number";
          return Command::kUsageError;
        }
        break;
      case 'r':
        options->make_key_read_only = true;
        break;
      case 'q':
        options->quiet = true;
        break;
      case 'h':
        return Command::kHelp;
      case kVersionOption:
        return Command::kVersion;
      default:
        *error = optopt != 0 && optopt < 256
                     ? "option '-" + std::string(1, static_cast<char>(optopt)) + "' is unknown or lacks its value"
                     : "unknown option '" + std::string(argv[optind - 1]) + "'";
        return Command::kUsageError;
    }
  }

  if (optind >= argc) {
    *error = "say encrypt or decrypt";
    return Command::kUsageError;
  }
  const std::string verb = argv[optind++];
  if (verb == "encrypt") {
    options->direction = TransformDirection::Encrypt;
  } else if (verb == "decrypt") {
    options->direction = TransformDirection::Decrypt;
  } else {
    *error = "unknown command '" + verb + "'; say encrypt or decrypt";
    return Command::kUsageError;
  }
  if (!have_key) {
    *error = "a key file is required (-k KEYFILE)";
    return Command::kUsageError;
  }
  if (optind >= argc) {
    *error = "no FILE to " + verb;
    return Command::kUsageError;
  }
  options->files.assign(argv + optind, argv + argc);
  return Command::kTransform;
}
