#include "os/file_system.h"

#include <windows.h>

namespace os {

const char kWorkingSuffix[] = "1\xEA" "9";

bool IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

namespace {

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t Store(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

bool IsDirectory(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A stdio "rb" stream lets others read and write while it is open.
HANDLE OpenShared(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

bool Identify(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool known = GetFileInformationByHandle(handle, info) != FALSE;
  CloseHandle(handle);
  return known;
}

}  // namespace

FileProbe::FileProbe(const std::string& path, ProbeShare share) {
  DWORD share_mode = share == ProbeShare::kRead ? FILE_SHARE_READ : 0;
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, share_mode, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) handle_ = Store(handle);
}

FileProbe::~FileProbe() {
  if (IsOpen()) CloseHandle(Handle(handle_));
}

bool InputFile::Open(const std::string& path) {
  Close();
  HANDLE handle = OpenShared(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  handle_ = Store(handle);
  if (IsDirectory(handle)) {
    Close();
    return false;
  }
  return true;
}

void InputFile::Close() {
  if (handle_ == -1) return;
  CloseHandle(Handle(handle_));
  handle_ = -1;
}

std::int64_t InputFile::Read(void* buffer, std::size_t size) {
  const DWORD kMaxChunk = 1u << 30;
  DWORD want = size > kMaxChunk ? kMaxChunk : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(Handle(handle_), buffer, want, &got, nullptr)) return -1;
  return got;
}

std::int64_t InputFile::Tell() {
  LARGE_INTEGER zero{};
  LARGE_INTEGER position;
  if (!SetFilePointerEx(Handle(handle_), zero, &position, FILE_CURRENT)) return -1;
  return position.QuadPart;
}

std::int64_t InputFile::SeekToEnd() {
  LARGE_INTEGER zero{};
  LARGE_INTEGER position;
  if (!SetFilePointerEx(Handle(handle_), zero, &position, FILE_END)) return -1;
  return position.QuadPart;
}

bool InputFile::Seek(std::int64_t position) {
  LARGE_INTEGER target;
  target.QuadPart = position;
  return SetFilePointerEx(Handle(handle_), target, nullptr, FILE_BEGIN) != FALSE;
}

OutputFile::Created OutputFile::Create(const std::string& path, const std::string& model_path) {
  Close();
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Created::kAlreadyExists
                                                                       : Created::kFailed;
  }
  handle_ = Store(handle);
  path_ = path;
  model_path_ = model_path;
  return Created::kNew;
}

bool OutputFile::Write(const void* buffer, std::size_t size) {
  const char* bytes = static_cast<const char*>(buffer);
  const std::size_t kMaxChunk = 1u << 30;
  while (size > 0) {
    DWORD want = static_cast<DWORD>(size > kMaxChunk ? kMaxChunk : size);
    DWORD written = 0;
    if (!WriteFile(Handle(handle_), bytes, want, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

std::int64_t OutputFile::Finish() {
  if (!FlushFileBuffers(Handle(handle_))) return -1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(Handle(handle_), &size)) return -1;
  return size.QuadPart;
}

bool OutputFile::Close() {
  if (handle_ == -1) return true;
  BOOL closed = CloseHandle(Handle(handle_));
  handle_ = -1;
  return closed != FALSE;
}

void OutputFile::Discard() {
  Close();
  DeleteFileA(path_.c_str());
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != FALSE; }

bool RenameFile(const std::string& from, const std::string& to) {
  return MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

bool MakeReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY) != FALSE;
}

bool IsReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia;
  BY_HANDLE_FILE_INFORMATION ib;
  return Identify(a, &ia) && Identify(b, &ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace os
