#pragma once

// The program's version, written once: the resource scripts, the code and
// ReadMe.txt (the top CMakeLists.txt reads it from here) take it from this file.
#define VAULTINE_FILE_VERSION 1, 0, 0, 1
#define VAULTINE_FILE_VERSION_TEXT "1, 0, 0, 1"
#define VAULTINE_DISPLAY_VERSION "1.02"
// The executable is built under this name too.
#define VAULTINE_ORIGINAL_FILENAME "Qelt.EXE"
