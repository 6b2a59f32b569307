#include "app/cipher_app.h"

#include <string>

#include "os/file_system.h"
#include "ui/cipher_dialog.h"

BEGIN_MESSAGE_MAP(CCipherApp, CWinApp)
  ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CCipherApp::CCipherApp() = default;

CCipherApp theApp;

BOOL CCipherApp::InitInstance() {
  CCipherDlg dialog;
  m_pMainWnd = &dialog;
  if (dialog.DoModal() == -1) {
    // No window at all (no display, no memory): the user and the caller
    // hear why, where a box can still be shown.
    const std::string text = "Vaultine could not open its window: " + os::LastErrorText() + ".";
    MessageBoxA(nullptr, text.c_str(), "Vaultine", MB_OK | MB_ICONHAND);
    m_exitCode = 1;
  }
  m_pMainWnd = nullptr;
  // No message loop of our own: the process ends here.
  return FALSE;
}
