// The framework's own logic, without windows: message-map dispatch and the
// reading of numbers from edit fields; and the display form of chosen paths.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/dialog_number.h"
#include "framework/message_map.h"
#include "ui/path_display.h"

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

}  // namespace
