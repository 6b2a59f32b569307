// The offset field and its arrows keep the offset in 0 to 255.

#include "framework/dialog_number.h"
#include "ui/cipher_dialog.h"
#include "ui/resource.h"

void CCipherDlg::ClampOffset() { m_offset = ClampedOffset(m_offset); }

void CCipherDlg::OnChangeOffset() {
  m_offset = OffsetAsTyped(GetDlgItemUnsigned(m_hWnd, IDC_OFFSET));
}

void CCipherDlg::OnKillFocusOffset() {
  ClampOffset();
  SetDlgItemInt(m_hWnd, IDC_OFFSET, static_cast<UINT>(m_offset), FALSE);
}

void CCipherDlg::OnVScroll(UINT code, int, HWND) {
  ClampOffset();
  if (code == SB_LINEUP && m_offset < 255) {
    ++m_offset;
    SetDlgItemInt(m_hWnd, IDC_OFFSET, static_cast<UINT>(m_offset), FALSE);
  }
  if (code == SB_LINEDOWN && m_offset > 0) {
    --m_offset;
    SetDlgItemInt(m_hWnd, IDC_OFFSET, static_cast<UINT>(m_offset), FALSE);
  }
  ClampOffset();
  Default();
}
