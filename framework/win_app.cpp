#include "framework/win_app.h"

#include <string>

#include "text/path_split.h"
#include "text/utf16.h"
#include "framework/dialog.h"

namespace {

CWinApp* the_app = nullptr;

std::string ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length < path.size()) return Utf8(path.substr(0, length));
    path.resize(path.size() * 2);
  }
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
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
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
  const std::wstring wide_help_file = Utf16(help_file);
  bool launched = GetFileAttributesW(wide_help_file.c_str()) != INVALID_FILE_ATTRIBUTES &&
                  WinHelpW(active, wide_help_file.c_str(), HELP_CONTEXT, topic);
  if (!launched) {
    MessageBoxW(active, L"Failed to launch help.", Utf16(GetAppTitle()).c_str(), MB_OK | MB_ICONEXCLAMATION);
  }
}

std::string CWinApp::GetAppTitle() const { return m_pszAppName != nullptr ? m_pszAppName : ModuleTitle(); }
