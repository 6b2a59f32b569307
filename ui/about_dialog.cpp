// The About box: the version, and a warning about what the program does to files.

#include "ui/about_dialog.h"

#include "ui/resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
