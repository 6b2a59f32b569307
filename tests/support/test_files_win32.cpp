#include <windows.h>

#include <stdexcept>

#include "tests/support/test_files.h"

const char kSeparator[] = "\\";

namespace {

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = dir + "\\" + name;
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryA(dir.c_str());
}

}  // namespace

ScratchDir::ScratchDir() {
  char base[MAX_PATH];
  DWORD length = GetTempPathA(MAX_PATH, base);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary folder");
  for (unsigned attempt = 0;; ++attempt) {
    path_ = std::string(base) + "vaultine-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount() + attempt);
    if (CreateDirectoryA(path_.c_str(), nullptr)) return;
    if (attempt > 100) throw std::runtime_error("cannot create a scratch directory");
  }
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

std::string ScratchDir::File(const std::string& name) const { return path_ + kSeparator + name; }

bool MakeDirectory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != FALSE; }

void MakeWritable(const std::string& path) { SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL); }

void MakeSparseFile(const std::string& path, std::int64_t length) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER end;
  end.QuadPart = length;
  bool sized = file != INVALID_HANDLE_VALUE && SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!sized) throw std::runtime_error("cannot size " + path);
}

HeldOpen::HeldOpen(const std::string& path, Mode mode) {
  HANDLE file = CreateFileA(path.c_str(), mode == kReading ? GENERIC_READ : GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<std::intptr_t>(file);
}

HeldOpen::~HeldOpen() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}
