#include "os/window_notifier.h"

#include <windows.h>

namespace os {

void WindowNotifier::Warning(const std::string& text, const std::string& caption) {
  MessageBoxA(GetActiveWindow(), text.c_str(), caption.c_str(), MB_ICONEXCLAMATION);
}

void WindowNotifier::Title(const std::string& text) {
  SetWindowTextA(GetActiveWindow(), text.c_str());
}

}  // namespace os
