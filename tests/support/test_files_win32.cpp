#include <windows.h>

#include <stdexcept>

#include "text/utf16.h"
#include "os/win32.h"
#include "tests/support/test_files.h"

const char kSeparator[] = "\\";

std::FILE* OpenStream(const std::string& path, const char* mode) {
  return _wfopen(os::ExactPath(path).c_str(), Utf16(mode).c_str());
}

namespace {

void RemoveTree(const std::wstring& dir) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = dir + L"\\" + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(dir.c_str());
}

}  // namespace

ScratchDir::ScratchDir() {
  wchar_t base[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, base);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary folder");
  for (unsigned attempt = 0;; ++attempt) {
    path_ = Utf8(base) + "vaultine-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount() + attempt);
    if (MakeDirectory(path_)) return;
    if (attempt > 100) throw std::runtime_error("cannot create a scratch directory");
  }
}

ScratchDir::~ScratchDir() { RemoveTree(os::ExactPath(path_)); }

std::string ScratchDir::File(const std::string& name) const { return path_ + kSeparator + name; }

std::int64_t FreeBytes(const std::string& path) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(os::ExactPath(path).c_str(), &available, nullptr, nullptr)) return 0;
  return static_cast<std::int64_t>(available.QuadPart);
}

bool MakeDirectory(const std::string& path) { return CreateDirectoryW(os::ExactPath(path).c_str(), nullptr) != FALSE; }

void MakeWritable(const std::string& path) { SetFileAttributesW(os::ExactPath(path).c_str(), FILE_ATTRIBUTE_NORMAL); }

void MakeSparseFile(const std::string& path, std::int64_t length) {
  HANDLE file = CreateFileW(os::ExactPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER end;
  end.QuadPart = length;
  bool sized = file != INVALID_HANDLE_VALUE && SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!sized) throw std::runtime_error("cannot size " + path);
}

HeldOpen::HeldOpen(const std::string& path, Mode mode) {
  HANDLE file = CreateFileW(os::ExactPath(path).c_str(), mode == kReading ? GENERIC_READ : GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<std::intptr_t>(file);
}

HeldOpen::~HeldOpen() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

void RemoveFile(const std::string& path) {
  SetFileAttributesW(os::ExactPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(os::ExactPath(path).c_str());
}
