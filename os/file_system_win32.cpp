#include "os/file_system.h"

#include <windows.h>

namespace os {

// 0xEA is "e with circumflex" in the Western code page 1252, where the
// suffix was first written; Windows maps it through whatever code page is in
// use, so on each system the name on disk is the one earlier versions made.
const char kWorkingSuffix[] = "1\xEA" "9";

namespace {

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t Store(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

Error ErrorOf(DWORD code) {
  char text[256] = "";
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                sizeof text, nullptr);
  // The system's sentences end with a full stop and a line break.
  while (length > 0 && (text[length - 1] == '.' || text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == ' ')) {
    --length;
  }
  return {static_cast<int>(code), length > 0 ? std::string(text, length) : "error " + std::to_string(code)};
}

bool IsNotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool Identify(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool known = GetFileInformationByHandle(handle, info) != FALSE;
  CloseHandle(handle);
  return known;
}

FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileStamp stamp;
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  stamp.modified = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime);
  return stamp;
}

// The stamp of whatever the path names now; an empty stamp when nothing.
FileStamp StampAt(const std::string& path) {
  BY_HANDLE_FILE_INFORMATION info;
  return Identify(path, &info) ? StampOf(info) : FileStamp();
}

// A symbolic link or junction as the path's last part: a replacement would
// put the result in place of the link and leave the file it names as it was.
bool IsLink(const std::string& path) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(path.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK || entry.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
}

Probed Refused(Opened how, DWORD code = 0) {
  Probed probed;
  probed.how = how;
  if (code != 0) probed.error = ErrorOf(code);
  return probed;
}

// Opens the file for reading while nobody writes it: others may read it too,
// but no other program may write it, nor rename or remove it, until it is
// closed. One that has it open for writing already is refused.
Probed OpenForReading(const std::string& path, std::intptr_t* handle) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return Refused(IsNotFound(error) ? Opened::kNotFound : Opened::kFailed, error);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Refused(Opened::kFolder);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return Refused(Opened::kInUse);
    return Refused(IsNotFound(error) ? Opened::kNotFound : Opened::kFailed, error);
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return Refused(Opened::kNotRegular);
  }
  *handle = Store(file);
  Probed probed;
  probed.how = Opened::kOpen;
  return probed;
}

// Whether another program holds the file open without letting it be
// removed or replaced.
bool IsHeldOpen(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(handle);
  return false;
}

// Whether this user may write the file: a read-only file system or a file
// whose permissions forbid writing refuses the open with access denied.
bool MayWrite(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_ACCESS_DENIED;
  CloseHandle(handle);
  return true;
}

}  // namespace

Error LastError() { return ErrorOf(GetLastError()); }
std::string LastErrorText() { return LastError().text; }

Probed Probe(const std::string& path) {
  std::intptr_t handle = -1;
  const Probed probed = OpenForReading(path, &handle);
  if (probed.ok()) CloseHandle(Handle(handle));
  return probed;
}

Folder::~Folder() {}

bool Folder::OpenFolderOf(const std::string&) { return true; }

bool Folder::Flush() const { return true; }  // MOVEFILE_WRITE_THROUGH flushes the move itself

std::int64_t Folder::AvailableBytes() const { return -1; }

Probed InputFile::Open(const std::string& path) {
  Close();
  return OpenForReading(path, &handle_);
}

Probed InputFile::OpenIn(const Folder&, const std::string& path) {
  if (IsLink(path)) return Refused(Opened::kFailed, ERROR_CANT_ACCESS_FILE);
  return Open(path);
}

void InputFile::UseStandardInput() {
  Close();
  handle_ = Store(GetStdHandle(STD_INPUT_HANDLE));
  owned_ = false;
}

void InputFile::Close() {
  if (handle_ != -1 && owned_) CloseHandle(Handle(handle_));
  handle_ = -1;
  owned_ = true;
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

FileStamp InputFile::Stamp() const {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(Handle(handle_), &info) ? StampOf(info) : FileStamp();
}

NewFile::NewFile(const Folder& folder) : folder_(folder) {}

NewFile::~NewFile() {
  Close();
  if (keep_ || path_.empty()) return;
  Error ignored;
  Remove(&ignored);
}

NewFile::Created NewFile::Create(const std::string& path) {
  // Others may read it, but not write, rename or delete it while it is open.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return Created::kFailed;
    // Another run's file while it is being written: it shares no writing.
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool in_use = other == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    SetLastError(error);
    return in_use ? Created::kInUse : Created::kAlreadyExists;
  }
  handle_ = Store(handle);
  path_ = path;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    // Not known as ours yet, but made by us a moment ago, and nobody else
    // could open it since: it must not stay in the way of later runs.
    const DWORD error = GetLastError();
    Close();
    DeleteFileA(path.c_str());
    path_.clear();
    SetLastError(error);
    return Created::kFailed;
  }
  identity_ = StampOf(info);
  return Created::kNew;
}

bool NewFile::Write(const void* buffer, std::size_t size) {
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

// A new file gets its folder's permissions; keys are made on POSIX.
NewFile::Privacy NewFile::MakePrivate() { return Privacy::kPrivate; }

bool NewFile::FlushAndClose() {
  const bool flushed = FlushFileBuffers(Handle(handle_)) != FALSE;
  const DWORD error = GetLastError();
  Close();
  SetLastError(error);
  return flushed;
}

bool NewFile::IsStillAtItsPath() const { return StampAt(path_).IsSameFileAs(identity_); }

NewFile::Removed NewFile::Remove(Error* error) {
  Close();
  if (path_.empty()) return Removed::kGone;
  // Only this run's own file: another run may have put its own at this path.
  const bool ours = IsStillAtItsPath();
  const std::string path = path_;
  path_.clear();  // once, whatever comes of it
  if (!ours) return Removed::kGone;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileA(path.c_str())) return Removed::kRemoved;
  *error = LastError();
  return Removed::kFailed;
}

void NewFile::Close() {
  if (handle_ == -1) return;
  CloseHandle(Handle(handle_));
  handle_ = -1;
}

NewFile::Created WorkingFile::Create(const std::string& path, const InputFile&) { return NewFile::Create(path); }

WorkingFile::Finished WorkingFile::Finish(const InputFile& data) {
  Finished finished;
  // The attributes that hide or mark the file go with it; read-only would
  // keep the file from being replaced at all.
  const DWORD kKept =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  BY_HANDLE_FILE_INFORMATION model;
  BY_HANDLE_FILE_INFORMATION self;
  if (!GetFileInformationByHandle(Handle(data.handle_), &model) ||
      !SetFileAttributesA(path_.c_str(), (model.dwFileAttributes & kKept) | FILE_ATTRIBUTE_NORMAL) ||
      !FlushFileBuffers(Handle(handle_)) || !GetFileInformationByHandle(Handle(handle_), &self)) {
    finished.error = LastError();
    return finished;
  }
  // Stays open, so that nobody else may write it, until it replaces the data
  // file.
  finished_ = StampOf(self);
  finished.result = Finished::kDone;
  finished.length = finished_.size;
  return finished;
}

WorkingFile::Replacement WorkingFile::Replace(const std::string& data_path, const FileStamp& data_as_read) {
  Replacement replacement;
  const DWORD attributes = GetFileAttributesA(data_path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    replacement.how = IsNotFound(error) ? Replaced::kDataChanged : Replaced::kCheckFailed;
    replacement.error = ErrorOf(error);
    return replacement;
  }
  if (StampAt(data_path) != data_as_read) {
    replacement.how = Replaced::kDataChanged;
    return replacement;
  }
  replacement.how = Replaced::kDataReadOnly;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    replacement.because = ReadOnlyBecause::kMarked;
    return replacement;
  }
  if (!MayWrite(data_path)) {
    replacement.because = ReadOnlyBecause::kNoPermission;
    return replacement;
  }
  // Windows moves no file that is open; from here to the move others could
  // write it. Its write time may still change as the handle closes.
  Close();
  const FileStamp working = StampAt(path_);
  if (!working.IsSameFileAs(finished_) || working.size != finished_.size) {
    replacement.how = Replaced::kWorkingChanged;
    return replacement;
  }
  if (!MoveFileExA(path_.c_str(), data_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    const bool in_use = error == ERROR_SHARING_VIOLATION ||
                        (error == ERROR_ACCESS_DENIED && IsHeldOpen(data_path));
    replacement.how = in_use ? Replaced::kDataInUse : Replaced::kFailed;
    replacement.error = ErrorOf(error);
    return replacement;
  }
  keep_ = true;  // it is the data file now
  replacement.how = Replaced::kDone;
  return replacement;
}

FileStatus StatusOf(const std::string& path) {
  FileStatus status;
  BY_HANDLE_FILE_INFORMATION info;
  if (!Identify(path, &info)) return status;
  status.exists = true;
  status.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  status.links = info.nNumberOfLinks;
  status.stamp = StampOf(info);
  return status;
}

std::string ResolveLink(const std::string& path) { return path; }

std::string AbsolutePath(const std::string& path) { return path; }

bool WriteStandardOutput(const void* buffer, std::size_t size) {
  const char* bytes = static_cast<const char*>(buffer);
  while (size > 0) {
    DWORD written = 0;
    const DWORD want = static_cast<DWORD>(size > (1u << 30) ? (1u << 30) : size);
    if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, want, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

bool StandardOutputIsTerminal() { return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR; }

void KeepStandardStreamsOpen() {}

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
