#pragma once

// Real dialogs driven from inside their own modal run, and message boxes
// answered as a user would, for the Windows tests.

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "framework/dialog.h"

// A dialog that runs a step once it is up, then ends with IDOK by a message
// of its own, even when the step failed.
class StepDialog : public CDialog {
 public:
  StepDialog(std::function<void(StepDialog&)> step, UINT templateId);
  HWND window() const { return m_hWnd; }

 protected:
  BOOL OnInitDialog() override;
  LRESULT OnStep(WPARAM, LPARAM);
  LRESULT OnEnd(WPARAM, LPARAM);

 private:
  std::function<void(StepDialog&)> step_;

  DECLARE_MESSAGE_MAP()
};

// Answers the next message box with this caption from another thread, as a
// user would, and keeps what it said; look, if given, sees the box first.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(const std::string& caption, std::function<void(HWND box)> look = nullptr);
  // Waits for the answer; what the box said, or "" when none came.
  std::string Said();

 private:
  std::string said_;
  std::thread thread_;
};
