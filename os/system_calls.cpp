#include "os/system_calls.h"

#include <utility>

namespace os {
namespace {

SystemCallHook* the_hook = nullptr;

}  // namespace

const char* NameOf(SystemCall call) {
  static const char* const kNames[kSystemCallKinds] = {"open",      "look",       "read",   "write",
                                                       "flush",     "close",      "rename", "remove",
                                                       "attribute", "permission", "lease",  "list"};
  return kNames[static_cast<int>(call)];
}

void SetSystemCallHook(SystemCallHook hook) {
  static SystemCallHook installed;
  installed = std::move(hook);
  the_hook = installed ? &installed : nullptr;
}

int Intercept(SystemCall call) { return the_hook == nullptr ? 0 : (*the_hook)(call); }

}  // namespace os
