#pragma once

#include "framework/dialog.h"

// The About box: the version, and a warning about what the program does to files.
class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
};
