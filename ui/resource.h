// Resource and control ids, shared by the resource scripts and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDD_CIPHER_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_DATA_DISPLAY 1000
#define IDC_KEY_DISPLAY 1001
#define IDC_OFFSET 1002
#define IDC_OFFSET_ARROWS 1003
#define IDC_BROWSE_DATA 1004
#define IDC_BROWSE_KEY 1005
#define IDC_KEY_READ_ONLY 1006
#define IDC_ENCRYPT 1007
#define IDC_DECRYPT 1010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
