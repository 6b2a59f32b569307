// One file under two spellings. On most disks every spelling of a file's path
// leads to one file number. A disk that folds the case of names through FUSE
// (exFAT, and FAT or NTFS the same way) gives each spelling a number of its
// own, and keeps the size and times it last saw under each for a while, so
// there a file is known by its path as the folders list it, every part
// found as the disk compares names: letter by letter in upper case.

#include <dirent.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <wctype.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "cipher/path_split.h"
#include "cipher/utf16.h"
#include "os/file_system.h"

namespace os {
namespace {

constexpr long kFuseMagic = 0x65735546;

// The name as a disk that folds case sees it. Such disks map the letters of
// Unicode's first plane only.
std::u32string Folded(const std::string& name) {
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  std::u32string folded;
  for (std::size_t i = 0; i < name.size();) {
    char32_t character = NextCharacter(name, &i);
    if (character < 0x80) {
      if (character >= 'a' && character <= 'z') character -= 'a' - 'A';
    } else if (character <= 0xFFFF && unicode != nullptr) {
      character = static_cast<char32_t>(towupper_l(static_cast<wint_t>(character), unicode));
    }
    folded += character;
  }
  return folded;
}

// How folder lists name: the same spelling, else the one that folds to it;
// empty when neither is listed (errno says why, where the listing failed).
std::string ListedName(const std::string& folder, const std::string& name) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return "";
  std::string found;
  const std::u32string wanted = Folded(name);
  while (const dirent* entry = readdir(listing)) {
    if (name == entry->d_name) {
      found = name;
      break;
    }
    if (found.empty() && Folded(entry->d_name) == wanted) found = entry->d_name;
  }
  closedir(listing);
  if (found.empty()) errno = ENOENT;
  return found;
}

// An absolute path without links, each part spelled as its folder lists it;
// empty when a part cannot be found.
std::string Listed(const std::string& absolute) {
  const std::string name = NamePart(absolute);
  if (name.empty()) return absolute;  // the root
  std::string folder = FolderPart(absolute);
  if (folder.size() > 1) folder.pop_back();
  const std::string listed_folder = Listed(folder);
  if (listed_folder.empty()) return "";
  const std::string listed_name = ListedName(listed_folder, name);
  if (listed_name.empty()) return "";
  return (listed_folder == "/" ? "/" : listed_folder + "/") + listed_name;
}

}  // namespace

Keyed KeyOf(const std::string& path, FileKey* key, Error* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Keyed::kNothing;
    *error = LastError();
    return Keyed::kFailed;
  }
  key->volume = st.st_dev;
  key->index = st.st_ino;
  key->listed.clear();
  struct statfs disk;
  if (statfs(path.c_str(), &disk) != 0) {
    *error = LastError();
    return Keyed::kFailed;
  }
  if (disk.f_type != kFuseMagic) return Keyed::kKeyed;
  char* real = realpath(path.c_str(), nullptr);
  if (real != nullptr) {
    key->listed = Listed(real);
    std::free(real);
  }
  if (key->listed.empty()) {
    *error = LastError();
    return Keyed::kFailed;
  }
  return Keyed::kKeyed;
}

}  // namespace os
