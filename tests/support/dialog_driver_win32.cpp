#include "tests/support/dialog_driver.h"

#include "text/utf16.h"

StepDialog::StepDialog(std::function<void(StepDialog&)> step, UINT templateId)
    : CDialog(templateId), step_(std::move(step)) {}

BOOL StepDialog::OnInitDialog() {
  PostMessageA(m_hWnd, WM_APP, 0, 0);
  PostMessageA(m_hWnd, WM_APP + 1, 0, 0);
  return TRUE;
}

LRESULT StepDialog::OnStep(WPARAM, LPARAM) {
  step_(*this);
  return TRUE;
}

LRESULT StepDialog::OnEnd(WPARAM, LPARAM) {
  EndDialog(m_hWnd, IDOK);
  return TRUE;
}

BEGIN_MESSAGE_MAP(StepDialog, CDialog)
  ON_MESSAGE(WM_APP, OnStep)
  ON_MESSAGE(WM_APP + 1, OnEnd)
END_MESSAGE_MAP()

BoxAnswerer::BoxAnswerer(const std::string& caption, std::function<void(HWND box)> look)
    : thread_([this, caption, look] {
        for (int tries = 0; tries < 500; ++tries) {
          if (HWND box = FindWindowA("#32770", caption.c_str())) {
            wchar_t text[1024] = L"";
            GetDlgItemTextW(box, 0xFFFF, text, 1024);
            said_ = Utf8(text);
            if (look) look(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return;
          }
          Sleep(10);
        }
      }) {}

std::string BoxAnswerer::Said() {
  thread_.join();
  return said_;
}
