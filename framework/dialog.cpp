#include "framework/dialog.h"

#include <exception>
#include <string>

#include "text/utf16.h"
#include "framework/win_app.h"

BEGIN_MESSAGE_MAP(CDialog, CCmdTarget)
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
  ON_MESSAGE(WM_HELP, OnHelpInfo)
END_MESSAGE_MAP()

namespace {

// Marks the windows that are dialogs of this framework, and holds their object.
constexpr char kObjectProperty[] = "CDialog object";

// Keeps from..from+size inside low..high, the start first where it cannot.
int Within(int from, int size, int low, int high) {
  if (from + size > high) from = high - size;
  return from < low ? low : from;
}

// Puts a modal dialog in the middle of its owner, where the user is looking,
// and wholly on the screen.
void CenterOverOwner(HWND window) {
  HWND owner = GetWindow(window, GW_OWNER);
  RECT outer;
  RECT inner;
  RECT screen;
  if (owner == nullptr || !GetWindowRect(owner, &outer) || !GetWindowRect(window, &inner) ||
      !SystemParametersInfoA(SPI_GETWORKAREA, 0, &screen, 0)) {
    return;
  }
  const int width = inner.right - inner.left;
  const int height = inner.bottom - inner.top;
  const int x = Within((outer.left + outer.right - width) / 2, width, screen.left, screen.right);
  const int y = Within((outer.top + outer.bottom - height) / 2, height, screen.top, screen.bottom);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Nothing that escapes a handler may unwind through the system's code; the
// user is told, and the dialog goes on.
void ReportFailure(HWND window, const char* what) {
  const std::string text = std::string("This could not be done: ") + what + ".";
  const std::string caption = AfxGetApp() != nullptr ? AfxGetApp()->GetAppTitle() : ModuleTitle();
  MessageBoxW(window, Utf16(text).c_str(), Utf16(caption).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

INT_PTR CDialog::DoModal() {
  HINSTANCE instance = AfxGetApp() != nullptr ? AfxGetApp()->m_hInstance : GetModuleHandleA(nullptr);
  // The owner stays disabled while the dialog runs, as for any modal window.
  // A dialog of wide characters, so that its fields and title show every
  // name as Windows spells it.
  INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(m_templateId), ModalOwner(), DialogProc,
                                   reinterpret_cast<LPARAM>(this));
  m_hWnd = nullptr;
  return result;
}

HWND CDialog::ModalOwner() const {
  HWND owner = m_parent != nullptr ? m_parent : GetActiveWindow();
  if (owner == nullptr && AfxGetApp() != nullptr && AfxGetApp()->m_pMainWnd != nullptr) {
    owner = AfxGetApp()->m_pMainWnd->GetSafeHwnd();
  }
  return owner != nullptr ? GetAncestor(owner, GA_ROOT) : nullptr;
}

CDialog* CDialog::FromHandle(HWND window) { return static_cast<CDialog*>(GetPropA(window, kObjectProperty)); }

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
  try {
    if (message == WM_INITDIALOG) {
      CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
      SetPropA(window, kObjectProperty, dialog);
      dialog->m_hWnd = window;
      CenterOverOwner(window);
      return dialog->OnInitDialog();
    }
    if (message == WM_NCDESTROY) RemovePropA(window, kObjectProperty);
    CDialog* dialog = FromHandle(window);
    if (dialog == nullptr) return FALSE;
    INT_PTR result = FALSE;
    if (dialog->OnMessage(message, wParam, lParam, &result)) return result;
    // Commands no dialog takes go to the application, as the help command does.
    if (message == WM_COMMAND && AfxGetApp() != nullptr &&
        AfxGetApp()->OnMessage(message, wParam, lParam, &result)) {
      return result;
    }
  } catch (const std::exception& error) {
    ReportFailure(window, error.what());
  } catch (...) {
    ReportFailure(window, "an unknown error");
  }
  return FALSE;
}

CPaintDC::CPaintDC(HWND window) : m_window(window) { m_hDC = BeginPaint(window, &m_ps); }
CPaintDC::~CPaintDC() { EndPaint(m_window, &m_ps); }
