#pragma once

#include <windows.h>

// Shows the Open dialog for any file. Returns nonzero with the full path in
// path when the user chose one; 0 with path empty when cancelled or failed
// (a failure is shown as "Common Dialog Error: " and its code). Names travel
// as Windows spells them, whatever the code page.
int BrowseForFile(HWND owner, wchar_t* path, int capacity);
