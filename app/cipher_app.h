#pragma once

#include "framework/win_app.h"

// The application: runs the main dialog once, then ends.
class CCipherApp : public CWinApp {
 public:
  CCipherApp();
  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};
