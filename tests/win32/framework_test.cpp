// The framework's own logic: message-map dispatch, the reading of numbers from
// edit fields, modal runs of real dialogs (under Wine's display-less driver);
// and the display form of chosen paths and the double-click filter.

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "framework/dialog.h"
#include "framework/dialog_number.h"
#include "framework/message_map.h"
#include "framework/win_app.h"
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

TEST(DoubleClickFilterTest, OnlyTheSecondClickOfADoubleClickOnOneButtonIsDropped) {
  const DWORD soon = GetDoubleClickTime();
  const POINT here = {100, 100};
  const POINT far_away = {100 + GetSystemMetrics(SM_CXDOUBLECLK), 100};
  DoubleClickFilter clicks;
  EXPECT_FALSE(clicks.IsSecondClick(1007, 1000, here));
  EXPECT_TRUE(clicks.IsSecondClick(1007, 1000 + soon, here));
  EXPECT_FALSE(clicks.IsSecondClick(1007, 1000 + soon, here));  // a third click starts anew
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + soon, here));  // another button
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + 3 * soon, here));  // too late
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + 3 * soon, far_away));
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
// user would, and keeps what it said.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(const std::string& caption)
      : thread_([this, caption] {
          for (int tries = 0; tries < 500; ++tries) {
            if (HWND box = FindWindowA("#32770", caption.c_str())) {
              char text[512] = "";
              GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
              said_ = text;
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
