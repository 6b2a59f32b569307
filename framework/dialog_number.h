#pragma once

#include <windows.h>

#include <string>

// Reads an edit field as an unsigned number the way Windows' GetDlgItemInt
// does: leading blanks skipped, decimal digits up to the first other
// character; a sign, no digit or a number beyond 32 bits gives 0. Wine reads
// "-5" differently, so the program reads its fields with this instead.
UINT ParseUnsignedField(const std::string& text);
UINT GetDlgItemUnsigned(HWND dialog, int id);
