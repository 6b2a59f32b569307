// The framework's own logic: message-map dispatch, the reading of numbers from
// edit fields, and modal runs of real dialogs (under Wine's display-less
// driver).

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "framework/dialog_number.h"
#include "framework/message_map.h"
#include "framework/win_app.h"
#include "tests/support/dialog_driver.h"

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

TEST(DialogNumberTest, TheOffsetFieldIsTidiedToItsNumberUpTo255) {
  const struct {
    const char* typed;
    std::int32_t shown;
  } cases[] = {
      {"999", 255}, {"-5", 0}, {"12abc", 12}, {"007", 7}, {"", 0}, {"255", 255}, {"256", 255},
      {"2147483647", 255}, {"2147483648", 255}, {"4294967295", 255},  // past 31 bits still a number
      {"4294967296", 0},                                               // past 32 bits none, as Windows reads it
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClampedOffset(OffsetAsTyped(ParseUnsignedField(c.typed))), c.shown) << c.typed;
  }
}

// ---- modal runs of real dialogs

// The templates of framework_test.rc: two sizes.
constexpr UINT kTestDialog = 200;
constexpr UINT kSmallTestDialog = 201;

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
  }, kTestDialog);
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
  }, kTestDialog);
  outer.DoModal();
  EXPECT_LE(inner_place.right, screen.right);
  EXPECT_LE(inner_place.bottom, screen.bottom);
  EXPECT_GE(inner_place.left, screen.left);
}

TEST(ModalRunTest, ExceptionFromAHandlerIsShownAndTheDialogGoesOn) {
  BoxAnswerer user(ModuleTitle());
  StepDialog dialog([](StepDialog&) { throw std::runtime_error("the disk is on fire"); }, kTestDialog);
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
  StepDialog ours([&](StepDialog& self) { found = CDialog::FromHandle(self.window()); }, kTestDialog);
  ours.DoModal();
  EXPECT_EQ(found, &ours);
}

}  // namespace
