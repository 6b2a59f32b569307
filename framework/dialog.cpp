#include "framework/dialog.h"

#include "framework/win_app.h"

BEGIN_MESSAGE_MAP(CDialog, CCmdTarget)
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
  ON_MESSAGE(WM_HELP, OnHelpInfo)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

INT_PTR CDialog::DoModal() {
  HINSTANCE instance = AfxGetApp() != nullptr ? AfxGetApp()->m_hInstance : GetModuleHandleA(nullptr);
  INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(m_templateId), m_parent, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
  m_hWnd = nullptr;
  return result;
}

CDialog* CDialog::FromHandle(HWND window) {
  return reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
}

BOOL CDialog::OnInitDialog() { return TRUE; }
void CDialog::OnOK() { EndDialog(m_hWnd, IDOK); }
void CDialog::OnCancel() { EndDialog(m_hWnd, IDCANCEL); }

// F1 arrives as WM_HELP; it becomes the help command, which the application
// handles for every dialog.
LRESULT CDialog::OnHelpInfo(WPARAM, LPARAM) {
  SendMessageA(m_hWnd, WM_COMMAND, ID_HELP, 0);
  return TRUE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // No C++ exception may unwind through the system's code.
  try {
    if (message == WM_INITDIALOG) {
      CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
      SetWindowLongPtrA(window, DWLP_USER, lParam);
      dialog->m_hWnd = window;
      return dialog->OnInitDialog();
    }
    CDialog* dialog = FromHandle(window);
    if (dialog == nullptr) return FALSE;
    INT_PTR result = FALSE;
    if (dialog->OnMessage(message, wParam, lParam, &result)) return result;
    // Commands no dialog takes go to the application, as the help command does.
    if (message == WM_COMMAND && AfxGetApp() != nullptr &&
        AfxGetApp()->OnMessage(message, wParam, lParam, &result)) {
      return result;
    }
  } catch (...) {
  }
  return FALSE;
}

CPaintDC::CPaintDC(HWND window) : m_window(window) { m_hDC = BeginPaint(window, &m_ps); }
CPaintDC::~CPaintDC() { EndPaint(m_window, &m_ps); }
