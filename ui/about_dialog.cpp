// The About box, and the main dialog's icon: painting it when minimised, the
// drag icon, and the two ways to open the About box.

#include "ui/about_dialog.h"

#include "ui/cipher_dialog.h"
#include "ui/resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

namespace {

void ShowAboutBox() {
  CAboutDlg about;
  about.DoModal();
}

// The icon control's area at the standard dialog font, in client pixels.
bool OverIcon(POINT point) { return point.x >= 305 && point.x <= 337 && point.y >= 25 && point.y <= 57; }

}  // namespace

void CCipherDlg::OnSysCommand(UINT id, LPARAM) {
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
