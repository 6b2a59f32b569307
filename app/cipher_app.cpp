#include "app/cipher_app.h"

#include "ui/cipher_dialog.h"

BEGIN_MESSAGE_MAP(CCipherApp, CWinApp)
  ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CCipherApp::CCipherApp() = default;

CCipherApp theApp;

BOOL CCipherApp::InitInstance() {
  Enable3dControlsStatic();
  CCipherDlg dialog;
  m_pMainWnd = &dialog;
  dialog.DoModal();
  m_pMainWnd = nullptr;
  // No message loop of our own: the process ends here.
  return FALSE;
}
