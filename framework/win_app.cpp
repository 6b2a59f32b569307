#include "framework/win_app.h"

#include <string>

#include "cipher/path_split.h"
#include "framework/dialog.h"

namespace {

CWinApp* the_app = nullptr;

std::string ModulePath() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length < MAX_PATH ? length : 0);
}

}  // namespace

std::string ModuleTitle() { return SplitPath(ModulePath()).name; }

CWinApp* AfxGetApp() { return the_app; }

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(const char* appName) : m_pszAppName(appName) { the_app = this; }

CWinApp::~CWinApp() {
  if (the_app == this) the_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return ExitInstance();
}

int CWinApp::ExitInstance() { return m_exitCode; }

void CWinApp::OnHelp() {
  HWND active = GetActiveWindow();
  CDialog* dialog = active != nullptr ? CDialog::FromHandle(active) : nullptr;
  const DWORD topic = kDialogHelpBase + (dialog != nullptr ? dialog->GetTemplateId() : 0);

  const std::string module = ModulePath();
  const std::string help_file = FolderPart(module) + SplitPath(module).name + ".HLP";

  // Without the file the help engine would only start to say so.
  bool launched = GetFileAttributesA(help_file.c_str()) != INVALID_FILE_ATTRIBUTES &&
                  WinHelpA(active, help_file.c_str(), HELP_CONTEXT, topic);
  if (!launched) MessageBoxA(active, "Failed to launch help.", GetAppTitle().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

std::string CWinApp::GetAppTitle() const { return m_pszAppName != nullptr ? m_pszAppName : ModuleTitle(); }
