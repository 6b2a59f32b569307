#pragma once

// The file calls of the Win32 file layer, each through the hook of
// system_calls.h: a call the hook refuses fails with the hook's error code,
// as Windows would have failed it, and is not made.

#include <aclapi.h>
#include <windows.h>
#include <winternl.h>

#include "os/system_calls.h"

namespace os {
namespace win32 {

inline bool Refused(SystemCall call) {
  const int error = Intercept(call);
  if (error != 0) SetLastError(static_cast<DWORD>(error));
  return error != 0;
}

inline HANDLE Open(LPCWSTR path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                   DWORD flags) {
  return Refused(SystemCall::kOpen) ? INVALID_HANDLE_VALUE
                                    : CreateFileW(path, access, share, security, disposition, flags, nullptr);
}
// A refused close still closes, as a failed one does.
inline BOOL CloseFile(HANDLE handle) {
  const int error = Intercept(SystemCall::kClose);
  const BOOL closed = CloseHandle(handle);
  if (error == 0) return closed;
  SetLastError(static_cast<DWORD>(error));
  return FALSE;
}
inline BOOL FileInformation(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
  return !Refused(SystemCall::kLook) && GetFileInformationByHandle(handle, info);
}
// The path the system resolves an open file to, every link followed.
inline DWORD FinalPath(HANDLE handle, wchar_t* path, DWORD capacity) {
  return Refused(SystemCall::kLook)
             ? 0
             : GetFinalPathNameByHandleW(handle, path, capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
}
// The name the system knows an open file by, as NtQueryObject gives it in
// buffer (a UNICODE_STRING and its characters); Windows' own headers leave
// the call to the driver kit.
inline BOOL ObjectName(HANDLE handle, void* buffer, ULONG size) {
  if (Refused(SystemCall::kLook)) return FALSE;
  using Query = LONG(NTAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
  using ToError = ULONG(NTAPI*)(LONG);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
  const auto to_error =
      reinterpret_cast<ToError>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
  if (query == nullptr || to_error == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  const ULONG kObjectNameInformation = 1;
  const LONG status = query(handle, kObjectNameInformation, buffer, size, nullptr);
  if (status >= 0) return TRUE;
  SetLastError(to_error(status));
  return FALSE;
}
inline DWORD Attributes(LPCWSTR path) {
  return Refused(SystemCall::kLook) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path);
}
inline HANDLE FindFirst(LPCWSTR path, WIN32_FIND_DATAW* entry) {
  return Refused(SystemCall::kLook) ? INVALID_HANDLE_VALUE : FindFirstFileW(path, entry);
}
inline BOOL Read(HANDLE handle, void* buffer, DWORD size, DWORD* got, OVERLAPPED* at) {
  return !Refused(SystemCall::kRead) && ReadFile(handle, buffer, size, got, at);
}
inline BOOL Write(HANDLE handle, const void* buffer, DWORD size, DWORD* written) {
  return !Refused(SystemCall::kWrite) && WriteFile(handle, buffer, size, written, nullptr);
}
inline BOOL Flush(HANDLE handle) { return !Refused(SystemCall::kFlush) && FlushFileBuffers(handle); }
inline BOOL RemoveFile(LPCWSTR path) { return !Refused(SystemCall::kRemove) && DeleteFileW(path); }
inline BOOL SetAttributes(LPCWSTR path, DWORD attributes) {
  return !Refused(SystemCall::kPermission) && SetFileAttributesW(path, attributes);
}
inline DWORD SecurityInfo(HANDLE handle, SECURITY_INFORMATION what, PSID* owner, PACL* dacl,
                          PSECURITY_DESCRIPTOR* descriptor) {
  const int error = Intercept(SystemCall::kAttribute);
  if (error != 0) return static_cast<DWORD>(error);
  return GetSecurityInfo(handle, SE_FILE_OBJECT, what, owner, nullptr, dacl, nullptr, descriptor);
}

// Gives an open file what the descriptor holds, as it is: unlike
// SetSecurityInfo, which under Wine adds the folder's inheritable entries to
// the list, whatever it is told.
inline BOOL SetSecurity(HANDLE handle, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor) {
  return !Refused(SystemCall::kAttribute) && SetKernelObjectSecurity(handle, what, descriptor);
}

}  // namespace win32
}  // namespace os
