// The program's dialogs: the display form of chosen paths, the double-click
// filter, the main dialog driven from inside its own modal run, and the texts
// of both templates as Wine draws them.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "cipher/transform.h"
#include "framework/win_app.h"
#include "os/file_system.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/test_files.h"
#include "ui/cipher_dialog.h"
#include "ui/double_click.h"
#include "ui/path_display.h"
#include "ui/resource.h"

namespace {

TEST(PathDisplayTest, LongPathsShowDriveAndFileName) {
  EXPECT_EQ(AbbreviatedPath("C:\\Documents\\Letters\\report.txt"), "C:\\...\\report.txt");
  EXPECT_EQ(AbbreviatedPath("\\\\server\\share\\docs\\report.txt"), "\\...\\report.txt");
  EXPECT_EQ(AbbreviatedPath("C:\\Documents\\Letters\\README"), "C:\\...\\README");
}

TEST(PathDisplayTest, TwentyCharactersAreShownWhole) {
  const std::string twenty = "C:\\abcdefghij\\kl.txt";
  ASSERT_EQ(twenty.size(), 20u);
  EXPECT_EQ(AbbreviatedPath(twenty), twenty);
  EXPECT_EQ(AbbreviatedPath("C:\\abcdefghij\\klm.txt"), "C:\\...\\klm.txt");
}

TEST(DoubleClickFilterTest, FurtherClicksOfADoubleClickOnOneButtonAreDropped) {
  const DWORD soon = GetDoubleClickTime();
  const POINT here = {100, 100};
  const POINT far_away = {100 + GetSystemMetrics(SM_CXDOUBLECLK), 100};
  const RECT button = {50, 90, 150, 110};
  DoubleClickFilter clicks;
  EXPECT_FALSE(clicks.IsSecondClick(1007, 1000, here, button));
  EXPECT_TRUE(clicks.IsSecondClick(1007, 1000 + soon, here, button));
  EXPECT_TRUE(clicks.IsSecondClick(1007, 1000 + 2 * soon, here, button));  // a triple click
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + 2 * soon, here, button));  // another button
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + 4 * soon, here, button));  // too late
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + 4 * soon, far_away, button));
  // A key pressed with the pointer off the button is a command of its own.
  const RECT elsewhere = {300, 300, 400, 320};
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + 4 * soon, far_away, elsewhere));
}

// ---- the program's main dialog, driven from inside its own modal run

class DrivenCipherDlg : public CCipherDlg {
 public:
  explicit DrivenCipherDlg(std::function<void(HWND)> step) : step_(std::move(step)) {}

 protected:
  BOOL OnInitDialog() override {
    CCipherDlg::OnInitDialog();
    PostMessageA(m_hWnd, WM_APP, 0, 0);
    return TRUE;
  }
  LRESULT OnStep(WPARAM, LPARAM) {
    step_(m_hWnd);
    EndDialog(m_hWnd, IDOK);
    return TRUE;
  }

 private:
  std::function<void(HWND)> step_;

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DrivenCipherDlg, CCipherDlg)
  ON_MESSAGE(WM_APP, OnStep)
END_MESSAGE_MAP()

TEST(CipherDialogTest, ACommandWorksOnItsOwnWindowWhicheverWindowIsActive) {
  CWinApp app;  // the dialog takes its icon from the application's module
  app.m_hInstance = GetModuleHandleA(nullptr);
  ScratchDir dir;
  const std::string data = dir.File("data.txt");
  const std::string key = dir.File("key.bin");
  WriteBytes(data, RandomBytes(100, 1));
  WriteBytes(key, {7});
  ASSERT_TRUE(os::MakeReadOnly(data));  // the run ends with a warning
  std::strcpy(g_storedDataPath, data.c_str());
  std::strcpy(g_storedKeyPath, key.c_str());
  const Bytes plain = ReadBytes(data);

  // The user went to another program while the file was transformed.
  HWND other = CreateWindowA("STATIC", "Another program", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                             nullptr, nullptr);
  HWND dialog_window = nullptr;
  HWND box_owner = nullptr;
  BOOL encrypt_enabled_meanwhile = TRUE;
  BoxAnswerer user("Error: Could not delete original file!", [&](HWND box) {
    box_owner = GetWindow(box, GW_OWNER);
    encrypt_enabled_meanwhile = IsWindowEnabled(GetDlgItem(box_owner, IDC_ENCRYPT));
  });
  char other_title[64] = "";
  char display[64] = "";
  BOOL encrypt_enabled_after = FALSE;
  DrivenCipherDlg dialog([&](HWND window) {
    dialog_window = window;
    const auto encrypt = [&] {
      SetDlgItemTextA(window, IDC_DATA_DISPLAY, "data.txt");
      SetActiveWindow(other);
      SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_ENCRYPT, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_ENCRYPT)));
    };
    encrypt();  // ends with a warning, after which the dialog is active again
    MakeWritable(data);
    DeleteFileA(WorkingPath(data).c_str());
    encrypt();  // ends while the other program is still in front
    GetWindowTextA(other, other_title, sizeof other_title);
    GetDlgItemTextA(window, IDC_DATA_DISPLAY, display, sizeof display);
    encrypt_enabled_after = IsWindowEnabled(GetDlgItem(window, IDC_ENCRYPT));
  });
  dialog.DoModal();
  DestroyWindow(other);

  EXPECT_EQ(user.Said(), "Could not delete " + data + ".");
  EXPECT_EQ(box_owner, dialog_window);
  EXPECT_FALSE(encrypt_enabled_meanwhile);
  EXPECT_TRUE(encrypt_enabled_after);
  EXPECT_STREQ(other_title, "Another program");
  EXPECT_STREQ(display, "");
  EXPECT_EQ(ReadBytes(data), Expected(plain, {7}, 0, TransformDirection::Encrypt));
}

// ---- the program's dialogs as Wine draws them

// What a static text or a button needs, measured with its own font, against
// the room the control leaves it: one line for a button (after the box of a
// check box), wrapped lines for a static text. Empty when it fits.
std::string Misfit(HWND control) {
  char text[512] = "";
  GetWindowTextA(control, text, sizeof text);
  char kind[32] = "";
  GetClassNameA(control, kind, sizeof kind);
  const LONG style = GetWindowLongA(control, GWL_STYLE);
  const bool is_button = lstrcmpiA(kind, "Button") == 0;
  const bool is_text = lstrcmpiA(kind, "Static") == 0 && (style & SS_TYPEMASK) <= SS_RIGHT;
  if (text[0] == '\0' || !(is_button || is_text)) return "";

  RECT room;
  GetClientRect(control, &room);
  const UINT button_kind = style & BS_TYPEMASK;
  if (is_button && (button_kind == BS_AUTOCHECKBOX || button_kind == BS_CHECKBOX)) {
    room.right -= GetSystemMetrics(SM_CXMENUCHECK) + 4;  // the box and the gap after it
  } else if (is_button) {
    room.right -= 2 * (GetSystemMetrics(SM_CXEDGE) + 1);  // the raised edge on both sides
  }
  HDC dc = GetDC(control);
  HGDIOBJ old_font = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
  RECT need = {0, 0, room.right, 0};
  if (is_button) {
    SIZE size;
    GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
    need.right = size.cx;
    need.bottom = size.cy;
  } else {
    const UINT prefix = (style & SS_NOPREFIX) != 0 ? DT_NOPREFIX : 0;
    DrawTextA(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | prefix);
  }
  SelectObject(dc, old_font);
  ReleaseDC(control, dc);
  if (need.right <= room.right && need.bottom <= room.bottom) return "";
  return "'" + std::string(text) + "' needs " + std::to_string(need.right) + "x" + std::to_string(need.bottom) +
         " pixels, has " + std::to_string(room.right) + "x" + std::to_string(room.bottom) + "\n";
}

TEST(DialogTextTest, EveryTextFitsItsControl) {
  for (UINT id : {IDD_CIPHER_DIALOG, IDD_ABOUTBOX}) {
    SCOPED_TRACE(id);
    std::string misfits;
    StepDialog dialog(
        [&](StepDialog& self) {
          for (HWND child = GetWindow(self.window(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            misfits += Misfit(child);
          }
        },
        id);
    ASSERT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(misfits, "");
  }
}

}  // namespace
