// The framework's own logic: message-map dispatch, the reading of numbers from
// edit fields, modal runs of real dialogs (under Wine's display-less driver);
// and the display form of chosen paths and the double-click filter.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "framework/dialog.h"
#include "framework/dialog_number.h"
#include "framework/message_map.h"
#include "framework/win_app.h"
#include "os/file_system.h"
#include "tests/support/test_files.h"
#include "cipher/transform.h"
#include "ui/cipher_dialog.h"
#include "ui/double_click.h"
#include "ui/path_display.h"
#include "ui/resource.h"

namespace {

class BaseTarget : public CCmdTarget {
 public:
  std::vector<std::string> calls;
  void OnBaseCommand() { calls.push_back("base 7"); }
  void OnPaint() { calls.push_back("base paint"); }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BaseTarget, CCmdTarget)
  ON_COMMAND(7, OnBaseCommand)
  ON_WM_PAINT()
END_MESSAGE_MAP()

class DerivedTarget : public BaseTarget {
 public:
  void OnClicked() { calls.push_back("clicked 5"); }
  void OnChange() { calls.push_back("change 5"); }
  void OnPaint() {
    calls.push_back("derived paint");
    Default();
  }
  void OnLButtonUp(UINT flags, POINT point) {
    calls.push_back("up " + std::to_string(flags) + " " + std::to_string(point.x) + "," + std::to_string(point.y));
  }
  HICON OnQueryDragIcon() { return reinterpret_cast<HICON>(0x1234); }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DerivedTarget, BaseTarget)
  ON_WM_PAINT()
  ON_BN_CLICKED(5, OnClicked)
  ON_EN_CHANGE(5, OnChange)
  ON_WM_LBUTTONUP()
  ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

TEST(MessageMapTest, CommandsMatchOnNotificationCodeAndId) {
  DerivedTarget target;
  INT_PTR result = 0;
  EXPECT_TRUE(target.OnMessage(WM_COMMAND, MAKEWPARAM(5, BN_CLICKED), 0, &result));
  EXPECT_TRUE(target.OnMessage(WM_COMMAND, MAKEWPARAM(5, EN_CHANGE), 0, &result));
  EXPECT_FALSE(target.OnMessage(WM_COMMAND, MAKEWPARAM(6, BN_CLICKED), 0, &result));
  EXPECT_FALSE(target.OnMessage(WM_COMMAND, MAKEWPARAM(5, EN_KILLFOCUS), 0, &result));
  EXPECT_EQ(target.calls, (std::vector<std::string>{"clicked 5", "change 5"}));
}

TEST(MessageMapTest, BaseMapAnswersWhatTheDerivedMapLacks) {
  DerivedTarget target;
  INT_PTR result = 0;
  EXPECT_TRUE(target.OnMessage(WM_COMMAND, MAKEWPARAM(7, 0), 0, &result));
  EXPECT_EQ(target.calls, (std::vector<std::string>{"base 7"}));
}

TEST(MessageMapTest, FirstMatchWinsAndDefaultPassesTheMessageOn) {
  DerivedTarget target;
  INT_PTR result = 0;
  EXPECT_FALSE(target.OnMessage(WM_PAINT, 0, 0, &result));  // handled, then default processing
  EXPECT_EQ(target.calls, (std::vector<std::string>{"derived paint"}));
}

TEST(MessageMapTest, ParametersAreUnpackedForTheHandler) {
  DerivedTarget target;
  INT_PTR result = 0;
  EXPECT_TRUE(target.OnMessage(WM_LBUTTONUP, MK_SHIFT, MAKELPARAM(-3, 57), &result));
  EXPECT_EQ(target.calls.back(), "up 4 -3,57");
  EXPECT_TRUE(target.OnMessage(WM_QUERYDRAGICON, 0, 0, &result));
  EXPECT_EQ(result, 0x1234);
}

// A handler that asks for default processing, or not, while another message
// is handled in between, as in a message box's modal loop.
class NestingTarget : public CCmdTarget {
 public:
  void Nested(UINT id) {
    INT_PTR result = 0;
    OnMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0, &result);
  }
  void OnAsksThenNests() {
    Default();
    Nested(3);
  }
  void OnNestsOnly() { Nested(4); }
  void OnTakes() {}
  void OnAsks() { Default(); }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(NestingTarget, CCmdTarget)
  ON_COMMAND(1, OnAsksThenNests)
  ON_COMMAND(2, OnNestsOnly)
  ON_COMMAND(3, OnTakes)
  ON_COMMAND(4, OnAsks)
END_MESSAGE_MAP()

TEST(MessageMapTest, DefaultProcessingIsAskedForPerCall) {
  NestingTarget target;
  INT_PTR result = 0;
  EXPECT_FALSE(target.OnMessage(WM_COMMAND, MAKEWPARAM(1, 0), 0, &result));
  EXPECT_TRUE(target.OnMessage(WM_COMMAND, MAKEWPARAM(2, 0), 0, &result));
}

TEST(DialogNumberTest, ReadsAsWindowsReadsAnUnsignedField) {
  EXPECT_EQ(ParseUnsignedField("12abc"), 12u);
  EXPECT_EQ(ParseUnsignedField("  7"), 7u);
  EXPECT_EQ(ParseUnsignedField("007"), 7u);
  EXPECT_EQ(ParseUnsignedField(""), 0u);
  EXPECT_EQ(ParseUnsignedField("abc"), 0u);
  EXPECT_EQ(ParseUnsignedField("-5"), 0u);
  EXPECT_EQ(ParseUnsignedField("+5"), 0u);
  EXPECT_EQ(ParseUnsignedField("0x10"), 0u);
  EXPECT_EQ(ParseUnsignedField("4294967295"), 4294967295u);
  EXPECT_EQ(ParseUnsignedField("4294967296"), 0u);
  EXPECT_EQ(ParseUnsignedField("2147483648"), 2147483648u);
  EXPECT_EQ(ParseUnsignedField("99999999999999999999"), 0u);
}

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

// ---- modal runs of real dialogs

constexpr UINT kTestDialog = 200;
constexpr UINT kSmallTestDialog = 201;

// A dialog that runs a step once it is up, then ends with IDOK by a message
// of its own, even when the step failed.
class StepDialog : public CDialog {
 public:
  explicit StepDialog(std::function<void(StepDialog&)> step, UINT templateId = kTestDialog)
      : CDialog(templateId), step_(std::move(step)) {}
  HWND window() const { return m_hWnd; }

 protected:
  BOOL OnInitDialog() override {
    PostMessageA(m_hWnd, WM_APP, 0, 0);
    PostMessageA(m_hWnd, WM_APP + 1, 0, 0);
    return TRUE;
  }
  LRESULT OnStep(WPARAM, LPARAM) {
    step_(*this);
    return TRUE;
  }
  LRESULT OnEnd(WPARAM, LPARAM) {
    EndDialog(m_hWnd, IDOK);
    return TRUE;
  }

 private:
  std::function<void(StepDialog&)> step_;

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(StepDialog, CDialog)
  ON_MESSAGE(WM_APP, OnStep)
  ON_MESSAGE(WM_APP + 1, OnEnd)
END_MESSAGE_MAP()

// Answers the next message box with this caption from another thread, as a
// user would, and keeps what it said; look, if given, sees the box first.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(const std::string& caption, std::function<void(HWND box)> look = nullptr)
      : thread_([this, caption, look] {
          for (int tries = 0; tries < 500; ++tries) {
            if (HWND box = FindWindowA("#32770", caption.c_str())) {
              char text[512] = "";
              GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
              said_ = text;
              if (look) look(box);
              PostMessageA(box, WM_COMMAND, IDOK, 0);
              return;
            }
            Sleep(10);
          }
        }) {}

  std::string Said() {
    thread_.join();
    return said_;
  }

 private:
  std::string said_;
  std::thread thread_;
};

TEST(ModalRunTest, WithoutParentItBelongsToTheActiveWindowWhichWaitsBehindIt) {
  HWND outer_window = nullptr;
  HWND owner = nullptr;
  BOOL outer_enabled_meanwhile = TRUE;
  BOOL outer_enabled_after = FALSE;
  RECT outer_place = {};
  RECT inner_place = {};
  StepDialog outer([&](StepDialog& self) {
    outer_window = self.window();
    SetWindowPos(outer_window, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    StepDialog inner([&](StepDialog& in) {
      owner = GetWindow(in.window(), GW_OWNER);
      outer_enabled_meanwhile = IsWindowEnabled(outer_window);
      GetWindowRect(outer_window, &outer_place);
      GetWindowRect(in.window(), &inner_place);
    }, kSmallTestDialog);
    inner.DoModal();
    outer_enabled_after = IsWindowEnabled(outer_window);
  });
  EXPECT_EQ(outer.DoModal(), IDOK);
  EXPECT_EQ(owner, outer_window);
  EXPECT_FALSE(outer_enabled_meanwhile);
  EXPECT_TRUE(outer_enabled_after);
  // Centred over it.
  EXPECT_NEAR(inner_place.left + inner_place.right, outer_place.left + outer_place.right, 1);
  EXPECT_NEAR(inner_place.top + inner_place.bottom, outer_place.top + outer_place.bottom, 1);
}

TEST(ModalRunTest, CentredDialogStaysWhollyOnTheScreen) {
  RECT screen;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &screen, 0));
  RECT inner_place = {};
  StepDialog outer([&](StepDialog& self) {
    SetWindowPos(self.window(), nullptr, screen.right - 40, screen.bottom - 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    StepDialog inner([&](StepDialog& in) { GetWindowRect(in.window(), &inner_place); }, kSmallTestDialog);
    inner.DoModal();
  });
  outer.DoModal();
  EXPECT_LE(inner_place.right, screen.right);
  EXPECT_LE(inner_place.bottom, screen.bottom);
  EXPECT_GE(inner_place.left, screen.left);
}

TEST(ModalRunTest, ExceptionFromAHandlerIsShownAndTheDialogGoesOn) {
  BoxAnswerer user(ModuleTitle());
  StepDialog dialog([](StepDialog&) { throw std::runtime_error("the disk is on fire"); });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(user.Said(), "This could not be done: the disk is on fire.");
}

// A dialog of another kind that keeps data of its own where a dialog keeps
// user data, as the system's message boxes and Open dialog may.
bool foreign_dialog_taken = true;
INT_PTR CALLBACK ForeignDialogProc(HWND window, UINT message, WPARAM, LPARAM) {
  if (message != WM_INITDIALOG) return FALSE;
  SetWindowLongPtrA(window, DWLP_USER, 0x1234);
  foreign_dialog_taken = CDialog::FromHandle(window) != nullptr;
  EndDialog(window, IDOK);
  return TRUE;
}

TEST(ModalRunTest, DialogsOfOtherKindsAreNotTakenForOurs) {
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kTestDialog), nullptr, ForeignDialogProc, 0);
  EXPECT_FALSE(foreign_dialog_taken);
  CDialog* found = nullptr;
  StepDialog ours([&](StepDialog& self) { found = CDialog::FromHandle(self.window()); });
  ours.DoModal();
  EXPECT_EQ(found, &ours);
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
