#include "ui/window_notifier.h"

WindowNotifier::WindowNotifier(HWND window) : window_(window) {}

void WindowNotifier::Warning(const std::string& text, const std::string& caption) {
  DiscardWaitingInput();  // a key pressed meanwhile must not answer the box unseen
  MessageBoxA(window_, text.c_str(), caption.c_str(), MB_ICONEXCLAMATION);
}

void WindowNotifier::Title(const std::string& text) { SetWindowTextA(window_, text.c_str()); }

void DiscardWaitingInput() {
  const UINT kRanges[][2] = {
      {WM_KEYFIRST, WM_KEYLAST},
      {WM_MOUSEFIRST, WM_MOUSELAST},
      {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK},
  };
  MSG message;
  for (const auto& range : kRanges) {
    while (PeekMessageA(&message, nullptr, range[0], range[1], PM_REMOVE)) {
    }
  }
}
