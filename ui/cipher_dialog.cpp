#include "ui/cipher_dialog.h"

#include <windowsx.h>

#include <cwchar>

#include "cipher/input_checks.h"
#include "text/field_number.h"
#include "text/utf16.h"
#include "framework/dialog_number.h"
#include "framework/win_app.h"
#include "os/stop_request.h"
#include "os/win32.h"
#include "ui/window_notifier.h"
#include "ui/resource.h"

wchar_t g_storedDataPath[kPathCapacity];
wchar_t g_storedKeyPath[kPathCapacity];

BEGIN_MESSAGE_MAP(CCipherDlg, CDialog)
  ON_WM_SYSCOMMAND()
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_WM_LBUTTONUP()
  ON_WM_QUERYENDSESSION()
  ON_WM_ENDSESSION()
  ON_BN_CLICKED(IDC_ENCRYPT, OnEncrypt)
  ON_BN_CLICKED(IDC_DECRYPT, OnDecrypt)
  ON_BN_CLICKED(IDC_KEY_READ_ONLY, OnKeyReadOnly)
  ON_BN_CLICKED(IDC_BROWSE_DATA, OnBrowseData)
  ON_BN_CLICKED(IDC_BROWSE_KEY, OnBrowseKey)
  ON_EN_CHANGE(IDC_OFFSET, OnChangeOffset)
  ON_EN_KILLFOCUS(IDC_OFFSET, OnKillFocusOffset)
  ON_WM_VSCROLL()
END_MESSAGE_MAP()

CCipherDlg::CCipherDlg(HWND parent) : CDialog(IDD_CIPHER_DIALOG, parent) {
  m_hIcon = LoadIconA(AfxGetApp()->m_hInstance, MAKEINTRESOURCEA(IDR_MAINFRAME));
}

BOOL CCipherDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  SetDlgItemInt(m_hWnd, IDC_OFFSET, 0, TRUE);
  m_readOnly = 0;
  return TRUE;
}

void CCipherDlg::OnEncrypt() { RunCommand(IDC_ENCRYPT, TransformDirection::kEncrypt); }
void CCipherDlg::OnDecrypt() { RunCommand(IDC_DECRYPT, TransformDirection::kDecrypt); }

void CCipherDlg::RunCommand(int button, TransformDirection direction) {
  const DWORD position = GetMessagePos();
  RECT button_area;
  GetWindowRect(GetDlgItem(m_hWnd, button), &button_area);
  // Enter acts as it goes down, and is still down here; Space acts as it
  // comes up, and is told only as a click in the same place would be.
  const bool by_key = GetKeyState(VK_RETURN) < 0;
  if (m_clicks.IsSecondClick(button, GetMessageTime(), {GET_X_LPARAM(position), GET_Y_LPARAM(position)},
                             button_area, by_key)) {
    return;
  }
  std::wcscpy(m_dataPath, g_storedDataPath);
  std::wcscpy(m_keyPath, g_storedKeyPath);
  m_offset = OffsetAsTyped(GetDlgItemUnsigned(m_hWnd, IDC_OFFSET));
  if (m_keyPath[0] == L'\0' || m_dataPath[0] == L'\0') return;

  WindowNotifier notifier(m_hWnd);
  const std::string data_path = Utf8(m_dataPath);
  const std::string key_path = Utf8(m_keyPath);
  if (!CheckInputs(data_path, key_path, m_offset, m_readOnly != 0, notifier)) return;
  {
    // However the run ends, the window is given back usable.
    struct GiveBack {
      CCipherDlg& dialog;
      HWND focus;
      ~GiveBack() { dialog.EndRun(focus); }
    } give_back{*this, GetFocus()};
    EnableCommandButtons(FALSE);
    // A disabled button keeps no focus, and keys then reach no control:
    // Escape and Enter must still ask whether to stop.
    if (!IsWindowEnabled(GetFocus())) {
      SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetNextDlgTabItem(m_hWnd, GetFocus(), FALSE)), TRUE);
    }
    os::ClearStopRequest();
    m_running = true;
    TransformFile(data_path, key_path, static_cast<std::uint8_t>(m_offset), direction, notifier);
  }
  SetDlgItemTextA(m_hWnd, IDC_DATA_DISPLAY, "");
}

void CCipherDlg::EndRun(HWND focus) {
  m_running = false;
  SetWindowTextA(m_hWnd, "Vaultine");
  DiscardWaitingInput();
  EnableCommandButtons(TRUE);
  // Disabling the focused button left no control with the focus: the
  // keyboard goes back where it was, or on to the next control.
  if (focus != nullptr && !IsWindowEnabled(focus)) focus = GetNextDlgTabItem(m_hWnd, focus, FALSE);
  if (focus != nullptr) SendMessageA(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
}

void CCipherDlg::EnableCommandButtons(BOOL enable) {
  for (int id : {IDC_ENCRYPT, IDC_DECRYPT, IDC_BROWSE_DATA, IDC_BROWSE_KEY}) {
    EnableWindow(GetDlgItem(m_hWnd, id), enable);
  }
}

void CCipherDlg::OnOK() {
  if (m_running) return AskToStop();
  CDialog::OnOK();
}

void CCipherDlg::OnCancel() {
  if (m_running) return AskToStop();
  CDialog::OnCancel();
}

BOOL CCipherDlg::OnQueryEndSession() { return m_running ? FALSE : TRUE; }

// The program may be ended as soon as this returns, and the run waits below
// it: its working file goes now, as a stop would remove it, and the run then
// finds it stopped.
void CCipherDlg::OnEndSession(bool ending) {
  if (!ending || !m_running) return;
  os::RequestStop();
  os::RemoveUnfinishedFiles();
}

// The run waits for the answer; No is the one a stray Enter gives.
void CCipherDlg::AskToStop() {
  if (os::StopRequested()) return;
  const int answer = MessageBoxW(m_hWnd, L"A file is being transformed. Stop now?\r\nThe file stays as it was.",
                                 L"Stop the run?", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  if (answer == IDYES && m_running) os::RequestStop();
}

void CCipherDlg::OnKeyReadOnly() { m_readOnly = m_readOnly != 1 ? 1 : 0; }
