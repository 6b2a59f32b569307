#include "os/file_system.h"

#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "os/calls_win32.h"
#include "os/handles.h"
#include "os/win32.h"
#include "text/path_split.h"
#include "text/utf16.h"

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

Error SystemError(DWORD code, LANGID language) {
  wchar_t text[256] = L"";
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, language,
                                text, 256, nullptr);
  // The system's sentences end with a full stop and a line break; Japanese
  // and Chinese ones with an ideographic full stop, which would stand before
  // the bracket that closes the reason as the Western one would.
  const std::wstring kEnds = L".\r\n \x3002\xFF0E\xFF61";
  while (length > 0 && kEnds.find(text[length - 1]) != std::wstring::npos) --length;
  return {static_cast<int>(code), length > 0 ? Utf8(std::wstring(text, length)) : "error " + std::to_string(code)};
}

namespace {

using namespace win32;

// The most one ReadFile or WriteFile moves: its count is 32 bits.
constexpr DWORD kLargestTransfer = 1u << 30;

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t Store(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

Error ErrorOf(DWORD code) { return SystemError(code); }

// Wine says so through ntdll. It runs Windows programs on Unix disks, which
// keep permission bits instead of access lists.
bool UnderWine() {
  static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

bool IsNotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

HANDLE OpenHandle(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                  SECURITY_ATTRIBUTES* security = nullptr) {
  return win32::Open(ExactPath(path).c_str(), access, share, security, disposition, flags);
}

DWORD AttributesOf(const std::string& path) { return Attributes(ExactPath(path).c_str()); }

bool Identify(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = OpenHandle(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = FileInformation(handle, info) != FALSE;
  const DWORD error = GetLastError();
  CloseFile(handle);
  SetLastError(error);
  return known;
}

FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileStamp stamp;
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  stamp.modified = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime);
  stamp.created = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(info.ftCreationTime.dwHighDateTime) << 32) | info.ftCreationTime.dwLowDateTime);
  return stamp;
}

FileFacts FactsOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileFacts facts;
  facts.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0       ? FileFacts::Kind::kFolder
               : (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? FileFacts::Kind::kLink
                                                                             : FileFacts::Kind::kRegular;
  facts.stamp = StampOf(info);
  facts.links = info.nNumberOfLinks;
  facts.marked_read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  facts.mode = info.dwFileAttributes;
  return facts;
}

// The stamp of whatever the path names now; an empty stamp when nothing.
FileStamp StampAt(const std::string& path) {
  BY_HANDLE_FILE_INFORMATION info;
  return Identify(path, &info) ? StampOf(info) : FileStamp();
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
Probed OpenForReading(const std::string& path, HANDLE* opened) {
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
    CloseFile(file);
    return Refused(Opened::kNotRegular);
  }
  *opened = file;
  Probed probed;
  probed.how = Opened::kOpen;
  return probed;
}

// Whether another program holds the file open, so that it could not be
// replaced: Windows replaces no file another program has open, even one that
// shares deletion, and Wine none that any of its programs has open. An open
// that shares nothing is refused while another program has the file open to
// read, write or delete it, on both; an open for deletion that shares all is
// granted beside a holder that shares deletion, and so tells nothing. A file
// this user may not read is left for the open that follows to refuse.
enum class Held { kNo, kYes, kUnknown };
Held HeldOpen(const std::string& path) {
  HANDLE handle = OpenHandle(path, GENERIC_READ, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseFile(handle);
    return Held::kNo;
  }
  const DWORD error = GetLastError();
  return error == ERROR_SHARING_VIOLATION ? Held::kYes : error == ERROR_ACCESS_DENIED ? Held::kNo : Held::kUnknown;
}

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
using SecurityDescriptor = std::unique_ptr<void, LocalFreer>;

// What guards a file: its owner, group and access list.
SecurityDescriptor SecurityOf(HANDLE file, PSID* owner, PACL* dacl, DWORD* error) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  *error = SecurityInfo(file, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        owner, dacl, &descriptor);
  return SecurityDescriptor(*error == ERROR_SUCCESS ? descriptor : nullptr);
}

// The entries of an access list that apply to the file itself, each with
// its type, rights and whom they concern; the denied kind has the allowed
// kind's shape.
template <typename Visit>
void ForEachEntry(const ACL* acl, Visit visit) {
  for (WORD i = 0; i < acl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(const_cast<ACL*>(acl), i, reinterpret_cast<void**>(&header)) ||
        (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    visit(header->AceType, ace->Mask, reinterpret_cast<PSID>(&ace->SidStart));
  }
}

// Wine keeps no access lists. It turns the list a file is given into Unix
// permission bits by a rule of its own, and reads the bits back as a list:
// rights given to the program's own user go to the file's owner and group
// alike, rights given to the descriptor's owner where that is someone else
// to the owner alone, rights given to Everyone to all three, and execute
// goes with every right to read. The data file's own list, given as it
// reads, would open a file only its owner may use (600) to its group too
// (750); neither can a list show what the group had.
//
// So under Wine the working file is described as SYSTEM's, with the owner's
// rights given to SYSTEM and no right to execute: Wine then gives its owner
// the owner's rights alone and everybody Everyone's, 600 stays 600 and 644
// stays 644, and a group that had more than everybody (640) gets no more
// than everybody (600). Wine makes nobody but the Unix user a file's owner,
// so it reads back as the data file's.
class WineGuard {
 public:
  WineGuard() = default;
  WineGuard(const WineGuard&) = delete;
  WineGuard& operator=(const WineGuard&) = delete;

  // Made from the data file's owner and list; false with the system's
  // reason set.
  bool Make(PSID owner, const ACL* model) {
    DWORD size = sizeof system_;
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &size) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&descriptor_, system_, FALSE)) {
      return false;
    }
    if (model == nullptr) return SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE) != FALSE;
    list_.assign(sizeof(ACL) + model->AceCount * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE), 0);
    PACL list = reinterpret_cast<PACL>(list_.data());
    if (!InitializeAcl(list, static_cast<DWORD>(list_.size()), ACL_REVISION)) return false;
    GENERIC_MAPPING file_rights = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    bool made = true;
    ForEachEntry(model, [&](BYTE type, ACCESS_MASK mask, PSID sid) {
      // Wine lets SYSTEM do anything, whatever the list says.
      if (!made || EqualSid(sid, system_)) return;
      PSID whom = owner != nullptr && EqualSid(sid, owner) ? static_cast<PSID>(system_) : sid;
      MapGenericMask(&mask, &file_rights);
      if (type == ACCESS_ALLOWED_ACE_TYPE) {
        made = AddAccessAllowedAce(list, ACL_REVISION, mask & ~FILE_EXECUTE, whom) != FALSE;
      } else if (type == ACCESS_DENIED_ACE_TYPE) {
        made = AddAccessDeniedAce(list, ACL_REVISION, mask, whom) != FALSE;
      }
    });
    return made && SetSecurityDescriptorDacl(&descriptor_, TRUE, list, FALSE) != FALSE;
  }

  SECURITY_DESCRIPTOR* descriptor() { return &descriptor_; }

 private:
  SECURITY_DESCRIPTOR descriptor_ = {};
  BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  std::vector<BYTE> list_;
};

// The path the system resolves an open file or folder to, every link
// followed; empty, with the system's reason set, when it cannot. Wine gives
// no final path beyond MAX_PATH characters (ERROR_MORE_DATA, whatever the
// room): there the name the object is known by serves, which Wine resolves
// the same way, in a form of its own.
std::wstring ResolvedPath(HANDLE handle, bool by_object_name) {
  if (by_object_name) {
    std::vector<ULONGLONG> buffer((sizeof(UNICODE_STRING) + 65536 * sizeof(wchar_t)) / sizeof(ULONGLONG));
    if (!ObjectName(handle, buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG)))) {
      return std::wstring();
    }
    const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
    return std::wstring(name->Buffer, name->Length / sizeof(wchar_t));
  }
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = FinalPath(handle, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    const bool whole = length < path.size();
    path.resize(length);  // too small: the size it needs, with the closing null
    if (whole) return path;
  }
}

// A name as Windows takes it without the \\?\ prefix: without its trailing
// full stops and spaces.
std::wstring WithoutTrailingDotsAndSpaces(std::wstring name) {
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  return name;
}

// The stamp of what an exact or resolved path names now; an empty stamp
// when nothing.
FileStamp StampAtExact(const std::wstring& path) {
  HANDLE handle = win32::Open(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (handle == INVALID_HANDLE_VALUE) return FileStamp();
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = FileInformation(handle, &info) != FALSE;
  CloseFile(handle);
  return known ? StampOf(info) : FileStamp();
}

// Whether visit says yes to an entry of folder (ending in a backslash) named
// as name but for trailing full stops and spaces, name itself among them;
// listed says whether the folder could be listed, with the system's reason
// set where not.
template <typename Visit>
bool AnyTwin(const std::wstring& folder, const std::wstring& name, Visit visit, bool* listed = nullptr) {
  const std::wstring stem = WithoutTrailingDotsAndSpaces(name);
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirst((folder + stem + L"*").c_str(), &entry);
  if (listed != nullptr) *listed = search != INVALID_HANDLE_VALUE;
  if (search == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    const std::wstring twin = entry.cFileName;
    found = twin != L"." && twin != L".." && WithoutTrailingDotsAndSpaces(twin) == stem && visit(twin);
  } while (!found && FindNextFileW(search, &entry));
  FindClose(search);
  return found;
}

// Whether name, in the folder open as folder, is the file open as file, and
// not a link to another. Wine shows a Unix symbolic link to a file as that
// file, with no mark of a link, but resolves an open file to its real path,
// as Windows does: the folder's own real path with the name must give the
// same. Folders on the way may be links (Wine's "Documents" is one): that is
// no matter. Unknown, with the system's reason set, when it cannot say.
enum class Resolved { kSame, kOther, kUnknown };
Resolved WhereNameLeads(HANDLE folder, const wchar_t* name, HANDLE file) {
  std::wstring folder_path;
  std::wstring file_path;
  for (bool by_object_name : {false, true}) {
    folder_path = ResolvedPath(folder, by_object_name);
    file_path = folder_path.empty() ? std::wstring() : ResolvedPath(file, by_object_name);
    if (!file_path.empty() || GetLastError() != ERROR_MORE_DATA) break;
  }
  if (file_path.empty()) return Resolved::kUnknown;
  if (folder_path.back() != L'\\') folder_path += L'\\';
  // The name as chosen, or as Windows itself would take it, without the
  // trailing full stops and spaces that Wine leaves out of every name it
  // resolves (\\?\Z:\a\dir. gives \\?\Z:\a\dir): the resolved path's own
  // names are never cut, or a link to "secret." would pass for "secret".
  if (file_path != folder_path + name && file_path != folder_path + WithoutTrailingDotsAndSpaces(name)) {
    return Resolved::kOther;
  }
  if (!UnderWine()) return Resolved::kSame;  // Windows resolves names exactly
  // Wine resolves "secret" and "secret." alike: a link from one to the other
  // is told only by a twin that leads to the same file, beside it or in a
  // twin of its folder ("d\secret" leading to "d.\secret"). Which of the two
  // is the link Wine does not show, so neither is used.
  BY_HANDLE_FILE_INFORMATION file_info;
  BY_HANDLE_FILE_INFORMATION folder_info;
  if (!FileInformation(file, &file_info) || !FileInformation(folder, &folder_info)) return Resolved::kUnknown;
  // What cannot be looked at is no pass, but for what is gone meanwhile or
  // hidden from this user, who could not have made a link there.
  const auto IsHidden = [](DWORD error) {
    return IsNotFound(error) || error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_NAME;
  };
  DWORD failure = ERROR_SUCCESS;
  const auto is = [&failure, &IsHidden](const std::wstring& path, const FileStamp& stamp) {
    const FileStamp there = StampAtExact(path);
    const DWORD error = there.known() ? ERROR_SUCCESS : GetLastError();
    if (!there.known() && !IsHidden(error)) failure = error;
    return failure != ERROR_SUCCESS || there.IsSameFileAs(stamp);
  };
  const FileStamp own = StampOf(file_info);
  const FileStamp own_folder = StampOf(folder_info);
  bool listed = false;
  const bool beside = AnyTwin(
      folder_path, name, [&](const std::wstring& twin) { return twin != name && is(folder_path + twin, own); },
      &listed);
  if (!listed || failure != ERROR_SUCCESS) {
    if (failure != ERROR_SUCCESS) SetLastError(failure);
    return Resolved::kUnknown;
  }
  if (beside) return Resolved::kOther;
  // Its folder's twins are looked for where its own folder may be listed:
  // refused where it may not, no file in it could be used.
  const std::size_t cut = folder_path.rfind(L'\\', folder_path.size() - 2);
  const std::wstring folder_name =
      cut == std::wstring::npos ? std::wstring() : folder_path.substr(cut + 1, folder_path.size() - cut - 2);
  if (folder_name.empty() || folder_name.back() == L':') return Resolved::kSame;  // a drive's root
  const std::wstring parent = folder_path.substr(0, cut + 1);
  const bool in_twin_folder = AnyTwin(
      parent, folder_name,
      [&](const std::wstring& twin) {
        if (is(parent + twin, own_folder)) return failure != ERROR_SUCCESS;
        const std::wstring in = parent + twin + L"\\";
        return AnyTwin(in, name, [&](const std::wstring& there) { return is(in + there, own); });
      },
      &listed);
  if (!listed && !IsHidden(GetLastError())) failure = GetLastError();
  if (failure != ERROR_SUCCESS) {
    SetLastError(failure);
    return Resolved::kUnknown;
  }
  return in_twin_folder ? Resolved::kOther : Resolved::kSame;
}

}  // namespace

bool GrantsNoMoreThan(const ACL* list, const ACL* model) {
  if (model == nullptr) return true;
  if (list == nullptr) return false;
  const auto rights = [](const ACL* acl, BYTE type, PSID sid) {
    ACCESS_MASK rights = 0;
    ForEachEntry(acl, [&](BYTE entry_type, ACCESS_MASK mask, PSID whom) {
      if (entry_type == type && EqualSid(whom, sid)) rights |= mask;
    });
    return rights;
  };
  bool no_more = true;
  for (const ACL* acl : {list, model}) {
    ForEachEntry(acl, [&](BYTE type, ACCESS_MASK, PSID sid) {
      if (type == ACCESS_ALLOWED_ACE_TYPE &&
          (rights(list, ACCESS_ALLOWED_ACE_TYPE, sid) & ~rights(model, ACCESS_ALLOWED_ACE_TYPE, sid)) != 0) {
        no_more = false;
      }
      if (type == ACCESS_DENIED_ACE_TYPE &&
          (rights(model, ACCESS_DENIED_ACE_TYPE, sid) & ~rights(list, ACCESS_DENIED_ACE_TYPE, sid)) != 0) {
        no_more = false;
      }
    });
  }
  return no_more;
}

namespace handles {

std::int64_t WriteSome(std::intptr_t handle, const void* buffer, std::size_t size) {
  DWORD written = 0;
  const DWORD want = size > kLargestTransfer ? kLargestTransfer : static_cast<DWORD>(size);
  if (!win32::Write(Handle(handle), buffer, want, &written)) return -1;
  if (written == 0) {
    SetLastError(ERROR_WRITE_FAULT);  // no room, yet no error: say so rather than loop
    return -1;
  }
  return written;
}

}  // namespace handles

Error LastError() { return ErrorOf(GetLastError()); }
bool HasNoEnd(const Error&) { return false; }
std::string LastErrorText() { return LastError().text; }

Probed Probe(const std::string& path) {
  InputFile file;
  return file.Open(path);
}

Folder::~Folder() {}

bool Folder::OpenFolderOf(const std::string& path) {
  path_ = FolderPart(path);
  return true;
}

Looked Folder::Look(const std::string& name, FileFacts* facts, Error* error) const {
  BY_HANDLE_FILE_INFORMATION info;
  if (!Identify(path_ + name, &info)) {
    const DWORD code = GetLastError();
    *error = ErrorOf(code);
    return IsNotFound(code) ? Looked::kNothing : Looked::kFailed;
  }
  *facts = FactsOf(info);
  return Looked::kFound;
}

// A read-only disk or a file whose permissions forbid writing refuses an
// open for writing with access denied. Windows checks access before sharing:
// a sharing violation (this run holds the file open for reading) means the
// access was granted.
WriteRight Folder::MayWrite(const std::string& name, const FileFacts&, Error* error) const {
  HANDLE handle = OpenHandle(path_ + name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseFile(handle);
    return WriteRight::kMay;
  }
  const DWORD code = GetLastError();
  if (code == ERROR_SHARING_VIOLATION) return WriteRight::kMay;
  *error = ErrorOf(code);
  return code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT ? WriteRight::kMayNot : WriteRight::kUnknown;
}

// Another run's working file: it shares no writing.
Folder::Writing Folder::IsBeingWritten(const std::string& name) const {
  HANDLE other = OpenHandle(path_ + name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  const DWORD error = other == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  if (other != INVALID_HANDLE_VALUE) CloseFile(other);
  if (error == ERROR_FILE_NOT_FOUND) return Writing::kGone;
  return error == ERROR_SHARING_VIOLATION ? Writing::kYes : Writing::kNo;
}

// Windows disks keep one number for a file however its name is spelled.
bool Folder::LookAtDisk() { return true; }

bool Folder::Flush() const { return true; }  // MOVEFILE_WRITE_THROUGH flushes the move itself

std::int64_t Folder::AvailableBytes() const { return -1; }

Probed InputFile::Take(std::intptr_t handle, bool, const FileFacts*) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!FileInformation(Handle(handle), &info)) {
    const DWORD error = GetLastError();
    CloseFile(Handle(handle));
    return Refused(Opened::kFailed, error);
  }
  handle_ = handle;
  facts_ = FactsOf(info);
  Probed probed;
  probed.how = Opened::kOpen;
  return probed;
}

Probed InputFile::Open(const std::string& path) {
  Close();
  HANDLE file = INVALID_HANDLE_VALUE;
  const Probed probed = OpenForReading(path, &file);
  return probed.ok() ? Take(Store(file), false) : probed;
}

Probed InputFile::OpenStream(const std::string& path) { return Open(path); }

Probed InputFile::OpenIn(const Folder& folder, const std::string& name) {
  const std::string path = folder.path_ + name;
  // A symbolic link or junction as the path's last part: a replacement would
  // put the result in place of the link and leave the file it names as it was.
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirst(ExactPath(path).c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return Refused(IsNotFound(error) ? Opened::kNotFound : Opened::kFailed, error);
  }
  FindClose(search);
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      (entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK || entry.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT)) {
    return Refused(Opened::kLink);
  }
  // A file held open elsewhere could not be replaced at the end: said now,
  // not after the whole run.
  switch (HeldOpen(path)) {
    case Held::kYes:
      return Refused(Opened::kInUse);
    case Held::kUnknown:
      return Refused(Opened::kFailed, GetLastError());
    case Held::kNo:
      break;
  }
  const Probed opened = Open(path);
  if (!opened.ok()) return opened;
  HANDLE folder_handle = OpenHandle(folder.path_.empty() ? "." : folder.path_, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS);
  const Resolved resolved = folder_handle == INVALID_HANDLE_VALUE
                                ? Resolved::kUnknown
                                : WhereNameLeads(folder_handle, entry.cFileName, Handle(handle_));
  const DWORD error = GetLastError();
  if (folder_handle != INVALID_HANDLE_VALUE) CloseFile(folder_handle);
  switch (resolved) {
    case Resolved::kSame:
      return opened;
    case Resolved::kOther:
      Close();
      return Refused(Opened::kLink);
    case Resolved::kUnknown:
      // A disk that resolves no paths (some network ones) marks its links as
      // reparse points, which were looked for above.
      if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED) return opened;
      Close();
      return Refused(IsNotFound(error) ? Opened::kNotFound : Opened::kFailed, error);
  }
  return opened;
}

void InputFile::UseStandardInput() {
  Close();
  handle_ = Store(GetStdHandle(STD_INPUT_HANDLE));
  owned_ = false;
}

void InputFile::Close() {
  if (handle_ != -1 && owned_) CloseFile(Handle(handle_));
  handle_ = -1;
  owned_ = true;
  facts_ = FileFacts();
}

std::int64_t InputFile::Read(void* buffer, std::size_t size) {
  DWORD got = 0;
  const DWORD want = size > kLargestTransfer ? kLargestTransfer : static_cast<DWORD>(size);
  if (!win32::Read(Handle(handle_), buffer, want, &got, nullptr)) return -1;
  return got;
}

// The handle's own position moves with it: a file read this way is read
// only this way.
std::int64_t InputFile::ReadAt(void* buffer, std::size_t size, std::int64_t position) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(position) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(position) >> 32);
  DWORD got = 0;
  const DWORD want = size > kLargestTransfer ? kLargestTransfer : static_cast<DWORD>(size);
  if (!win32::Read(Handle(handle_), buffer, want, &got, &at)) return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  return got;
}

FileStamp InputFile::Stamp() const {
  BY_HANDLE_FILE_INFORMATION info;
  return FileInformation(Handle(handle_), &info) ? StampOf(info) : FileStamp();
}

// Nobody else may write it while it is open here.
bool InputFile::WrittenElsewhereSince() const { return false; }

namespace {

// The new files of this program, for RemoveUnfinishedFiles: one thread makes
// them, the one that runs the window.
std::vector<NewFile*>& NewFiles() {
  static std::vector<NewFile*> files;
  return files;
}

}  // namespace

NewFile::NewFile(const Folder& folder) : folder_(folder) { NewFiles().push_back(this); }

NewFile::~NewFile() {
  NewFiles().erase(std::find(NewFiles().begin(), NewFiles().end(), this));
  Error ignored;
  if (!keep_ && !path_.empty()) Remove(&ignored);
  Close();
}

void RemoveUnfinishedFiles() {
  for (NewFile* file : NewFiles()) {
    Error ignored;
    if (!file->keep_) file->Remove(&ignored);
  }
}

NewFile::Created NewFile::Create(const std::string& path) { return CreateWith(path, nullptr); }

NewFile::Created NewFile::CreateWith(const std::string& path, const void* security) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, const_cast<void*>(security), FALSE};
  // Under Wine the file is guarded once more when it is finished, through
  // this handle: Wine widens its permission bits as it takes attributes.
  const DWORD guarding = security != nullptr && UnderWine() ? WRITE_DAC | WRITE_OWNER : 0;
  // Others may read it, but not write, rename or delete it while it is open.
  HANDLE handle = OpenHandle(path, GENERIC_WRITE | READ_CONTROL | guarding, FILE_SHARE_READ, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, security != nullptr ? &attributes : nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return Created::kFailed;
    const Folder::Writing writing = folder_.IsBeingWritten(NamePart(path));
    const bool in_use = writing == Folder::Writing::kYes || writing == Folder::Writing::kGone;
    SetLastError(error);
    return in_use ? Created::kInUse : Created::kAlreadyExists;
  }
  handle_ = Store(handle);
  path_ = path;
  BY_HANDLE_FILE_INFORMATION info;
  if (!FileInformation(handle, &info)) {
    // Not known as ours yet, but made by us a moment ago, and nobody else
    // could open it since: it must not stay in the way of later runs.
    const DWORD error = GetLastError();
    Close();
    RemoveFile(ExactPath(path).c_str());
    path_.clear();
    SetLastError(error);
    return Created::kFailed;
  }
  created_ = FactsOf(info);
  return Created::kNew;
}

bool NewFile::Write(const void* buffer, std::size_t size) {
  if (!handles::WriteAll(handle_, buffer, size)) return false;
  written_ += static_cast<std::int64_t>(size);
  // Flushed as it goes, so the flush at the end is short: the window answers
  // between blocks, not during one long flush.
  const std::int64_t kFlushEvery = 32 << 20;
  if (written_ - started_writeback_ >= kFlushEvery) {
    if (!Flush(Handle(handle_))) return false;
    started_writeback_ = written_;
  }
  return true;
}

// A new file gets its folder's permissions; keys are made on POSIX.
NewFile::Privacy NewFile::MakePrivate() { return Privacy::kPrivate; }

bool NewFile::FlushAndClose() {
  const bool flushed = Flush(Handle(handle_)) != FALSE;
  const DWORD error = GetLastError();
  const bool closed = Close();
  if (!flushed) SetLastError(error);
  return flushed && closed;
}

const FileFacts* NewFile::Identity() { return created_.stamp.known() ? &created_ : nullptr; }

bool NewFile::IsStillAtItsPath() const { return StampAt(path_).IsSameFileAs(created_.stamp); }

NewFile::Removed NewFile::Remove(Error* error) {
  Close();
  if (path_.empty()) return Removed::kGone;
  // Only this run's own file: another run may have put its own at this path.
  const bool ours = IsStillAtItsPath();
  const std::wstring path = ExactPath(path_);
  path_.clear();  // once, whatever comes of it
  if (!ours) return Removed::kGone;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (RemoveFile(path.c_str())) return Removed::kRemoved;
  *error = LastError();
  return Removed::kFailed;
}

bool NewFile::Close() {
  if (handle_ == -1) return true;
  const bool closed = CloseFile(Handle(handle_)) != FALSE;
  handle_ = -1;
  if (TheWin32Seam().closed) TheWin32Seam().closed(path_);
  return closed;
}

NewFile::Created WorkingFile::Create(const std::string& path, const InputFile& data) {
  // The data file's own owner, group and access list from the start, never
  // the folder's defaults, which may let more people in; its owner only
  // where this user may give it.
  PSID owner = nullptr;
  PACL dacl = nullptr;
  DWORD error = ERROR_SUCCESS;
  const SecurityDescriptor guard = SecurityOf(Handle(data.handle_), &owner, &dacl, &error);
  if (!guard) {
    SetLastError(error);
    return Created::kFailed;
  }
  if (UnderWine()) {
    WineGuard wine;
    return wine.Make(owner, dacl) ? CreateWith(path, wine.descriptor()) : Created::kFailed;
  }
  Created created = CreateWith(path, guard.get());
  if (created == Created::kFailed && GetLastError() == ERROR_INVALID_OWNER) {
    SECURITY_DESCRIPTOR without_owner;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(guard.get(), &control, &revision) ||
        !InitializeSecurityDescriptor(&without_owner, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&without_owner, TRUE, dacl, FALSE) ||
        !SetSecurityDescriptorControl(&without_owner, SE_DACL_PROTECTED, control & SE_DACL_PROTECTED)) {
      return Created::kFailed;
    }
    created = CreateWith(path, &without_owner);
  }
  return created;
}

WorkingFile::Finished WorkingFile::Finish(const InputFile& data, const std::function<bool()>& noted) {
  Finished finished;
  // The attributes that hide or mark the file go with it; read-only would
  // keep the file from being replaced at all.
  const DWORD kKept =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (!SetAttributes(ExactPath(path_).c_str(), (data.facts().mode & kKept) | FILE_ATTRIBUTE_NORMAL)) {
    finished.error = LastError();
    return finished;
  }
  PSID model_owner = nullptr;
  PSID own_owner = nullptr;
  PACL model_list = nullptr;
  PACL own_list = nullptr;
  DWORD error = ERROR_SUCCESS;
  const SecurityDescriptor model_guard = SecurityOf(Handle(data.handle_), &model_owner, &model_list, &error);
  if (model_guard && UnderWine()) {
    // Wine gives write permission wherever there is read permission when a
    // file takes attributes: its permission bits are set again from the data
    // file's, now exactly (Create's went through the umask).
    WineGuard wine;
    if (!wine.Make(model_owner, model_list) ||
        !SetSecurity(Handle(handle_), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, wine.descriptor())) {
      finished.result = Finished::kGuardNotKept;
      finished.attribute = "permissions";
      finished.error = LastError();
      return finished;
    }
  }
  // Never wider than the data file, however the system took what it was
  // given.
  const SecurityDescriptor own_guard =
      model_guard ? SecurityOf(Handle(handle_), &own_owner, &own_list, &error) : nullptr;
  // The owner Create gave it, where this user could give the data file's; a
  // disk that keeps no owners (FAT) has none to lose.
  keeps_owner_ = model_owner == nullptr || own_owner == nullptr || EqualSid(model_owner, own_owner);
  if (!own_guard || !GrantsNoMoreThan(own_list, model_list)) {
    finished.result = Finished::kGuardNotKept;
    finished.attribute = "access list";
    finished.error = ErrorOf(own_guard ? ERROR_ACCESS_DENIED : error);
    return finished;
  }
  BY_HANDLE_FILE_INFORMATION self;
  if (!Flush(Handle(handle_)) || !FileInformation(Handle(handle_), &self)) {
    finished.error = LastError();
    return finished;
  }
  // Stays open, so that nobody else may write it, until just before it
  // replaces the data file.
  finished_ = StampOf(self);
  if (noted && !noted()) {
    finished.result = Finished::kRefused;
    return finished;
  }
  finished.result = Finished::kDone;
  finished.length = finished_.size;
  return finished;
}

bool WorkingFile::KeepsOwnerOf(const InputFile&) const { return keeps_owner_; }

bool WorkingFile::IsAsFinished() {
  Close();
  // Its write time may still change as the handle closes: the same file
  // with the same length is the file Finish left.
  const FileStamp now = StampAt(path_);
  return now.IsSameFileAs(finished_) && now.size == finished_.size;
}

WorkingFile::Renamed WorkingFile::RenameOver(const std::string& data_path, InputFile& data, Error* error) {
  Close();
  data.Close();
  // Through to the disk before the call returns, as the flush of the folder
  // does on POSIX.
  const auto move = TheWin32Seam().move ? TheWin32Seam().move : MoveFileExW;
  if (Refused(SystemCall::kRename) ||
      !move(ExactPath(path_).c_str(), ExactPath(data_path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    *error = ErrorOf(code);
    const bool in_use = code == ERROR_SHARING_VIOLATION || (code == ERROR_ACCESS_DENIED && HeldOpen(data_path) == Held::kYes);
    return in_use ? Renamed::kInUse : Renamed::kFailed;
  }
  keep_ = true;  // it is the data file now
  return Renamed::kDone;
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

bool MakeReadOnly(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return SetAttributes(ExactPath(path).c_str(), attributes | FILE_ATTRIBUTE_READONLY) != FALSE;
}

bool IsReadOnly(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Every spelling Windows accepts (case, short names, slashes, another drive
// letter for the same folder) leads to one volume and one file index; but
// under Wine a FUSE disk (exFAT) gives each spelling a number of its own,
// which the engine's looks-like rule catches (FileStamp::LooksLike).
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
