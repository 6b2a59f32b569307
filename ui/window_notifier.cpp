#include "ui/window_notifier.h"

#include "text/utf16.h"
#include "ui/texts.h"

WindowNotifier::WindowNotifier(HWND window) : window_(window) {
  wchar_t title[256] = L"";
  GetWindowTextW(window_, title, 256);
  idle_title_ = title;
}

void WindowNotifier::Tell(const Report& report) {
  // Only the user stops a run here, having been told the file stays as it was.
  if (report.event == Event::kStopped && !report.left_behind) return;
  const WarningText warning = WarningFor(report);
  DiscardWaitingInput();  // a key pressed meanwhile must not answer the box unseen
  // A box ends the run: its progress is no longer true.
  SetWindowTextW(window_, idle_title_.c_str());
  MessageBoxW(window_, Utf16(warning.text).c_str(), Utf16(warning.caption).c_str(), MB_ICONEXCLAMATION);
  // The last step's failures stay on the title line until the command ends.
  if (!warning.title.empty()) SetWindowTextW(window_, Utf16(warning.title).c_str());
}

void WindowNotifier::Progress(const std::string& name, const std::string& extension, int percent) {
  SetWindowTextW(window_, Utf16(ProgressTitle(name, extension, percent)).c_str());
}

void WindowNotifier::Working() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {  // for the loop that waits for it
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (!IsDialogMessageW(window_, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
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
