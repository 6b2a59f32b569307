// Reads the state of the running program's windows for the end-to-end tests,
// as a screen reader would: what a control shows, whether it is enabled, what
// a message box says.
//   probe text ID        the text of control ID in the "Vaultine" dialog
//   probe enabled ID     1 or 0
//   probe checked ID     1 or 0
//   probe focus          the id of the "Vaultine" dialog's control that has
//                        the keyboard focus, or 0
//   probe box CAPTION    the text of the message box with that caption
//   probe owner CAPTION  the caption of the window that owns that dialog, and
//                        whether that window is "enabled" or "disabled"
//   probe syscommand ID  posts that system command to the dialog, as its
//                        system menu would
//   probe responds       1 when the dialog answers a message within a
//                        second, 0 when Windows counts it as hung
//   probe write PATH     "refused" when the file cannot be opened for
//                        writing because another program holds it, else
//                        "allowed"
//   probe hold PATH      holds PATH open for writing until killed
//   probe endsession     tells the dialog that the session ends, and once
//                        it has answered ends its program, as Windows does

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// In UTF-8, as the test reads it.
std::string TextOf(HWND window) {
  wchar_t text[2048] = L"";
  SendMessageW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
  char utf8[8192] = "";
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  return utf8;
}

HWND Dialog(const char* caption) { return FindWindowA("#32770", caption); }

BOOL CALLBACK TakeMainDialog(HWND window, LPARAM result) {
  char kind[16] = "";
  GetClassNameA(window, kind, sizeof kind);
  if (std::strcmp(kind, "#32770") != 0 || GetDlgItem(window, 1007) == nullptr) return TRUE;
  *reinterpret_cast<HWND*>(result) = window;
  return FALSE;
}

// The main dialog, whatever its title says meanwhile: the one with an
// Encrypt button.
HWND MainDialog() {
  HWND found = nullptr;
  EnumWindows(TakeMainDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

// The path argument as given: argv holds it in the ANSI code page, which
// may not hold its letters.
HANDLE OpenForWriting() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  HANDLE file = count > 2 ? CreateFileW(arguments[2], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                        FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                          : INVALID_HANDLE_VALUE;
  LocalFree(arguments);
  return file;
}

int FocusedControl(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) || info.hwndFocus == nullptr) return 0;
  return GetDlgCtrlID(info.hwndFocus);
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "responds") {
    DWORD_PTR answer = 0;
    HWND dialog = MainDialog();
    std::printf("%d\n", dialog != nullptr && SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000,
                                                                  &answer) != 0);
    return 0;
  }
  if (what == "write" && argc == 3) {
    HANDLE file = OpenForWriting();
    std::printf("%s\n", file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION ? "refused" : "allowed");
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return 0;
  }
  if (what == "hold" && argc == 3) {
    if (OpenForWriting() == INVALID_HANDLE_VALUE) return 1;
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(INFINITE);
  }
  if (what == "endsession") {
    HWND dialog = MainDialog();
    DWORD process_id = 0;
    GetWindowThreadProcessId(dialog, &process_id);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, process_id);
    if (dialog == nullptr || process == nullptr) return 1;
    SendMessageW(dialog, WM_ENDSESSION, TRUE, 0);
    TerminateProcess(process, 0);
    CloseHandle(process);
    return 0;
  }
  if (what == "focus") {
    HWND dialog = MainDialog();
    if (dialog == nullptr) return 1;
    std::printf("%d\n", FocusedControl(dialog));
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: probe text|enabled|checked|syscommand ID | probe box|owner CAPTION | probe focus\n");
    return 2;
  }
  if (what == "box" || what == "owner") {
    HWND window = Dialog(argv[2]);
    if (window == nullptr) return 1;
    if (what == "box") {
      // A message box's text is the static control with id 0xFFFF.
      std::printf("%s\n", TextOf(GetDlgItem(window, 0xFFFF)).c_str());
    } else {
      HWND owner = GetWindow(window, GW_OWNER);
      std::printf("%s %s\n", TextOf(owner).c_str(), IsWindowEnabled(owner) ? "enabled" : "disabled");
    }
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
