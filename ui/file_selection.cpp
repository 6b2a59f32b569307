// The two browse buttons: the Open dialog, the stored path, the short display.

#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "text/utf16.h"
#include "ui/cipher_dialog.h"
#include "ui/file_selection.h"
#include "ui/path_display.h"
#include "ui/resource.h"

namespace {

// The record as the earliest 32-bit Open dialog knew it, ending with
// lpTemplateName: every Windows since accepts that size, and shows the same
// dialog for it.
constexpr DWORD kOpenFileNameSize = offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(LPCWSTR);
#ifndef _WIN64
static_assert(kOpenFileNameSize == 76, "the earliest record is 76 bytes");
#endif

void ShowChosenPath(HWND dialog, const wchar_t* path, int field) {
  SetDlgItemTextW(dialog, field, Utf16(AbbreviatedPath(Utf8(path))).c_str());
}

}  // namespace

int BrowseForFile(HWND owner, wchar_t* path, int capacity) {
  path[0] = L'\0';
  OPENFILENAMEW record;
  std::memset(&record, 0, sizeof record);
  record.lStructSize = kOpenFileNameSize;
  record.hwndOwner = owner;
  record.lpstrFilter = L"All Files (*.*)\0*.*\0";
  record.lpstrFile = path;
  record.nMaxFile = static_cast<DWORD>(capacity);
  // The current folder stays where it was: made the chosen file's, it would
  // keep that folder busy, and a USB stick with it could not be ejected. The
  // dialog itself still starts where the last file was chosen.
  record.Flags = OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  int chosen = GetOpenFileNameW(&record);
  if (chosen != 0) return chosen;

  char text[64] = "Common Dialog Error: ";
  DWORD code = CommDlgExtendedError();
  if (code != 0) {
    std::snprintf(text + std::strlen(text), sizeof text - std::strlen(text), "%ld", static_cast<long>(code));
    MessageBoxA(nullptr, text, "WARNING", MB_ICONHAND);
  }
  return 0;
}

// The dialog by name: the user may have gone to another program meanwhile.
void CCipherDlg::OnBrowseData() {
  if (!BrowseForFile(m_hWnd, g_storedDataPath, kPathCapacity)) return;
  ShowChosenPath(m_hWnd, g_storedDataPath, IDC_DATA_DISPLAY);
}

void CCipherDlg::OnBrowseKey() {
  if (!BrowseForFile(m_hWnd, g_storedKeyPath, kPathCapacity)) return;
  ShowChosenPath(m_hWnd, g_storedKeyPath, IDC_KEY_DISPLAY);
}
