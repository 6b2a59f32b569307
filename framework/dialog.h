#pragma once

#include <windows.h>

#include "framework/message_map.h"

// A modal dialog built from a dialog template. The object reaches its window
// through DialogBoxParam's lParam at WM_INITDIALOG.
class CDialog : public CCmdTarget {
 public:
  explicit CDialog(UINT templateId, HWND parent = nullptr);

  // Runs the dialog until it ends, over its owner, which takes no input
  // meanwhile; returns how it ended (IDOK, IDCANCEL, ...), or -1 when it could
  // not be created.
  virtual INT_PTR DoModal();

  HWND GetSafeHwnd() const { return m_hWnd; }
  UINT GetTemplateId() const { return m_templateId; }

  // The dialog object behind a window, or null when the window is no dialog
  // of this framework (a message box, the Open dialog).
  static CDialog* FromHandle(HWND window);

 protected:
  // After the controls exist; TRUE gives the focus to the first tab stop.
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  LRESULT OnHelpInfo(WPARAM, LPARAM);

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  // The given parent; without one, the window active in this thread, else
  // the application's main window: the window the user was working in waits
  // behind the dialog.
  HWND ModalOwner() const;

  UINT m_templateId;
  HWND m_parent;

  DECLARE_MESSAGE_MAP()
};

// BeginPaint and EndPaint around one WM_PAINT.
class CPaintDC {
 public:
  explicit CPaintDC(HWND window);
  ~CPaintDC();
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

  HDC m_hDC;
  PAINTSTRUCT m_ps;

 private:
  HWND m_window;
};
