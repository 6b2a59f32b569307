// Reads the state of the running program's windows for the end-to-end tests,
// as a screen reader would: what a control shows, whether it is enabled, what
// a message box says.
//   probe text ID        the text of control ID in the "Vaultine" dialog
//   probe enabled ID     1 or 0
//   probe checked ID     1 or 0
//   probe box CAPTION    the text of the message box with that caption
//   probe syscommand ID  posts that system command to the dialog, as its
//                        system menu would

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string TextOf(HWND window) {
  char text[2048] = "";
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

HWND MainDialog() {
  HWND dialog = FindWindowA("#32770", "Vaultine");
  return dialog;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: probe text|enabled|checked ID | probe box CAPTION\n");
    return 2;
  }
  const std::string what = argv[1];
  if (what == "box") {
    HWND box = FindWindowA("#32770", argv[2]);
    if (box == nullptr) return 1;
    // The message text is the static control with id 0xFFFF.
    std::printf("%s\n", TextOf(GetDlgItem(box, 0xFFFF)).c_str());
    return 0;
  }
  HWND dialog = MainDialog();
  if (dialog == nullptr) return 1;
  HWND control = GetDlgItem(dialog, std::atoi(argv[2]));
  if (control == nullptr && what != "syscommand") return 1;
  if (what == "text") {
    std::printf("%s\n", TextOf(control).c_str());
  } else if (what == "enabled") {
    std::printf("%d\n", IsWindowEnabled(control) ? 1 : 0);
  } else if (what == "syscommand") {
    PostMessageA(dialog, WM_SYSCOMMAND, static_cast<WPARAM>(std::strtoul(argv[2], nullptr, 0)), 0);
  } else if (what == "checked") {
    std::printf("%d\n", SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
  } else {
    return 2;
  }
  return 0;
}
