// The option parser, given one argument a line: options and files, or a
// usage error, never both; an argument after the files never sets an option,
// nor does a second -k or -o; the same line means the same however often it
// is read and whatever POSIXLY_CORRECT says; getopt's words go to the error,
// and stderr is given back.

#include "cli/options.h"

#include <tuple>

#include "fuzz/fuzz.h"

namespace {

struct Parse {
  Command command;
  Options options;
  std::string error;
  bool Succeeded() const { return command == Command::kTransform || command == Command::kKeygen; }
  // The files, and keygen's new key file after them.
  std::vector<std::string> Operands() const {
    std::vector<std::string> operands = options.files;
    if (command == Command::kKeygen) operands.push_back(options.key_path);
    return operands;
  }
  // Everything an option sets.
  auto Settings() const {
    const Options& o = options;
    return std::make_tuple(command, o.direction, command == Command::kKeygen ? "" : o.key_path, o.offset,
                           o.key_read_only, o.quiet, o.force, o.recursive, o.to_stdout, o.key_size, o.size_for_files);
  }
  bool operator==(const Parse& other) const {
    return Settings() == other.Settings() && Operands() == other.Operands() && error == other.error;
  }
};

Parse Parsed(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "vaultine");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  Parse parse;
  std::FILE* const shown = stderr;
  parse.command = ParseCommandLine(static_cast<int>(arguments.size()), argv.data(), &parse.options, &parse.error);
  REQUIRE(stderr == shown);
  REQUIRE(parse.error.empty() == (parse.command != Command::kUsageError));
  if (!parse.Succeeded()) REQUIRE(parse.options.files.empty());
  if (parse.command == Command::kTransform) REQUIRE(!parse.options.files.empty());
  if (parse.command == Command::kKeygen) REQUIRE((parse.options.key_size != 0) != parse.options.size_for_files);
  return parse;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments = Lines(Text(data, size));
  for (const std::string& argument : arguments) {
    if (argument.find('\0') != std::string::npos) return 0;  // no argument holds one
  }
  const Parse parse = Parsed(arguments);
  REQUIRE(Parsed(arguments) == parse);
  setenv("POSIXLY_CORRECT", "1", 1);
  const Parse posix = Parsed(arguments);
  unsetenv("POSIXLY_CORRECT");
  REQUIRE(posix == parse);

  // An argument after the files sets nothing: where the line without it
  // gives files, the line with it is an error or has one more operand.
  if (arguments.empty()) return 0;
  const std::string last = arguments.back();
  arguments.pop_back();
  const Parse before = Parsed(arguments);
  // With -c and no FILE, standard input is no argument: options may follow.
  const bool files_given = !(before.options.to_stdout && before.options.files == std::vector<std::string>{"-"});
  if (before.Succeeded() && parse.Succeeded() && files_given) {
    REQUIRE(parse.Settings() == before.Settings());
    std::vector<std::string> operands = before.Operands();
    operands.push_back(last);
    REQUIRE(parse.Operands() == operands || (last == "--" && parse.Operands() == before.Operands()));
  }
  // A second key is refused, and so is a second offset.
  arguments.push_back(last);
  if (parse.command != Command::kTransform) return 0;
  arguments.insert(arguments.begin(), "-kplanted.key");
  REQUIRE(Parsed(arguments).command == Command::kUsageError);
  arguments.front() = "-o1";
  const Parse offset = Parsed(arguments);
  REQUIRE(offset.command == Command::kUsageError || (parse.options.offset == 0 && offset.options.offset == 1));
  return 0;
}
