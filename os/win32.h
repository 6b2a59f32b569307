#pragma once

// What the Win32 side of the file layer offers beyond the portable seam: the
// exact form of a path, the system's reasons, the rule of access lists, and
// the moments tests watch.

#include <windows.h>

#include <functional>
#include <string>

#include "os/file_system.h"

namespace os {

// The path as Windows takes it exactly as written: absolute, with
// backslashes, "." and ".." resolved, and the \\?\ prefix, which turns off
// the trimming of trailing full stops and spaces and the limit of 260
// characters. Without it "name." would open "name", another file.
std::wstring ExactPath(const std::string& path);

// The system's reason for error code, in language (0: the user's), without
// the full stop, Western or ideographic, that ends the system's sentence.
Error SystemError(DWORD code, LANGID language = 0);

// Whether every right the access list grants someone, the model grants them
// too, and every right the model denies someone, the list denies them too.
// No list at all grants everything.
bool GrantsNoMoreThan(const ACL* list, const ACL* model);

// Removes at once every file this program is creating and has neither
// finished nor been told to keep: for an end that leaves no time for a run
// to unwind (the session ending), as a stop would have removed them. Their
// objects stay, and find their files gone.
void RemoveUnfinishedFiles();

// Moments of the Win32 file layer that tests watch or stand in for, to see
// what no file on disk shows. Unset, each does the real work only.
struct Win32Seam {
  // Instead of MoveFileExW.
  BOOL(WINAPI* move)(LPCWSTR from, LPCWSTR to, DWORD flags) = nullptr;
  // Just after a new file's handle is closed.
  std::function<void(const std::string& path)> closed;
};
Win32Seam& TheWin32Seam();

}  // namespace os
