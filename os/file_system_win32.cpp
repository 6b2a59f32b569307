#include "os/file_system.h"

#include <windows.h>
#include <aclapi.h>

#include <memory>
#include <vector>

#include "cipher/utf16.h"
#include "os/win32.h"

namespace os {

const std::string& WorkingSuffix() {
  // The bytes "1", 0xEA, "9" in the ANSI code page, as the name on disk has
  // always been made: "1e9" with a circumflex under code page 1252, whatever
  // the same bytes spell under another code page on another machine.
  static const std::string suffix = [] {
    wchar_t wide[8] = {};
    const int length = MultiByteToWideChar(CP_ACP, 0, "1\xEA" "9", 3, wide, 8);
    return Utf8(std::wstring(wide, length > 0 ? length : 0));
  }();
  return suffix;
}

Win32Seam& TheWin32Seam() {
  static Win32Seam seam;
  return seam;
}

namespace {
bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
}  // namespace

std::wstring ExactPath(const std::string& path) {
  std::wstring wide = Utf16(path);
  if (wide.compare(0, 4, L"\\\\?\\") == 0 || wide.compare(0, 4, L"\\\\.\\") == 0) return wide;
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  std::wstring root;
  std::size_t kept = 0;  // the parts of the root that ".." never climbs above
  if (wide.size() >= 3 && IsDriveLetter(wide[0]) && wide[1] == L':' && wide[2] == L'\\') {
    root = L"\\\\?\\" + wide.substr(0, 2);
    wide.erase(0, 2);
  } else if (wide.compare(0, 2, L"\\\\") == 0) {
    root = L"\\\\?\\UNC";  // \\server\share
    wide.erase(0, 1);
    kept = 2;
  } else {
    // Relative to the current folder, or to a drive's: Windows makes it whole.
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetFullPathNameW(wide.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size) return wide;
    full.resize(length);
    const bool whole = (full.size() >= 3 && IsDriveLetter(full[0]) && full[1] == L':' && full[2] == L'\\') ||
                       full.compare(0, 2, L"\\\\") == 0;
    return whole ? ExactPath(Utf8(full)) : wide;
  }
  std::vector<std::wstring> parts;
  for (std::size_t start = 0; start <= wide.size();) {
    std::size_t end = wide.find(L'\\', start);
    if (end == std::wstring::npos) end = wide.size();
    const std::wstring part = wide.substr(start, end - start);
    if (part == L"..") {
      if (parts.size() > kept) parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::wstring exact = root;
  for (const std::wstring& part : parts) exact += L"\\" + part;
  return parts.empty() ? exact + L"\\" : exact;
}

namespace {

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t Store(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

Error ErrorOf(DWORD code) {
  wchar_t text[256] = L"";
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                256, nullptr);
  // The system's sentences end with a full stop and a line break.
  while (length > 0 && (text[length - 1] == L'.' || text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                        text[length - 1] == L' ')) {
    --length;
  }
  return {static_cast<int>(code), length > 0 ? Utf8(std::wstring(text, length)) : "error " + std::to_string(code)};
}

bool IsNotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }


HANDLE OpenHandle(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                  SECURITY_ATTRIBUTES* security = nullptr) {
  return CreateFileW(ExactPath(path).c_str(), access, share, security, disposition, flags, nullptr);
}

DWORD AttributesOf(const std::string& path) { return GetFileAttributesW(ExactPath(path).c_str()); }

bool Identify(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = OpenHandle(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS);
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
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(ExactPath(path).c_str(), &entry);
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
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return Refused(IsNotFound(error) ? Opened::kNotFound : Opened::kFailed, error);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Refused(Opened::kFolder);
  HANDLE file = OpenHandle(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
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
  HANDLE handle = OpenHandle(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(handle);
  return false;
}

// Whether this user may write the file: a read-only file system or a file
// whose permissions forbid writing refuses the open with access denied.
bool MayWrite(const std::string& path) {
  HANDLE handle = OpenHandle(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_ACCESS_DENIED;
  CloseHandle(handle);
  return true;
}

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
using SecurityDescriptor = std::unique_ptr<void, LocalFreer>;

// What guards a file: its owner, group and access list.
SecurityDescriptor SecurityOf(HANDLE file, PACL* dacl, DWORD* error) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  *error = GetSecurityInfo(file, SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, dacl, nullptr, &descriptor);
  return SecurityDescriptor(*error == ERROR_SUCCESS ? descriptor : nullptr);
}

// Whether every right the list grants someone, the model grants them too,
// and every right the model denies someone, the list denies them too. No
// list at all grants everything.
bool GrantsNoMoreThan(PACL list, PACL model) {
  if (model == nullptr) return true;
  if (list == nullptr) return false;
  const auto rights = [](PACL acl, BYTE type, PSID sid) {
    ACCESS_MASK mask = 0;
    for (WORD i = 0; i < acl->AceCount; ++i) {
      ACE_HEADER* header = nullptr;
      if (!GetAce(acl, i, reinterpret_cast<void**>(&header)) || header->AceType != type ||
          (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
        continue;
      }
      auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);  // the denied kind has the same shape
      if (EqualSid(reinterpret_cast<PSID>(&ace->SidStart), sid)) mask |= ace->Mask;
    }
    return mask;
  };
  for (PACL acl : {list, model}) {
    for (WORD i = 0; i < acl->AceCount; ++i) {
      ACE_HEADER* header = nullptr;
      if (!GetAce(acl, i, reinterpret_cast<void**>(&header)) || (header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
      PSID sid = reinterpret_cast<PSID>(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->SidStart);
      if (header->AceType == ACCESS_ALLOWED_ACE_TYPE &&
          (rights(list, ACCESS_ALLOWED_ACE_TYPE, sid) & ~rights(model, ACCESS_ALLOWED_ACE_TYPE, sid)) != 0) {
        return false;
      }
      if (header->AceType == ACCESS_DENIED_ACE_TYPE &&
          (rights(model, ACCESS_DENIED_ACE_TYPE, sid) & ~rights(list, ACCESS_DENIED_ACE_TYPE, sid)) != 0) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

Error LastError() { return ErrorOf(GetLastError()); }
std::string LastErrorText() { return LastError().text; }
bool HasNoEnd(const Error&) { return false; }

Probed Probe(const std::string& path) {
  std::intptr_t handle = -1;
  const Probed probed = OpenForReading(path, &handle);
  if (probed.ok()) CloseHandle(Handle(handle));
  return probed;
}

bool IsBeingWritten(const std::string& path) {
  HANDLE other = OpenHandle(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  const bool written = other == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  return written;
}

Folder::~Folder() {}

bool Folder::OpenFolderOf(const std::string&) { return true; }

bool Folder::Flush() const { return true; }  // MOVEFILE_WRITE_THROUGH flushes the move itself

std::int64_t Folder::AvailableBytes() const { return -1; }

Probed InputFile::Open(const std::string& path) {
  Close();
  return OpenForReading(path, &handle_);
}

Probed InputFile::OpenStream(const std::string& path) { return Open(path); }

Probed InputFile::OpenIn(const Folder&, const std::string& path) {
  if (IsLink(path)) return Refused(Opened::kFailed, ERROR_CANT_ACCESS_FILE);
  // A file held open elsewhere without leave to replace it could not be
  // replaced at the end: said now, not after the whole run.
  if (IsHeldOpen(path)) return Refused(Opened::kInUse);
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

NewFile::Created NewFile::Create(const std::string& path) { return CreateWith(path, nullptr); }

NewFile::Created NewFile::CreateWith(const std::string& path, const void* security) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, const_cast<void*>(security), FALSE};
  // Others may read it, but not write, rename or delete it while it is open.
  HANDLE handle = OpenHandle(path, GENERIC_WRITE | READ_CONTROL, FILE_SHARE_READ, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                             security != nullptr ? &attributes : nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return Created::kFailed;
    // Another run's file while it is being written: it shares no writing.
    const bool in_use = IsBeingWritten(path);
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
    DeleteFileW(ExactPath(path).c_str());
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
    written_ += written;
  }
  // Flushed as it goes, so the flush at the end is short: the window answers
  // between blocks, not during one long flush.
  const std::int64_t kFlushEvery = 32 << 20;
  if (written_ - started_writeback_ >= kFlushEvery) {
    if (!FlushFileBuffers(Handle(handle_))) return false;
    started_writeback_ = written_;
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
  const std::wstring path = ExactPath(path_);
  path_.clear();  // once, whatever comes of it
  if (!ours) return Removed::kGone;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(path.c_str())) return Removed::kRemoved;
  *error = LastError();
  return Removed::kFailed;
}

void NewFile::Close() {
  if (handle_ == -1) return;
  CloseHandle(Handle(handle_));
  handle_ = -1;
  if (TheWin32Seam().closed) TheWin32Seam().closed(path_);
}

NewFile::Created WorkingFile::Create(const std::string& path, const InputFile& data) {
  // The data file's own owner, group and access list from the start, never
  // the folder's defaults, which may let more people in; its owner only
  // where this user may give it.
  PACL dacl = nullptr;
  DWORD error = ERROR_SUCCESS;
  const SecurityDescriptor guard = SecurityOf(Handle(data.handle_), &dacl, &error);
  if (!guard) {
    SetLastError(error);
    return Created::kFailed;
  }
  Created created = CreateWith(path, guard.get());
  if (created == Created::kFailed && GetLastError() == ERROR_INVALID_OWNER) {
    SECURITY_DESCRIPTOR without_owner;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(guard.get(), &control, &revision);
    if (!InitializeSecurityDescriptor(&without_owner, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&without_owner, TRUE, dacl, FALSE) ||
        !SetSecurityDescriptorControl(&without_owner, SE_DACL_PROTECTED, control & SE_DACL_PROTECTED)) {
      return Created::kFailed;
    }
    created = CreateWith(path, &without_owner);
  }
  return created;
}

WorkingFile::Finished WorkingFile::Finish(const InputFile& data) {
  Finished finished;
  // Never wider than the data file, however the system took what it was
  // given; checked before the attributes change, which under Wine rewrites
  // the access list from the file's Unix mode.
  PACL model_list = nullptr;
  PACL own_list = nullptr;
  DWORD error = ERROR_SUCCESS;
  const SecurityDescriptor model_guard = SecurityOf(Handle(data.handle_), &model_list, &error);
  const SecurityDescriptor own_guard = model_guard ? SecurityOf(Handle(handle_), &own_list, &error) : nullptr;
  if (!own_guard || !GrantsNoMoreThan(own_list, model_list)) {
    finished.result = Finished::kGuardNotKept;
    finished.attribute = "access list";
    finished.error = ErrorOf(own_guard ? ERROR_ACCESS_DENIED : error);
    return finished;
  }
  // The attributes that hide or mark the file go with it; read-only would
  // keep the file from being replaced at all.
  const DWORD kKept =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  BY_HANDLE_FILE_INFORMATION model;
  BY_HANDLE_FILE_INFORMATION self;
  if (!GetFileInformationByHandle(Handle(data.handle_), &model) ||
      !SetFileAttributesW(ExactPath(path_).c_str(), (model.dwFileAttributes & kKept) | FILE_ATTRIBUTE_NORMAL) ||
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
  const DWORD attributes = AttributesOf(data_path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    replacement.how = IsNotFound(error) ? Replaced::kDataGone : Replaced::kCheckFailed;
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
  // Through to the disk before the call returns, as the flush of the folder
  // does on POSIX.
  const auto move = TheWin32Seam().move ? TheWin32Seam().move : MoveFileExW;
  if (!move(ExactPath(path_).c_str(), ExactPath(data_path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    const bool in_use = error == ERROR_SHARING_VIOLATION || (error == ERROR_ACCESS_DENIED && IsHeldOpen(data_path));
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

ClosedStreams KeepStandardStreamsOpen() { return {}; }

bool MakeReadOnly(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return SetFileAttributesW(ExactPath(path).c_str(), attributes | FILE_ATTRIBUTE_READONLY) != FALSE;
}

bool IsReadOnly(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Every spelling Windows accepts (case, short names, slashes, another drive
// letter for the same folder) leads to one volume and one file index.
Keyed KeyOf(const std::string& path, FileKey* key, Error* error) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!Identify(path, &info)) {
    const DWORD code = GetLastError();
    if (IsNotFound(code)) return Keyed::kNothing;
    *error = ErrorOf(code);
    return Keyed::kFailed;
  }
  const FileStamp stamp = StampOf(info);
  key->volume = stamp.volume;
  key->index = stamp.index;
  key->listed.clear();
  return Keyed::kKeyed;
}

}  // namespace os
