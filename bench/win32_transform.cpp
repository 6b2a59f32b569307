// The Windows engine on its own, for bench/run.sh to time under Wine: checks
// and transforms one file like one press of Encrypt, without a window.
//   win32_transform DATA KEY

#include <cstdio>

#include "cipher/input_checks.h"
#include "cipher/transform.h"

namespace {

class PrintingNotifier : public Notifier {
 public:
  void Warning(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
  void Title(const std::string&) override {}
};

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: win32_transform DATA KEY\n");
    return 2;
  }
  PrintingNotifier notifier;
  bool done = CheckInputs(argv[1], argv[2], 0, 0, notifier) != 0 &&
              TransformFile(argv[1], argv[2], 0, TransformDirection::Encrypt, notifier);
  return done ? 0 : 1;
}
