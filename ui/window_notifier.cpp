#include "ui/window_notifier.h"

#include "cipher/utf16.h"
#include "ui/texts.h"

WindowNotifier::WindowNotifier(HWND window) : window_(window) {}

void WindowNotifier::Tell(const Report& report) {
  const WarningText warning = WarningFor(report);
  DiscardWaitingInput();  // a key pressed meanwhile must not answer the box unseen
  MessageBoxW(window_, Utf16(warning.text).c_str(), Utf16(warning.caption).c_str(), MB_ICONEXCLAMATION);
  // The last step's failures stay on the title line until the command ends.
  if (!warning.title.empty()) SetWindowTextW(window_, Utf16(warning.title).c_str());
}

void WindowNotifier::Progress(const std::string& name, const std::string& extension, int percent) {
  SetWindowTextW(window_, Utf16(ProgressTitle(name, extension, percent)).c_str());
}

void DiscardWaitingInput() {
  const UINT kRanges[][2] = {
      {WM_KEYFIRST, WM_KEYLAST},
      {WM_MOUSEFIRST, WM_MOUSELAST},
      {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK},
  };
  MSG message;
  for (const auto& range : kRanges) {
    while (PeekMessageW(&message, nullptr, range[0], range[1], PM_REMOVE)) {
    }
  }
}
