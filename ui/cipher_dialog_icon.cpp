// The main dialog's icon: drawn when the window is minimised, dragged, and
// the two ways it opens the About box.

#include "ui/about_dialog.h"
#include "ui/cipher_dialog.h"

namespace {

void ShowAboutBox() {
  CAboutDlg about;
  about.DoModal();
}

// The icon's 32 x 32 pixels in the client area where 8-point "MS Sans Serif"
// puts its control (203, 15 dialog units). Pixels, as in version 1.0x: with
// another dialog font the area no longer covers the icon.
bool OverIcon(POINT point) { return point.x >= 305 && point.x <= 337 && point.y >= 25 && point.y <= 57; }

}  // namespace

void CCipherDlg::OnSysCommand(UINT id, LPARAM) {
  // 0x0010 is the command an About item of the system menu would send; no
  // menu item carries it, but a program that posts it opens the About box.
  if ((id & 0xFFF0) == 0x0010) {
    ShowAboutBox();
  } else {
    Default();
  }
}

void CCipherDlg::OnPaint() {
  if (!IsIconic(m_hWnd)) {
    Default();
    return;
  }
  CPaintDC dc(m_hWnd);
  SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
  const int icon_width = GetSystemMetrics(SM_CXICON);
  const int icon_height = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(m_hWnd, &client);
  const int x = (client.right - client.left - icon_width + 1) / 2;
  const int y = (client.bottom - client.top - icon_height + 1) / 2;
  DrawIcon(dc.m_hDC, x, y, m_hIcon);
}

HICON CCipherDlg::OnQueryDragIcon() { return m_hIcon; }

void CCipherDlg::OnLButtonUp(UINT, POINT point) {
  if (OverIcon(point)) ShowAboutBox();
  Default();
}
