#pragma once

#include <windows.h>

#include <cstdint>

#include "cipher/transform.h"
#include "framework/dialog.h"
#include "ui/double_click.h"

constexpr int kPathCapacity = 520;

// The paths chosen with the browse buttons, for the whole run, as Windows
// spells them. A cancelled browse empties its path; the commands only read
// them.
extern wchar_t g_storedDataPath[kPathCapacity];
extern wchar_t g_storedKeyPath[kPathCapacity];

// The main window: choose a data file and a key file, set the offset, and
// encrypt or decrypt the data file in place.
class CCipherDlg : public CDialog {
 public:
  explicit CCipherDlg(HWND parent = nullptr);

 protected:
  BOOL OnInitDialog() override;

  // Icon and About box.
  void OnSysCommand(UINT id, LPARAM lParam);
  void OnPaint();
  HICON OnQueryDragIcon();
  void OnLButtonUp(UINT flags, POINT point);

  // Enter, Escape, the close box and Alt+F4: during a run they ask whether to
  // stop it, else they end the dialog.
  void OnOK() override;
  void OnCancel() override;

  // Windows ending the session: refused while a file is being transformed;
  // ended all the same, the run stops and its working file goes before the
  // program is ended.
  BOOL OnQueryEndSession();
  void OnEndSession(bool ending);

  // Commands.
  void OnEncrypt();
  void OnDecrypt();
  void OnKeyReadOnly();

  // File selection.
  void OnBrowseData();
  void OnBrowseKey();

  // Offset entry.
  void OnChangeOffset();
  void OnKillFocusOffset();
  void OnVScroll(UINT code, int position, HWND scrollBar);

 private:
  void RunCommand(int button, TransformDirection direction);
  void EnableCommandButtons(BOOL enable);
  // Gives the window back after a run: title, buttons and keyboard focus.
  void EndRun(HWND focus);
  void ClampOffset();
  void AskToStop();

  std::int32_t m_offset = 0;
  std::int32_t m_readOnly = 0;
  wchar_t m_keyPath[kPathCapacity] = {};
  wchar_t m_dataPath[kPathCapacity] = {};
  HICON m_hIcon;
  DoubleClickFilter m_clicks;
  bool m_running = false;

  DECLARE_MESSAGE_MAP()
};
