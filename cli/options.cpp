#include "cli/options.h"

#include <getopt.h>

#include <cctype>
#include <climits>
#include <cstdlib>

const char kUsage[] =
    "Usage: vaultine encrypt -k KEYFILE [-o N] [-r] [-f] [-q] FILE...\n"
    "       vaultine decrypt -k KEYFILE [-o N] [-r] [-f] [-q] FILE...\n"
    "       vaultine keygen (-n SIZE | --for FILE...) KEYFILE\n"
    "Try 'vaultine --help' for more information.\n";

const char kHelp[] =
    "Usage: vaultine encrypt -k KEYFILE [-o N] [-r] [-f] [-q] FILE...\n"
    "       vaultine decrypt -k KEYFILE [-o N] [-r] [-f] [-q] FILE...\n"
    "       vaultine keygen (-n SIZE | --for FILE...) KEYFILE\n"
    "\n"
    "Enciphers or deciphers each FILE in place: every byte is shifted by the next\n"
    "byte of KEYFILE plus the offset, modulo 256. Once KEYFILE runs out, its last\n"
    "byte is used for the rest. Decrypt with the same key file and offset to get\n"
    "the original back; without them the original cannot be recovered.\n"
    "\n"
    "  -k, --key KEYFILE        the key file (required)\n"
    "  -o, --offset N           added to every key byte, 0 to 255 (default 0)\n"
    "  -r, --key-read-only      make the key file read-only first\n"
    "  -f, --force              also transform a file that has other hard links\n"
    "                           (their names keep the old bytes)\n"
    "  -q, --quiet              do not show progress\n"
    "  -h, --help               show this help and exit\n"
    "      --version            show the version and exit\n"
    "\n"
    "keygen writes a new key file of random bytes from the system's generator:\n"
    "  -n, --size SIZE          SIZE bytes; K, M and G multiply by 1024, 1024^2, 1024^3\n"
    "      --for FILE...        as many bytes as the largest FILE: used for that one\n"
    "                           file only and kept secret, such a key leaves nothing\n"
    "                           to learn from the enciphered file but its length\n"
    "\n"
    "Each FILE is written to a working file beside it, flushed to disk, and only\n"
    "then replaces the original. Exit status: 0 when every file was transformed,\n"
    "1 when any was refused or failed, 2 for a usage error. A stop by a signal\n"
    "ends the command by that signal, once the working file is removed.\n";

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

bool ParseSize(const std::string& text, std::uint64_t* size) {
  std::string::size_type end = text.find_first_not_of("0123456789");
  if (end == 0 || text.empty()) return false;
  int shift = 0;
  if (end != std::string::npos) {
    if (end + 1 != text.size()) return false;
    switch (std::toupper(static_cast<unsigned char>(text[end]))) {
      case 'K': shift = 10; break;
      case 'M': shift = 20; break;
      case 'G': shift = 30; break;
      default: return false;
    }
  }
  std::uint64_t value = 0;
  for (std::string::size_type i = 0; i < text.size() && i != end; ++i) {
    const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  if (value == 0 || value > (UINT64_MAX >> shift)) return false;
  *size = value << shift;
  return true;
}

Command ParseCommandLine(int argc, char* argv[], Options* options, std::string* error) {
  enum { kVersionOption = 1000, kForOption };
  static const option kLongOptions[] = {
      {"key", required_argument, nullptr, 'k'},     {"offset", required_argument, nullptr, 'o'},
      {"key-read-only", no_argument, nullptr, 'r'}, {"quiet", no_argument, nullptr, 'q'},
      {"force", no_argument, nullptr, 'f'},         {"size", required_argument, nullptr, 'n'},
      {"for", no_argument, nullptr, kForOption},    {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersionOption}, {nullptr, 0, nullptr, 0},
  };

  bool have_key = false;
  bool transform_only = false;  // an option of encrypt and decrypt
  optind = 0;
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, "k:o:rqfn:h", kLongOptions, nullptr)) != -1) {
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
        transform_only = true;
        break;
      case 'r':
        options->make_key_read_only = true;
        transform_only = true;
        break;
      case 'q':
        options->quiet = true;
        break;
      case 'f':
        options->force = true;
        transform_only = true;
        break;
      case 'n':
        if (!ParseSize(optarg, &options->key_size)) {
          *error = "the size '" + std::string(optarg) + "' is no size: a number of bytes above 0, K, M or G after it";
          return Command::kUsageError;
        }
        break;
      case kForOption:
        options->size_for_files = true;
        break;
      case 'h':
        return Command::kHelp;
      case kVersionOption:
        return Command::kVersion;
      default:
        *error = "the option '" + std::string(argv[optind - 1]) +
                 "' is unknown, ambiguous, or lacks its value or has one it takes none of";
        return Command::kUsageError;
    }
  }

  if (optind >= argc) {
    *error = "say encrypt, decrypt or keygen";
    return Command::kUsageError;
  }
  const std::string verb = argv[optind++];
  std::vector<std::string> operands(argv + optind, argv + argc);
  if (verb == "keygen") {
    if (have_key || transform_only) {
      *error = "keygen takes only -n SIZE or --for FILE..., and the new key file";
      return Command::kUsageError;
    }
    if ((options->key_size != 0) == options->size_for_files) {
      *error = "keygen needs either -n SIZE or --for FILE...";
      return Command::kUsageError;
    }
    if (operands.empty() || (options->size_for_files && operands.size() < 2) ||
        (!options->size_for_files && operands.size() != 1)) {
      *error = options->size_for_files ? "keygen --for needs at least one FILE, then the new key file"
                                       : "keygen -n SIZE needs the new key file, and nothing else";
      return Command::kUsageError;
    }
    options->key_path = operands.back();
    operands.pop_back();
    options->files = operands;
    return Command::kKeygen;
  }
  if (verb == "encrypt") {
    options->direction = TransformDirection::Encrypt;
  } else if (verb == "decrypt") {
    options->direction = TransformDirection::Decrypt;
  } else {
    *error = "unknown command '" + verb + "'; say encrypt, decrypt or keygen";
    return Command::kUsageError;
  }
  if (options->key_size != 0 || options->size_for_files) {
    *error = "-n and --for belong to keygen";
    return Command::kUsageError;
  }
  if (!have_key) {
    *error = "a key file is required (-k KEYFILE)";
    return Command::kUsageError;
  }
  if (operands.empty()) {
    *error = "no FILE to " + verb;
    return Command::kUsageError;
  }
  options->files = operands;
  return Command::kTransform;
}
