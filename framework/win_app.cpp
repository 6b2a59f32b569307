#include "framework/win_app.h"

#include <string>

#include "framework/dialog.h"

namespace {

CWinApp* the_app = nullptr;

std::string ModulePath() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length < MAX_PATH ? length : 0);
}

}  // namespace

std::string ModuleTitle() {
  std::string path = ModulePath();
  std::string::size_type start = path.find_last_of("\\/");
  path = start == std::string::npos ? path : path.substr(start + 1);
  return path.substr(0, path.rfind('.'));
}

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

int CWinApp::ExitInstance() { return 0; }

BOOL CWinApp::Enable3dControlsStatic() {
  if (LOBYTE(LOWORD(GetVersion())) >= 4) return TRUE;
  HMODULE library = LoadLibraryA("CTL3D32.DLL");
  if (library == nullptr) return FALSE;
  typedef BOOL(WINAPI * Ctl3dCall)(HINSTANCE);
  Ctl3dCall do_register =
      reinterpret_cast<Ctl3dCall>(reinterpret_cast<void*>(GetProcAddress(library, "Ctl3dRegister")));
  Ctl3dCall auto_subclass =
      reinterpret_cast<Ctl3dCall>(reinterpret_cast<void*>(GetProcAddress(library, "Ctl3dAutoSubclass")));
  if (do_register == nullptr || auto_subclass == nullptr || !do_register(m_hInstance)) return FALSE;
  return auto_subclass(m_hInstance);
}

void CWinApp::OnHelp() {
  HWND active = GetActiveWindow();
  CDialog* dialog = active != nullptr ? CDialog::FromHandle(active) : nullptr;
  const DWORD topic = kDialogHelpBase + (dialog != nullptr ? dialog->GetTemplateId() : 0);

  std::string help_file = ModulePath();
  std::string::size_type dot = help_file.rfind('.');
  std::string::size_type slash = help_file.find_last_of("\\/");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) help_file.resize(dot);
  help_file += ".HLP";

  // Without the file the help engine would only start to say so.
  bool launched = GetFileAttributesA(help_file.c_str()) != INVALID_FILE_ATTRIBUTES &&
                  WinHelpA(active, help_file.c_str(), HELP_CONTEXT, topic);
  if (!launched) MessageBoxA(active, "Failed to launch help.", GetAppTitle().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

std::string CWinApp::GetAppTitle() const { return m_pszAppName != nullptr ? m_pszAppName : ModuleTitle(); }
