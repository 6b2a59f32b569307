#pragma once

#include <windows.h>

#include "text/field_number.h"

// Reads the edit field id of dialog as ParseUnsignedField reads a text.
UINT GetDlgItemUnsigned(HWND dialog, int id);
