// The Windows engine on its own, for bench/run.sh to time under Wine: checks
// and transforms one file like one press of Encrypt, without a window.
//   win32_transform DATA KEY

#include <cstdio>

#include "cipher/input_checks.h"
#include "cipher/transform.h"

namespace {

class PrintingNotifier : public Notifier {
 public:
  void Tell(const Report& report) override {
    std::fprintf(stderr, "event %d: %s (%s)\n", static_cast<int>(report.event), report.path.c_str(),
                 report.error.text.c_str());
  }
  void Progress(const std::string&, const std::string&, int) override {}
};

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: win32_transform DATA KEY\n");
    return 2;
  }
  PrintingNotifier notifier;
  bool done = CheckInputs(argv[1], argv[2], 0, false, notifier) &&
              TransformFile(argv[1], argv[2], 0, TransformDirection::kEncrypt, notifier);
  return done ? 0 : 1;
}
