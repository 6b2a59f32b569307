#include "cli/options.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "version.h"

const char kUsage[] =
    "Usage: vaultine encrypt -k KEYFILE [-o N] [-rcfqv] [--key-read-only] FILE...\n"
    "       vaultine decrypt -k KEYFILE [-o N] [-rcfqv] [--key-read-only] FILE...\n"
    "       vaultine keygen (-n SIZE | --for FILE...) KEYFILE\n"
    "Try 'vaultine --help' for more information.\n";

const char kHelp[] =
    "Usage: vaultine encrypt -k KEYFILE [OPTION]... [--] FILE...\n"
    "       vaultine decrypt -k KEYFILE [OPTION]... [--] FILE...\n"
    "       vaultine keygen (-n SIZE | --for FILE...) KEYFILE\n"
    "\n"
    "Enciphers or deciphers each FILE in place: every byte is shifted by the\n"
    "next byte of KEYFILE plus the offset, modulo 256. Once KEYFILE runs out,\n"
    "its last byte is used for the rest. Decrypt with the same key file and\n"
    "offset to get the original back; without them it cannot be recovered.\n"
    "\n"
    "  -k, --key KEYFILE    the key file (required, once)\n"
    "  -o, --offset N       added to every key byte, 0 to 255 (default 0; once)\n"
    "  -r, --recursive      every regular file under each FILE that is a folder\n"
    "  -c, --stdout         write to standard output and change no file; with no\n"
    "                       FILE, or when FILE is -, read standard input\n"
    "  -f, --force          also a file that has other hard links (they keep the\n"
    "                       old bytes), a link given as FILE (followed), a file\n"
    "                       whose record says it is done; with -c, a terminal\n"
    "  -q, --quiet          show no progress\n"
    "  -v, --verbose        name each file as it is done or left as it is\n"
    "      --key-read-only  make the key file read-only first\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "  --                   the arguments after it are files, even those that\n"
    "                       start with a dash\n"
    "\n"
    "keygen writes a new key file of random bytes from the system's generator:\n"
    "  -n, --size SIZE      SIZE bytes; K, M, G (or k, m, g) multiply by 1024,\n"
    "                       1024^2, 1024^3\n"
    "      --for FILE...    as many bytes as the largest FILE: used for that\n"
    "                       file only and kept secret, such a key leaves nothing\n"
    "                       to learn from the enciphered file but its length\n"
    "\n"
    "Each FILE is written to a working file beside it, flushed to disk, and\n"
    "only then replaces the original, with a record of what was done, which a\n"
    "rerun reads: a file already encrypted is left as it is, and one encrypted\n"
    "with another key or offset is not decrypted. Exit status: 0 when every\n"
    "file is done, 1 when any was refused or failed, 2 for a usage error. A\n"
    "stop by a signal ends the command by that signal; run it again to finish.\n";

const char kVersion[] =
    "vaultine " VAULTINE_DISPLAY_VERSION "\n"
    "Copyright (C) 2026 The Vaultine developers.\n"
    "License MIT: <https://opensource.org/licenses/MIT>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

bool ParseOffset(const std::string& text, std::uint8_t* offset) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  // Leading zeros make no other number: 0007 is 7, as 007 is.
  const std::string number = text.substr(std::min(text.find_first_not_of('0'), text.size() - 1));
  if (number.size() > 3) return false;
  const int value = std::atoi(number.c_str());
  if (value > 255) return false;
  *offset = static_cast<std::uint8_t>(value);
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

namespace {

enum { kForOption = 1000, kKeyReadOnlyOption, kOperand = 1 };

const option kLongOptions[] = {
    {"key", required_argument, nullptr, 'k'},
    {"offset", required_argument, nullptr, 'o'},
    {"recursive", no_argument, nullptr, 'r'},
    {"stdout", no_argument, nullptr, 'c'},
    {"force", no_argument, nullptr, 'f'},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"key-read-only", no_argument, nullptr, kKeyReadOnlyOption},
    {"size", required_argument, nullptr, 'n'},
    {"for", no_argument, nullptr, kForOption},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// The command and its operands, and what was asked of which command.
struct Parsed {
  std::vector<std::string> arguments;
  bool have_key = false;
  bool have_offset = false;
  bool transform_only = false;  // an option of encrypt and decrypt
};

Command Finish(Parsed& parsed, Options* options, std::string* error) {
  if (parsed.arguments.empty()) {
    *error = "say encrypt, decrypt or keygen";
    return Command::kUsageError;
  }
  const std::string verb = parsed.arguments.front();
  std::vector<std::string> operands(parsed.arguments.begin() + 1, parsed.arguments.end());
  if (verb == "keygen") {
    if (parsed.have_key || parsed.transform_only) {
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
    options->direction = TransformDirection::kEncrypt;
  } else if (verb == "decrypt") {
    options->direction = TransformDirection::kDecrypt;
  } else {
    *error = "unknown command '" + verb + "'; say encrypt, decrypt or keygen";
    return Command::kUsageError;
  }
  if (options->key_size != 0 || options->size_for_files) {
    *error = "-n and --for belong to keygen";
    return Command::kUsageError;
  }
  if (!parsed.have_key) {
    *error = "a key file is required (-k KEYFILE)";
    return Command::kUsageError;
  }
  if (options->to_stdout) {
    if (operands.size() > 1) {
      *error = "-c takes one FILE at most: the key starts again at each file, so their output could not be "
               "deciphered as one";
      return Command::kUsageError;
    }
    if (options->recursive) {
      *error = "-c and -r do not go together";
      return Command::kUsageError;
    }
    if (operands.empty()) operands.push_back("-");
  } else if (operands.empty()) {
    *error = "no FILE to " + verb;
    return Command::kUsageError;
  } else if (std::find(operands.begin(), operands.end(), "-") != operands.end()) {
    *error = "- is standard input, which cannot be transformed in place: -c writes it to standard output (a file "
             "named - is ./-)";
    return Command::kUsageError;
  }
  options->files = operands;
  return Command::kTransform;
}

// getopt says what was wrong on stderr, in the words users know from every
// other tool. Those words are caught here instead, and handed on as the
// error, so that the name they quote is shown escaped, as every name is.
class CaughtDiagnostics {
 public:
  CaughtDiagnostics() : shown_(stderr), caught_(open_memstream(&text_, &size_)) {
    if (caught_ != nullptr) stderr = caught_;
  }
  ~CaughtDiagnostics() {
    Text();
    std::free(text_);
  }
  CaughtDiagnostics(const CaughtDiagnostics&) = delete;
  CaughtDiagnostics& operator=(const CaughtDiagnostics&) = delete;

  // What getopt said, without "vaultine: " and the line's end.
  std::string Text() {
    if (caught_ != nullptr) {
      stderr = shown_;
      std::fclose(caught_);
      caught_ = nullptr;
    }
    std::string text = text_ == nullptr ? "" : std::string(text_, size_);
    const std::string prefix = "vaultine: ";
    if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

 private:
  std::FILE* shown_;
  char* text_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* caught_;
};

}  // namespace

Command ParseCommandLine(int argc, char* argv[], Options* options, std::string* error) {
  // getopt names the program by argv[0]: "vaultine", however it was started.
  std::vector<char*> args(argv, argv + argc);
  std::string name = "vaultine";
  if (!args.empty()) args[0] = &name[0];
  Parsed parsed;
  optind = 0;
  opterr = 1;
  CaughtDiagnostics diagnostics;
  // "-": options and operands in the order given, so that no setting of
  // POSIXLY_CORRECT changes the meaning of a command line. Then the option
  // getopt returns lies in argv[at], the argument it stood at when called,
  // whether it ends a cluster ("-qf"), is one, or takes the next argument.
  int c;
  for (int at = 1; (c = getopt_long(argc, args.data(), "-k:o:rcfqvn:hV", kLongOptions, nullptr)) != -1;
       at = optind) {
    // "vaultine encrypt -k my.key *" in a folder where someone left a file
    // named "-o77" or "-f": an option after the files is no option the user
    // wrote.
    if (c != kOperand && parsed.arguments.size() > 1) {
      *error = "the option '" + std::string(argv[at]) +
               "' comes after the files; options go first, and a file named like an option after --";
      return Command::kUsageError;
    }
    switch (c) {
      case kOperand:
        parsed.arguments.push_back(optarg);
        break;
      case 'k':
        // A file named "-kevil.key" among the operands must not choose the key.
        if (parsed.have_key) {
          *error = "the key file is given twice (-k); if a file name starts with '-', put -- before the files";
          return Command::kUsageError;
        }
        options->key_path = optarg;
        parsed.have_key = true;
        break;
      case 'o':
        if (parsed.have_offset) {
          *error = "the offset is given twice (-o); if a file name starts with '-', put -- before the files";
          return Command::kUsageError;
        }
        if (!ParseOffset(optarg, &options->offset)) {
          *error = "invalid offset '" + std::string(optarg) + "': a whole number from 0 to 255";
          return Command::kUsageError;
        }
        parsed.have_offset = parsed.transform_only = true;
        break;
      case 'r':
        options->recursive = parsed.transform_only = true;
        break;
      case 'c':
        options->to_stdout = parsed.transform_only = true;
        break;
      case kKeyReadOnlyOption:
        options->key_read_only = parsed.transform_only = true;
        break;
      case 'q':
        options->quiet = true;
        break;
      case 'v':
        options->verbose = parsed.transform_only = true;
        break;
      case 'f':
        options->force = parsed.transform_only = true;
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
      case 'V':
        return Command::kVersion;
      default:
        *error = diagnostics.Text();  // what getopt said was wrong
        return Command::kUsageError;
    }
  }
  for (int i = optind; i < argc; ++i) parsed.arguments.push_back(argv[i]);
  return Finish(parsed, options, error);
}
