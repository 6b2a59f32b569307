#pragma once

#include <windows.h>

#include <string>

#include "framework/message_map.h"

class CDialog;

// The help command, which F1 raises in any dialog.
constexpr UINT ID_HELP = 57670;
// Help topics of dialogs are this plus the dialog's template number.
constexpr DWORD kDialogHelpBase = 0x20000;

// The application object: exactly one, built by static initialisation. The
// program's entry calls InitInstance once; when that returns FALSE the
// process ends without a message loop.
class CWinApp : public CCmdTarget {
 public:
  explicit CWinApp(const char* appName = nullptr);
  ~CWinApp() override;

  virtual BOOL InitInstance();
  virtual int Run();
  virtual int ExitInstance();

  // Opens the help file named after the executable at the active dialog's topic.
  void OnHelp();

  // The caption of the application's own message boxes: its name, or the
  // executable's name without folder or extension.
  std::string GetAppTitle() const;

  HINSTANCE m_hInstance = nullptr;
  // What ExitInstance returns, and the process with it: not 0 once the
  // program could not do what it was started for.
  int m_exitCode = 0;
  CDialog* m_pMainWnd = nullptr;
  const char* m_pszAppName;

  DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();

// The executable's name without folder or extension.
std::string ModuleTitle();
