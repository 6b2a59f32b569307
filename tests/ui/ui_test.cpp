// The program's dialogs: the display form of chosen paths, the double-click
// filter, the main dialog driven from inside its own modal run, and the texts
// of both templates as Wine draws them.

#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
#include <string>

#include "cipher/transform.h"
#include "text/utf16.h"
#include "framework/win_app.h"
#include "os/file_system.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/test_files.h"
#include "ui/cipher_dialog.h"
#include "ui/double_click.h"
#include "ui/path_display.h"
#include "ui/resource.h"
#include "ui/texts.h"

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
  // Characters, not the bytes of their UTF-8.
  EXPECT_EQ(AbbreviatedPath("C:\\Dokumente\\B\xC3\xA4r.txt"), "C:\\Dokumente\\B\xC3\xA4r.txt");
  const std::string japanese = "C:\\\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\\\xE6\x89\x8B\xE7\xB4\x99.txt";  // 13 characters
  EXPECT_EQ(AbbreviatedPath(japanese), japanese);
  EXPECT_EQ(AbbreviatedPath("C:\\Dokumente\\B\xC3\xA4rs.txt"), "C:\\...\\B\xC3\xA4rs.txt");
}

// Every report in the program's own words: those of version 1.0x as they
// were, the others in their style.
TEST(WarningTextTest, EachReportReadsAsTheProgramSaysIt) {
  const std::string data = "C:\\docs\\" + std::string(480, 'x') + ".txt";  // quoted whole
  const std::string key = "C:\\key.bin";
  const std::string working = WorkingPath(data);
  struct Case {
    Event event;
    std::string path;
    std::string text;
    std::string caption;
    std::string detail = "ACL";
    bool data_gone = false;  // another program removed the data file, its folder too maybe
    int code = 5;
  };
  const char* kInput = "Encrypt file error.";
  const char* kWrite = "Error: Could not write encrypted file!";
  const char* kChanged = "Error: File changed during the run!";
  const std::string gone = data + " was removed by another program during the run.";
  const std::vector<Case> cases = {
      {Event::kSameFile, key,
       "Using  the same filename for encrypting file and a key file destroys the key file.\r\n"
       "You won't be able to recover the encrypted file.\r\nChoose a differnt key file.",
       "Filename error. (Bad idea.)"},
      {Event::kNotFound, data, "Cannot find " + data + ".", kInput},
      {Event::kIsFolder, data, "Cannot use " + data + ": it is a folder, not a file.", kInput},
      {Event::kNotRegularFile, key, "Cannot use " + key + ": it is a device, a pipe or a socket, not a file.", kInput},
      {Event::kInUse, key, key + " is in use: another program has it open.\r\nClose it there, then try again.", kInput},
      {Event::kCannotOpen, key, "Could not open " + key + " (Access denied).", "Error: Could not read file!"},
      {Event::kIsLink, data, "Cannot use " + data + ": it is a link to another file, which would stay as it "
                             "is.\r\nChoose the file it leads to.", kInput},
      {Event::kCannotMakeReadOnly, key, "Cannot make key file read only.", "Set Attribute Error."},
      {Event::kOffsetOutOfRange, data, "Offset must be value between 0 and 255.", "Error"},
      {Event::kKeyEmpty, key, "The key file " + key + " is empty: it holds no bytes to encrypt with.\r\n"
                               "Choose another key file.", "Key file error."},
      {Event::kRunInProgress, working, "Another run is writing " + working +
                                           ", the working file this file needs.\r\nWait until it is done, then try "
                                           "again.",
       "Error: Could not create working file!"},
      {Event::kWorkingInTheWay, working, "A file named " + working + " is in the way of the working file.\r\nIt "
                                         "was left by a run that did not finish or could not replace the file; the "
                                         "data file itself is whole. Remove or rename it, then try again.",
       "Error: Could not create working file!", ""},
      {Event::kWorkingInTheWay, working, "A folder named " + working + " is in the way of the working file.\r\n"
                                         "Rename it, then try again.", "Error: Could not create working file!",
       "folder"},
      {Event::kCannotRead, data, "Could not read " + data + " (Access denied). The file is unchanged.",
       "Error: Could not read file!"},
      {Event::kCannotRead, data, "Could not read " + data + " (Access denied). " + gone, "Error: Could not read file!",
       "", true},
      {Event::kCannotWrite, working, "Could not write the working file " + working + " (Access denied). The original "
                                     "file is unchanged.", kWrite},
      {Event::kCannotWrite, working, "Could not write the working file " + working + " (Access denied). " + gone,
       kWrite, "", true},
      {Event::kWorkingCutShort, working, "Could not write the working file " + working + " (another program cut it "
                                         "short). " + gone, kWrite, "", true},
      {Event::kDataChanged, data, data + " was changed by another program during the run, so it was not replaced.\r\n"
                                  "It is left as it now is. Try again once nothing else is using it.", kChanged},
      {Event::kDataChanged, data, data + " was changed by another program during the run, so it was not replaced.\r\n" +
                                      gone, kChanged, "", true},
      {Event::kKeyChanged, key, "The key file " + key + " was changed by another program during the run, so the "
                                "file was not replaced.\r\nThe file is unchanged. Try again once nothing else is "
                                "using the key file.", kChanged},
      {Event::kKeyChanged, key, "The key file " + key + " was changed by another program during the run, so the "
                                "file was not replaced.\r\n" + gone, kChanged, "", true},
      {Event::kWorkingChanged, working, "The working file " + working + " was removed or replaced by another program "
                                        "during the run, so nothing was replaced.\r\nThe data file is unchanged. Try "
                                        "again.", kChanged},
      {Event::kWorkingChanged, working, "The working file " + working + " was removed or replaced by another program "
                                        "during the run, so nothing was replaced.\r\n" + gone, kChanged, "", true},
      {Event::kGuardNotKept, data, "The working file could not be given what guards " + data + " (ACL: Access "
                                   "denied): the result would have been open to more people than the file.\r\nThe "
                                   "file is unchanged.", kWrite},
      {Event::kGuardNotKept, data, "The working file could not be given what guards " + data + " (permissions: "
                                   "Access denied): the result would have been open to more people than the file."
                                   "\r\n" + gone, kWrite, "permissions", true},
      {Event::kReadOnly, data, "Could not delete " + data + ".\r\nIt is read-only. The decrypted (plain text) "
                               "result is in " + working + ".", "Error: Could not delete original file!"},
      {Event::kDataInUse, data, data + " is in use by another program, so it was not replaced; it is unchanged.\r\n"
                                "The decrypted (plain text) result is in " + working + ".", "Error: File in use!"},
      {Event::kNotReplaced, data, "Encrypted file's name is left as: " + working + "\r\nIt could not take the place of " +
                                      data + " (Access denied), which is unchanged; it holds the decrypted (plain "
                                      "text) result.",
       "Error: Could not rename encrypted file!"},
      {Event::kDataRemoved, data, data + " was removed by another program during the run.\r\nThe decrypted (plain "
                                  "text) result is in " + working + ".", "Error: File changed during the run!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.event));
    Report report;
    report.event = c.event;
    report.path = c.path;
    report.data_path = data;
    report.key_path = key;
    report.working_path = working;
    report.direction = TransformDirection::kDecrypt;
    report.error = {c.code, "Access denied"};
    report.detail = c.detail;
    report.data_gone = c.data_gone;
    const WarningText warning = WarningFor(report);
    EXPECT_EQ(warning.text, c.text);
    EXPECT_EQ(warning.caption, c.caption);
  }
  // The last step's failures stay on the title line; a working file that
  // could not go is named with the reason.
  Report report;
  report.event = Event::kReadOnly;
  report.path = data;
  report.working_path = working;
  EXPECT_EQ(WarningFor(report).title, "Could not delete " + data + ".");
  report.event = Event::kStopped;
  report.left_behind = true;
  report.not_removed = {5, "Access denied"};
  EXPECT_EQ(WarningFor(report).text, "Stopped before the end. " + data + " is unchanged.\r\nThe working file " +
                                         working + " could not be removed (Access denied); remove it yourself.");
  report.data_path = data;
  report.data_gone = true;
  EXPECT_EQ(WarningFor(report).text, "Stopped before the end. " + data + " was removed by another program during "
                                     "the run.\r\nThe working file " + working + " could not be removed (Access "
                                     "denied); remove it yourself.");
  EXPECT_EQ(ProgressTitle("report", ".txt", 51), "Working file report.txt 51% done.");
}

TEST(DoubleClickFilterTest, FurtherClicksOfADoubleClickOnOneButtonAreDropped) {
  const DWORD soon = GetDoubleClickTime();
  const POINT here = {100, 100};
  const POINT far_away = {100 + GetSystemMetrics(SM_CXDOUBLECLK), 100};
  const RECT button = {50, 90, 150, 110};
  DoubleClickFilter clicks;
  EXPECT_FALSE(clicks.IsSecondClick(1007, 1000, here, button, false));
  EXPECT_TRUE(clicks.IsSecondClick(1007, 1000 + soon, here, button, false));
  EXPECT_TRUE(clicks.IsSecondClick(1007, 1000 + 2 * soon, here, button, false));  // a triple click
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + 2 * soon, here, button, false));  // another button
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + 4 * soon, here, button, false));  // too late
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + 4 * soon, far_away, button, false));
  // A key pressed again in a hurry is the same press, wherever the pointer
  // is; pressed again later, a command of its own.
  const RECT elsewhere = {300, 300, 400, 320};
  EXPECT_TRUE(clicks.IsSecondClick(1010, 1000 + 5 * soon, far_away, elsewhere, true));
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + 7 * soon, far_away, elsewhere, true));
  EXPECT_TRUE(clicks.IsSecondClick(1010, 1000 + 8 * soon, here, button, true));
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + 10 * soon, here, button, true));
  // A command another program sends, with the pointer off the button, is a
  // command of its own.
  EXPECT_FALSE(clicks.IsSecondClick(1010, 1000 + 11 * soon, far_away, elsewhere, false));
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
  std::wcscpy(g_storedDataPath, Utf16(data).c_str());
  std::wcscpy(g_storedKeyPath, Utf16(key).c_str());
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
    RemoveFile(WorkingPath(data));  // as read-only as the file it was kept for
    encrypt();  // ends while the other program is still in front
    GetWindowTextA(other, other_title, sizeof other_title);
    GetDlgItemTextA(window, IDC_DATA_DISPLAY, display, sizeof display);
    encrypt_enabled_after = IsWindowEnabled(GetDlgItem(window, IDC_ENCRYPT));
  });
  dialog.DoModal();
  DestroyWindow(other);

  EXPECT_EQ(user.Said(), "Could not delete " + data + ".\r\nIt is read-only. The encrypted result is in " +
                             WorkingPath(data) + ".");
  EXPECT_EQ(box_owner, dialog_window);
  EXPECT_FALSE(encrypt_enabled_meanwhile);
  EXPECT_TRUE(encrypt_enabled_after);
  EXPECT_STREQ(other_title, "Another program");
  EXPECT_STREQ(display, "");
  EXPECT_EQ(ReadBytes(data), Expected(plain, {7}, 0, TransformDirection::kEncrypt));
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
